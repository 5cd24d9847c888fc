// Timing of CAT exchanges.
#include <benchmark/benchmark.h>
BENCHMARK_MAIN();
