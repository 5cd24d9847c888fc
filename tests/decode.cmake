# velkador-decode: the tool as a process on generated recordings, its
# accuracy table, and one recording through both the tool and the window.
velkador_test(test_decode SOURCES test_decode.cpp
              LIBS velkador_test_rx velkador_cwgen PkgConfig::SNDFILE TIMEOUT 600)
add_dependencies(test_decode velkador-decode velkador-cer)
velkador_test(test_decode_window SOURCES test_decode_window.cpp LIBS velkador_cwgen TIMEOUT 300)
add_dependencies(test_decode_window velkador-decode)
velkador_benchmark(bench_decode SOURCES bench_decode.cpp LIBS velkador_cwgen PkgConfig::SNDFILE)
if(TARGET bench_decode)
  add_dependencies(bench_decode velkador-decode)
endif()
# The adaptive decoder's latency, through its own interface; run by hand.
if(VELKADOR_BENCHMARKS)
  add_executable(bench_latency bench_latency.cpp)
  target_link_libraries(bench_latency PRIVATE velkador_core velkador_cwgen)
endif()
