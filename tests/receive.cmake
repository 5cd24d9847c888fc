velkador_test(test_scope SOURCES test_scope.cpp)
if(TARGET velkador_cwgen)
  velkador_test(test_receive SOURCES test_receive.cpp LIBS velkador_cwgen TIMEOUT 300)
endif()
# A day of audio through the window's receive loop: a benchmark, run by hand
# under xvfb-run (build/tests/bench_day --hours 24).
if(TARGET velkador_cwgen AND VELKADOR_BENCHMARKS)
  add_executable(bench_day bench_day.cpp)
  target_link_libraries(bench_day PRIVATE velkador_core velkador_test_support velkador_cwgen GTest::gtest)
endif()
