# velkador-decode: the receiver's decoder for recordings and pipes (its
# manual page is installed with the others from data/man).
add_executable(velkador-decode ${CMAKE_CURRENT_LIST_DIR}/decode_main.cpp)
target_link_libraries(velkador-decode PRIVATE velkador_core)
install(TARGETS velkador-decode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
