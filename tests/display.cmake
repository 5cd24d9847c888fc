# Displays: the fixed-point FFT and the waterfall.
velkador_test(test_fft SOURCES test_fft.cpp)
velkador_test(test_waterfall SOURCES test_waterfall.cpp)
velkador_test(test_waterfall_picture SOURCES test_waterfall_picture.cpp alloc_count.cpp)
velkador_benchmark(bench_fft SOURCES bench_fft.cpp)
