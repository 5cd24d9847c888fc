// How long CAT exchanges hold the main loop, against simulated rigs that
// answer at once: a click-to-tune (write, read, write), a frequency change
// (one write), and a failed exchange (a rig that stays silent); and through
// Hamlib against a real rigctld serving the dummy rig, alive, stopped
// (SIGSTOP: it never answers) and killed.
// Run under a display: xvfb-run -a build/tests/bench_cat
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <benchmark/benchmark.h>

#include "cat/frequency.h"
#include "cat/hamlib.h"
#include "cat/rigs.h"
#include "cat/serial.h"
#include "core/shared.h"
#include "core/startup.h"
#include "display/waterfall.h"
#include "support/gtk_env.h"
#include "support/rig_sim.h"
#include "support/rigctld.h"

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

bool Point_Hamlib_At(benchmark::State &state, Rigctld &daemon)
{
    std::string why;
    if (!Start_Rigctld(daemon, &why)) {
        state.SkipWithError(why.c_str());
        return false;
    }
    Strlcpy(rc_data.cat_serial, daemon.address.c_str(), sizeof(rc_data.cat_serial));
    rc_data.tcvr_type = TCVR_HAMLIB;
    rc_data.hamlib_model = HAMLIB_NET_MODEL;
    return true;
}

// Start-up (open, frequency read, CW reverse) against a live daemon.
void BM_HamlibStartup(benchmark::State &state)
{
    Rigctld daemon;
    if (!Window_Ready(state) || !Point_Hamlib_At(state, daemon))
        return;
    for (auto _ : state) {
        if (Open_Tcvr_Serial() != 1)
            state.SkipWithError("link not up");
        state.PauseTiming();
        Close_Tcvr_Serial();
        state.ResumeTiming();
    }
}

void BM_HamlibClickToTune(benchmark::State &state)
{
    Rigctld daemon;
    if (!Window_Ready(state) || !Point_Hamlib_At(state, daemon))
        return;
    Set_Signal();
    if (Open_Tcvr_Serial() != 1) {
        state.SkipWithError("link not up");
        return;
    }
    for (auto _ : state) {
        if (Tune_Tcvr(318.0) != 1)
            state.SkipWithError("tune failed");
    }
    Close_Tcvr_Serial();
}

void BM_HamlibSetFrequency(benchmark::State &state)
{
    Rigctld daemon;
    if (!Window_Ready(state) || !Point_Hamlib_At(state, daemon))
        return;
    if (Open_Tcvr_Serial() != 1) {
        state.SkipWithError("link not up");
        return;
    }
    int hz = 14060000;
    for (auto _ : state)
        Write_Rx_Freq(hz += 10);
    Close_Tcvr_Serial();
}

// Arg 0: a click-to-tune on a daemon that stopped answering (its read
// times out and the link is dropped). Arg 1: the start-up against it.
void BM_HamlibDeadDaemon(benchmark::State &state)
{
    Rigctld daemon;
    if (!Window_Ready(state) || !Point_Hamlib_At(state, daemon))
        return;
    Set_Signal();
    bool startup = state.range(0) == 1;
    for (auto _ : state) {
        state.PauseTiming();
        Dismiss_Error_Dialog();
        Signal_Process(*daemon.child, SIGCONT);
        int up = startup || Open_Tcvr_Serial();
        Signal_Process(*daemon.child, SIGSTOP);
        state.ResumeTiming();
        int result = startup ? Open_Tcvr_Serial() : Tune_Tcvr(318.0);
        if (up != 1 || result != 0)
            state.SkipWithError("exchange did not fail as planned");
    }
    Signal_Process(*daemon.child, SIGCONT);
    Dismiss_Error_Dialog();
}

// The first click-to-tune after the daemon was killed, and a start-up
// where nothing listens.
void BM_HamlibKilledDaemon(benchmark::State &state)
{
    if (!Window_Ready(state))
        return;
    Set_Signal();
    bool startup = state.range(0) == 1;
    for (auto _ : state) {
        state.PauseTiming();
        Dismiss_Error_Dialog();
        Rigctld daemon;
        if (!Point_Hamlib_At(state, daemon))
            return;
        int up = startup || Open_Tcvr_Serial();
        Signal_Process(*daemon.child, SIGKILL);
        Wait_Process(*daemon.child, 10000);
        state.ResumeTiming();
        int result = startup ? Open_Tcvr_Serial() : Tune_Tcvr(318.0);
        if (up != 1 || result != 0)
            state.SkipWithError("exchange did not fail as planned");
    }
    Dismiss_Error_Dialog();
}

// Start-up of a Hamlib serial model (IC-7300, 3073) whose port stays
// silent: the backend's own probing at open comes before the frequency
// read that fails.
void BM_HamlibSilentSerialRig(benchmark::State &state)
{
    if (!Window_Ready(state))
        return;
    Rig_Sim sim(TCVR_K2, 14060000);
    sim.Set_Fault(Rig_Fault::NO_ANSWER);
    Strlcpy(rc_data.cat_serial, sim.Path().c_str(), sizeof(rc_data.cat_serial));
    rc_data.tcvr_type = TCVR_HAMLIB;
    rc_data.hamlib_model = 3073;
    for (auto _ : state) {
        state.PauseTiming();
        Dismiss_Error_Dialog();
        state.ResumeTiming();
        if (Open_Tcvr_Serial() != 0)
            state.SkipWithError("a silent rig came up");
    }
    Dismiss_Error_Dialog();
}

}  // namespace

BENCHMARK(BM_HamlibSilentSerialRig)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HamlibStartup)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HamlibClickToTune)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HamlibSetFrequency)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HamlibDeadDaemon)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HamlibKilledDaemon)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClickToTune)->Arg(TCVR_K2)->Arg(TCVR_FT847)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SetFrequency)->Arg(TCVR_K2)->Arg(TCVR_FT857)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FailedExchange)->Arg(TCVR_K2)->Arg(TCVR_FT857)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
