# Start-up, shared helpers, the error dialog and the install: in-process GTK
# tests, and process tests that run the real program and a staged install.

velkador_test(test_helpers SOURCES test_helpers.cpp)
velkador_test(test_error_dialog SOURCES test_error_dialog.cpp)
velkador_test(test_startup_window SOURCES test_startup_window.cpp)

# Process tests: the built program, and `cmake --install` of this build tree
# into temporary prefixes.
velkador_test(test_startup SOURCES test_startup.cpp TIMEOUT 180)
velkador_test(test_install SOURCES test_install.cpp)
foreach(t test_startup test_install)
  target_compile_definitions(${t} PRIVATE
    VELKADOR_PROGRAM="$<TARGET_FILE:velkador>"
    VELKADOR_CMAKE_COMMAND="${CMAKE_COMMAND}")
  add_dependencies(${t} velkador)
  add_dependencies(${t} translations desktop_files)
endforeach()
