// tests/test_detector.cpp - the tone detector: its level against the analytic
// Goertzel value through the real capture path, its decision rules at their
// exact edges, and a failing sample intake.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/shared.h"
#include "cwgen.h"
#include "decoder/detector.h"
#include "decoder/morse.h"
#include "sound/capture.h"
#include "sound/intake.h"
#include "test_morse_rx.h"

namespace {

// Steady tone of amplitude level (fraction of full scale) for seconds.
std::vector<int16_t> Steady_Tone(double tone_hz, double level, double seconds, int32_t rate = 48000)
{
    Cw_Params p;
    p.tone_hz = tone_hz;
    p.level = level;
    p.rate = rate;
    p.lead_ms = 0.0;
    p.trail_ms = 0.0;
    p.edge_ms = 0.0;
    p.wpm = 1.2 / seconds;  // one dot lasting the whole time
    std::vector<int16_t> audio;
    std::string error;
    EXPECT_EQ(Cw_Generate(p, "E", audio, error), 1) << error;
    audio.resize(static_cast<size_t>(2 * seconds * rate));  // drop the gap after the dot
    return audio;
}

} // namespace

// A tone of amplitude A on the filter frequency gives a level of A / 2 (the
// normalised Goertzel magnitude); the scope shows level / 45 in signal mode.
// 300 Hz off the filter frequency (nine bandwidths of its 30 ms window, a
// null of the window) the level vanishes.
TEST(DetectorRx, LevelMatchesAnalyticGoertzel)
{
    const struct { int32_t rate, filter_hz; double tone_hz, level; int32_t expect_v; } cases[] = {
        {48000, 800, 800.0, 0.5, 182},  {48000, 800, 800.0, 0.9, 327}, {48000, 705, 705.0, 0.5, 182},
        {44100, 848, 848.0, 0.25, 91},  {48000, 800, 1100.0, 0.9, 0},
    };
    int64_t steps = 0;  // the scope trace runs on across the cases
    for (const auto &c : cases) {
        Rx_Setup setup;
        setup.dsp_rate = c.rate;
        setup.tone_freq = c.filter_hz;
        int64_t count = Start_Rx(Steady_Tone(c.tone_hz, c.level, 1.0, c.rate), setup);
        scope_height = 1000;
        Set_Flag(DISPLAY_SIGNAL);
        for (int64_t i = 0; i < count; i++)
            ASSERT_EQ(Get_Fragment(), 1);
        Stop_Rx();
        steps += count;
        // The last point written: the filter window is long past the start.
        int32_t newest = static_cast<int32_t>((steps - 1) % scope_width);
        int32_t v = scope_height - 1 - scope_data[newest].y;
        EXPECT_NEAR(v, c.expect_v, 2) << c.tone_hz << " Hz tone, filter at " << c.filter_hz << " Hz, rate " << c.rate;
        if (c.expect_v > 0) {
            EXPECT_TRUE(isFlagSet(MARK_TONE)) << c.tone_hz << " Hz";
        }
    }
}

TEST(DetectorRx, FailedIntakeStopsTheStepWithoutDecoding)
{
    Rx_Setup setup;
    int64_t count = Start_Rx(Steady_Tone(800.0, 0.5, 0.5), setup);
    Run_Rx(count);
    int32_t state = Decoder_State();
    Close_PCM_Handle();  // the device is gone: the intake cannot read
    samples_buffer.index = samples_buffer.length;
    char buf[5] = "";
    EXPECT_EQ(Get_Character(buf), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(Decoder_State(), state);
    Stop_Rx();
}

TEST(DetectorRules, HysteresisBandEdges)
{
    const struct { int32_t sum, unit; int expect; } cases[] = {
        {11 * 24 + 1, 24, 1}, {11 * 24, 24, -1}, {9 * 24, 24, -1}, {9 * 24 - 1, 24, 0},
        {20, 1, 1}, {0, 1, 0}, {10, 1, -1}};
    for (const auto &c : cases)
        EXPECT_EQ(Hysteresis_Decision(c.sum, c.unit), c.expect) << "sum " << c.sum << " unit " << c.unit;
}

TEST(DetectorRules, RatioTestKeepsStateOnEqualProductsAndUnderSquelch)
{
    // R = 20 * ratio truncated: 1.52 gives 30, so 20 * 30 = 30 * 20 exactly.
    const struct { int32_t lead, trail, squelch; double ratio; } keep[] = {
        {300, 300, 3, 1.0}, {300, 200, 3, 1.52}, {200, 300, 3, 1.52},
        {600, 0, 4, 1.5},     // sum 600 = 4 * 150: at the squelch
        {0, 450, 3, 1.5}};    // a fall under the squelch does not end the tone
    for (const auto &c : keep) {
        for (bool state : {false, true}) {
            EXPECT_EQ(Ratio_Decision(c.lead, c.trail, c.squelch, c.ratio, state), state)
                << c.lead << "/" << c.trail << " ratio " << c.ratio << " squelch " << c.squelch;
        }
    }
    EXPECT_TRUE(Ratio_Decision(301, 200, 3, 1.52, false));
    EXPECT_FALSE(Ratio_Decision(200, 301, 3, 1.52, true));
    EXPECT_TRUE(Ratio_Decision(601, 0, 4, 1.5, false));
    EXPECT_FALSE(Ratio_Decision(0, 451, 3, 1.5, true));
}

TEST(DetectorRules, LevelOfRoundedNegativePowerIsZero)
{
    // Goertzel states from nearly equal samples with the coefficient at its
    // limits: exactly the power is a hair above zero, rounded it is below.
    const struct { double s1, s2, coeff; } cases[] = {
        {7188520.416733965, 7188520.416739412, 2.0}, {5842933.6779090185, -5842933.677913742, -2.0}};
    for (const auto &c : cases) {
        double q1 = c.s1 / 1440, q2 = c.s2 / 1440;
        if (!(q1 * q1 + q2 * q2 - c.coeff * q1 * q2 < 0.0))
            GTEST_SKIP() << "this platform rounds the power to non-negative";
        EXPECT_EQ(Goertzel_Level(c.s1, c.s2, c.coeff, 1440), 0);
    }
    EXPECT_EQ(Goertzel_Level(0.0, 0.0, 2.0, 1440), 0);
}

// Every level, unit and decision of a noisy, hand-keyed QSO whose sender
// slows down (so that Auto moves the unit between steps), folded into one
// checksum. The window's one-fragment steps and velkador-decode's
// look-ahead must both give the checksum of the detector as first built:
// any change to its arithmetic or order of operations shows here.
namespace {

uint64_t Detector_Trace_Checksum(int32_t lookahead, std::string &text, int &unit_changes)
{
    Cw_Params p;
    p.wpm = 24;
    p.end_wpm = 16;
    p.noise = true;
    p.snr_db = 8.0;
    p.jitter = 0.15;
    p.seed = 5;
    std::vector<int16_t> audio;
    std::string error;
    EXPECT_EQ(Cw_Generate(p, "CQ CQ DE DL2ABC DL2ABC K DL2ABC DE G4XYZ UR RST 579 579 NAME JOHN 73 <SK>",
                          audio, error), 1) << error;
    Rx_Setup setup;
    setup.min_wpm = 10;
    setup.max_wpm = 40;
    int64_t count = Start_Rx(audio, setup);
    EXPECT_EQ(Set_Detector_Lookahead(lookahead), 1);
    Set_Flag(ADAPT_SPEED);

    uint64_t sum = 1469598103934665603ull;
    auto fold = [&sum](int64_t v) {
        for (int i = 0; i < 8; i++, v >>= 8) {
            sum ^= static_cast<uint64_t>(v & 0xFF);
            sum *= 1099511628211ull;
        }
    };
    int32_t unit = rc_data.unit_elem;
    unit_changes = 0;
    for (int64_t i = 0; i < count; i++) {
        char buf[5] = "";
        if (!Get_Character(buf))
            break;
        fold(Detector_Level());
        fold(rc_data.unit_elem);
        fold(isFlagSet(MARK_TONE));
        text += buf;
        unit_changes += rc_data.unit_elem != unit;
        unit = rc_data.unit_elem;
    }
    Stop_Rx();
    for (char c : text)
        fold(c);
    return sum;
}

// Taken from the detector before the look-ahead existed.
constexpr uint64_t FIRST_BUILT_TRACE = 3025235070377293702ull;

}  // namespace

TEST(DetectorTrace, OneFragmentStepsGiveTheFirstBuiltTrace)
{
    std::string text;
    int unit_changes = 0;
    uint64_t sum = Detector_Trace_Checksum(1, text, unit_changes);
    EXPECT_GT(unit_changes, 4) << text;
    EXPECT_EQ(sum, FIRST_BUILT_TRACE) << std::hex << sum << " " << text;
}

TEST(DetectorTrace, LookAheadGivesTheFirstBuiltTrace)
{
    std::string text;
    int unit_changes = 0;
    uint64_t sum = Detector_Trace_Checksum(8, text, unit_changes);
    EXPECT_EQ(sum, FIRST_BUILT_TRACE) << std::hex << sum << " " << text;
}
