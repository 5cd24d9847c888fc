# velkador-decode: the receiver's decoder for recordings and pipes, and its
# manual page.
add_executable(velkador-decode ${CMAKE_CURRENT_LIST_DIR}/decode_main.cpp)
target_link_libraries(velkador-decode PRIVATE velkador_core)
install(TARGETS velkador-decode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/man/velkador-decode.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
