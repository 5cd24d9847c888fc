// Speed of the transform and of whole waterfall lines against the real-time
// need: at 48000 Hz and decimate 15 a 511 px waterfall needs 3.125 lines/s.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "core/shared.h"
#include "display/fft.h"
#include "display/waterfall.h"

namespace {

void Fill_Noise(int16_t *data, int length)
{
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> sample(-8000, 8000);
    for (int i = 0; i < length; i++)
        data[i] = static_cast<int16_t>(sample(gen));
}

void BM_IFFT_Real(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    if (!Initialize_IFFT(static_cast<int16_t>(n))) {
        state.SkipWithError("set-up failed");
        return;
    }
    int16_t *input = new int16_t[2 * n];
    Fill_Noise(input, 2 * n);
    for (auto _ : state) {
        std::copy(input, input + 2 * n, ifft_data);
        IFFT_Real(ifft_data);
        benchmark::DoNotOptimize(ifft_data[2]);
    }
    delete[] input;
    state.counters["transforms/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_IFFT_Real)->Arg(512)->Arg(1024);

// One line: transform, levels and colours, scroll of a 511 x 160 image.
void BM_Waterfall_Line(benchmark::State &state)
{
    if (!Waterfall_Configure_Event(511, 160)) {
        state.SkipWithError("configure failed");
        return;
    }
    int16_t *input = new int16_t[ifft_data_length];
    Fill_Noise(input, ifft_data_length);
    for (auto _ : state) {
        std::copy(input, input + ifft_data_length, ifft_data);
        Display_Waterfall();
        benchmark::DoNotOptimize(bin_ave[255]);
    }
    delete[] input;
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
    state.counters["need_lines/s"] = 48000.0 / (1024.0 * 15.0);
}
BENCHMARK(BM_Waterfall_Line);

// Whole intake path: 15360 samples averaged, stored, one line drawn.
void BM_Waterfall_Intake_Line(benchmark::State &state)
{
    rc_data.ifft_decimate = 15;
    if (!Waterfall_Configure_Event(511, 160)) {
        state.SkipWithError("configure failed");
        return;
    }
    const int line_samples = 1024 * 15;
    int16_t *audio = new int16_t[line_samples];
    for (int t = 0; t < line_samples; t++)
        audio[t] = static_cast<int16_t>(10000.0 * sin(2.0 * M_PI * 800.0 * t / 48000.0));
    for (auto _ : state)
        for (int t = 0; t < line_samples; t++)
            IFFT_Data(audio[t]);
    delete[] audio;
    state.counters["lines/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Waterfall_Intake_Line);

}  // namespace

BENCHMARK_MAIN();
