// tests/bench_sound.cpp - samples handed out per second by the intake, reading
// real ALSA capture devices: the file plug-in over the null slave (a raw file
// of noise, then the plug-in's silence) and the generated test capture. The
// null slave does not pace time, so this is the intake's own cost: one block
// read per 512 samples plus the per-sample hand-out.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "core/shared.h"
#include "sound/capture.h"
#include "sound/intake.h"
#include "support/alsa_env.h"

namespace {

bool Open_For_Bench(const std::string &device, int dsp_rate)
{
    Strlcpy(rc_data.snd_card, device.c_str(), sizeof(rc_data.snd_card));
    rc_data.snd_mode = MODE_PLAYBACK;
    rc_data.dsp_rate = dsp_rate;
    rc_data.use_chnl = 0;
    char mesg[128] = "";
    int error = 0;
    if (!Setup_Sound_Card(mesg, &error))
        return false;
    if (samples_buffer.data == nullptr &&
        !mem_alloc(&samples_buffer.data, SAMPLES_BUFFER_LEN * sizeof(int16_t)))
        return false;
    samples_buffer.index = SAMPLES_BUFFER_LEN;
    samples_buffer.length = SAMPLES_BUFFER_LEN;
    return true;
}

void Run_Intake(benchmark::State &state)
{
    int64_t sum = 0;
    for (auto _ : state) {
        int16_t s = 0;
        if (!Signal_Sample(&s)) {
            state.SkipWithError("the intake stopped");
            break;
        }
        sum += s;
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
    Close_PCM_Handle();
}

void BM_Intake_File_Device(benchmark::State &state)
{
    std::string dir = Make_Scratch_Dir("bench");
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> noise(-32768, 32767);
    std::vector<int16_t> values(2 * 48000);
    for (int16_t &v : values)
        v = static_cast<int16_t>(noise(rng));
    Write_Raw_Samples(dir + "/in.raw", values);
    Alsa_Test_Env env = Make_Alsa_Test_Env(dir + "/in.raw");
    if (!Open_For_Bench(env.device, 48000)) {
        state.SkipWithError("cannot open the file device");
        return;
    }
    Run_Intake(state);
}
BENCHMARK(BM_Intake_File_Device);

void BM_Intake_Generated_Device(benchmark::State &state)
{
    Alsa_Test_Env env = Make_Alsa_Test_Env("/dev/null");
    Add_Generated_Capture(env, "velkadorbench", "none", 0);
    if (!Open_For_Bench("velkadorbench", FIXED_RATE_HZ)) {
        state.SkipWithError("cannot open the generated device");
        return;
    }
    Run_Intake(state);
}
BENCHMARK(BM_Intake_Generated_Device);

} // namespace

BENCHMARK_MAIN();
