// tests/bench_decoder.cpp - cost of the tone detector and decoder through the
// real capture path, in seconds of audio decoded per CPU-second, at 6, 20
// and 60 WPM (the filter window grows with the unit). With --snr-scan it
// instead finds the weakest signal that still decodes a QSO without error.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/shared.h"
#include "cwgen.h"
#include "test_morse_rx.h"

namespace {

const char *const QSO =
    "DL2XYZ DE G4ABC R GM HANS TNX FER CALL UR RST 599 5NN NAME JOHN QTH LONDON "
    "WX CLOUDY 12C RIG FT101 ANT DIPOLE HW? DL2XYZ DE G4ABC KN";

std::vector<int16_t> Qso_Audio(double wpm, double seconds, bool noise, double snr_db, uint64_t seed,
                               double level = 0.5)
{
    Cw_Params p;
    p.level = level;
    p.wpm = wpm;
    p.noise = noise;
    p.snr_db = snr_db;
    p.seed = seed;
    std::string text = QSO;
    std::vector<int16_t> audio;
    std::string error;
    do {
        if (!Cw_Generate(p, text, audio, error)) {
            fprintf(stderr, "bench_decoder: %s\n", error.c_str());
            return {};
        }
        text += std::string(" ") + QSO;
    } while (static_cast<double>(audio.size()) / 2 / p.rate < seconds);
    return audio;
}

void BM_Decode(benchmark::State &state)
{
    const int wpm = static_cast<int>(state.range(0));
    std::vector<int16_t> audio = Qso_Audio(wpm, 30.0, false, 0.0, 1);
    Rx_Setup setup;
    setup.wpm = wpm;
    double audio_s = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        int64_t count = Start_Rx(audio, setup);
        state.ResumeTiming();
        Rx_Result r = Run_Rx(count);
        state.PauseTiming();
        Stop_Rx();
        audio_s += static_cast<double>(r.fragments) * 2.0 / setup.tone_freq;
        state.ResumeTiming();
    }
    state.counters["audio_s_per_cpu_s"] = benchmark::Counter(audio_s, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Decode)->Arg(6)->Arg(20)->Arg(60)->Unit(benchmark::kMillisecond)->Iterations(3);

// For each SNR (2500 Hz bandwidth), from 20 dB down, how many of several
// noise seeds decode a QSO without error, at the given squelch, ratio, tone
// level (fraction of full scale) and speed; stops at the first SNR with none.
int Snr_Scan(int squelch, double ratio, double level, int wpm)
{
    const int seeds = 6;
    printf("squelch %d ratio %.2f level %.3f wpm %d:\n", squelch, ratio, level, wpm);
    for (int snr = 20; snr >= -10; snr--) {
        int clean = 0;
        for (int seed = 1; seed <= seeds; seed++) {
            std::vector<int16_t> audio = Qso_Audio(wpm, 0.0, true, snr, static_cast<uint64_t>(seed), level);
            Rx_Setup setup;
            setup.wpm = wpm;
            setup.squelch = squelch;
            setup.ratio = ratio;
            Rx_Result r = Decode_Stereo(audio, setup);
            bool ok = Normalised(r.text) == QSO;
            clean += ok ? 1 : 0;
            if (!ok && getenv("SNR_SCAN_SHOW") != nullptr)
                printf("    seed %d: %s\n", seed, Normalised(r.text).c_str());
        }
        printf("  %3d dB: %d/%d clean\n", snr, clean, seeds);
        fflush(stdout);
        if (clean == 0)
            break;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--snr-scan") == 0) {
        if (argc != 6) {
            fprintf(stderr, "usage: bench_decoder --snr-scan SQUELCH RATIO LEVEL WPM\n");
            return 2;
        }
        return Snr_Scan(atoi(argv[2]), atof(argv[3]), atof(argv[4]), atoi(argv[5]));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
