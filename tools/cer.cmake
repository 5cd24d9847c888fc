# velkador-cer: the decoding accuracy table over SNR, speed and jitter. Built
# beside velkador-decode, which it runs; not installed.
add_executable(velkador-cer ${CMAKE_CURRENT_LIST_DIR}/cer_main.cpp)
target_link_libraries(velkador-cer PRIVATE velkador_cwgen)
add_dependencies(velkador-cer velkador-decode)
