// How long CAT exchanges hold the main loop, against simulated rigs that
// answer at once: a click-to-tune (write, read, write), a frequency change
// (one write), and a failed exchange (a rig that stays silent).
// Run under a display: xvfb-run -a build/tests/bench_cat
#include <cstdlib>
#include <cstring>

#include <benchmark/benchmark.h>

#include "cat/frequency.h"
#include "cat/rigs.h"
#include "cat/serial.h"
#include "core/shared.h"
#include "core/startup.h"
#include "display/waterfall.h"
#include "support/gtk_env.h"
#include "support/rig_sim.h"

namespace {

bool Window_Ready(benchmark::State &state)
{
    if (!Gtk_Test_Init()) {
        state.SkipWithError("no display (run under xvfb-run)");
        return false;
    }
    if (frequency == nullptr)
        Build_Test_Window();
    Iterate_Pending();
    return true;
}

// One strong signal 200 Hz above the tone: every click moves the rig.
void Set_Signal(void)
{
    wfall_width = 511;
    bin_ave = static_cast<int32_t *>(calloc(wfall_width, sizeof(int32_t)));
    bin_ave[319] = 200;
    rc_data.tone_freq = 800;
}

void BM_ClickToTune(benchmark::State &state)
{
    if (!Window_Ready(state))
        return;
    int tcvr_type = static_cast<int>(state.range(0));
    Set_Signal();
    Rig_Sim sim(tcvr_type, 14060000);
    Point_Cat_At(sim, tcvr_type);
    if (Open_Tcvr_Serial() != 1) {
        state.SkipWithError("link not up");
        return;
    }
    for (auto _ : state) {
        if (Tune_Tcvr(318.0) != 1)
            state.SkipWithError("tune failed");
    }
    state.counters["rig_moved_hz"] = static_cast<double>(sim.Freq() - 14060000);
    Close_Tcvr_Serial();
}

void BM_SetFrequency(benchmark::State &state)
{
    if (!Window_Ready(state))
        return;
    int tcvr_type = static_cast<int>(state.range(0));
    Rig_Sim sim(tcvr_type, 14060000);
    Point_Cat_At(sim, tcvr_type);
    if (Open_Tcvr_Serial() != 1) {
        state.SkipWithError("link not up");
        return;
    }
    int hz = 14060000;
    for (auto _ : state)
        Write_Rx_Freq(hz += 10);
    Close_Tcvr_Serial();
}

// A frequency read that the rig never answers: ten checks, then the link
// is dropped. The write before it is part of the exchange.
void BM_FailedExchange(benchmark::State &state)
{
    if (!Window_Ready(state))
        return;
    int tcvr_type = static_cast<int>(state.range(0));
    Rig_Sim sim(tcvr_type, 14060000);
    Point_Cat_At(sim, tcvr_type);
    for (auto _ : state) {
        state.PauseTiming();
        Dismiss_Error_Dialog();
        sim.Set_Fault(Rig_Fault::NONE);
        int up = Open_Tcvr_Serial();
        sim.Set_Fault(Rig_Fault::NO_ANSWER);
        state.ResumeTiming();
        int64_t hz;
        if (up != 1 || Read_Tcvr_Freq(&hz) != 0)
            state.SkipWithError("exchange did not fail as planned");
    }
    Dismiss_Error_Dialog();
}

}  // namespace

BENCHMARK(BM_ClickToTune)->Arg(TCVR_K2)->Arg(TCVR_FT847)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SetFrequency)->Arg(TCVR_K2)->Arg(TCVR_FT857)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FailedExchange)->Arg(TCVR_K2)->Arg(TCVR_FT857)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
