# The CW signal generator: a library (used in-process by the tests) and the
# command-line tool.
add_library(velkador_cwgen STATIC ${CMAKE_CURRENT_LIST_DIR}/cwgen.cpp)
target_include_directories(velkador_cwgen PUBLIC ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(velkador_cwgen PUBLIC m)

add_executable(velkador-cwgen ${CMAKE_CURRENT_LIST_DIR}/cwgen_main.cpp)
target_link_libraries(velkador-cwgen PRIVATE velkador_cwgen)
install(TARGETS velkador-cwgen RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
