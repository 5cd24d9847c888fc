# Tone detector, Morse decoder, speed tracking and the CW generator.
velkador_test(test_morse SOURCES test_morse.cpp)
velkador_test(test_speed SOURCES test_speed.cpp LIBS velkador_test_rx velkador_cwgen TIMEOUT 300)
velkador_benchmark(bench_decoder SOURCES bench_decoder.cpp LIBS velkador_test_rx velkador_cwgen GTest::gtest)
velkador_test(test_detector SOURCES test_detector.cpp LIBS velkador_test_rx velkador_cwgen)
velkador_test(test_cwgen SOURCES test_cwgen.cpp LIBS velkador_cwgen)
add_dependencies(test_cwgen velkador-cwgen)
velkador_test(test_morse_rx SOURCES test_morse_rx.cpp LIBS velkador_test_rx velkador_cwgen TIMEOUT 600)
velkador_test(test_detector_alloc SOURCES test_detector_alloc.cpp alloc_count.cpp LIBS velkador_test_rx velkador_cwgen)
