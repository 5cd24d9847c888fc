// tests/test_morse_rx.cpp - generated CW decoded through the real capture
// path: the whole Morse table, a QSO at several speeds clean and in noise,
// other tones and sample rates, and the squelch and ratio controls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/shared.h"
#include "core/startup.h"
#include "cwgen.h"
#include "support/gtk_env.h"
#include "test_morse_rx.h"

namespace {

const char *const QSO =
    "DL2XYZ DE G4ABC R GM HANS TNX FER CALL UR RST 599 5NN NAME JOHN QTH LONDON "
    "WX CLOUDY 12C RIG FT101 ANT DIPOLE HW? DL2XYZ DE G4ABC KN";

std::vector<int16_t> Generate(const Cw_Params &p, const std::string &text)
{
    std::vector<int16_t> audio;
    std::string error;
    EXPECT_EQ(Cw_Generate(p, text, audio, error), 1) << error;
    return audio;
}

Rx_Setup Setup_For(int32_t wpm)
{
    Rx_Setup s;
    s.wpm = wpm;
    return s;
}

} // namespace

TEST(MorseRx, EveryRowOfTheTable)
{
    const std::string sent =
        "A B C D E F G H I J K L M N O P Q R S T U V W X Y Z 0 1 2 3 4 5 6 7 8 9 "
        ". , ? ' ! / ( ) & : ; = + - _ \" $ @ <OK> <GO> <BK> <SK> "
        "\xC3\x84 \xC3\x96 \xC3\x9C \xC3\x9F <!!> [........]";
    const std::string expect = sent.substr(0, sent.size() - 10) + "*";
    Cw_Params p;
    Rx_Result r = Decode_Stereo(Generate(p, sent), Setup_For(20));
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(Normalised(r.text), expect);
}

TEST(MorseRx, QsoAtSpeedsClean)
{
    for (int wpm : {12, 20, 30, 40}) {
        Cw_Params p;
        p.wpm = wpm;
        Rx_Result r = Decode_Stereo(Generate(p, QSO), Setup_For(wpm));
        EXPECT_EQ(Normalised(r.text), QSO) << wpm << " WPM";
        // Word gaps come out as single spaces, the last one as the audio ends.
        EXPECT_EQ(r.text, std::string(QSO) + " ") << wpm << " WPM";
    }
}

TEST(MorseRx, QsoAtSpeedsInNoise)
{
    // SNR in 2500 Hz; the filter's bandwidth grows with the speed, so the
    // faster the sender, the stronger the signal must be.
    const struct { int wpm; double snr_db; } cases[] = {{12, 12.0}, {20, 17.0}, {30, 22.0}, {40, 24.0}};
    for (const auto &c : cases) {
        for (uint64_t seed : {1u, 2u}) {
            Cw_Params p;
            p.wpm = c.wpm;
            p.noise = true;
            p.snr_db = c.snr_db;
            p.seed = seed;
            Rx_Result r = Decode_Stereo(Generate(p, QSO), Setup_For(c.wpm));
            EXPECT_EQ(Normalised(r.text), QSO) << c.wpm << " WPM at " << c.snr_db << " dB, seed " << seed;
        }
    }
}

TEST(MorseRx, HandKeyingAndWeight)
{
    const struct { double jitter, weight; uint64_t seed; } cases[] = {{0.1, 3.0, 3}, {0.0, 3.5, 1}, {0.05, 2.6, 4}};
    for (const auto &c : cases) {
        Cw_Params p;
        p.jitter = c.jitter;
        p.weight = c.weight;
        p.seed = c.seed;
        Rx_Result r = Decode_Stereo(Generate(p, QSO), Setup_For(20));
        EXPECT_EQ(Normalised(r.text), QSO) << "jitter " << c.jitter << " weight " << c.weight << " seed " << c.seed;
    }
}

TEST(MorseRx, OtherTonesAndRates)
{
    // Tones as the loader leaves them: 700 Hz at 48000 becomes 705, 800 Hz
    // at 44100 becomes 848.
    const struct { int32_t rate, tone; } cases[] = {{48000, 705}, {48000, 500}, {48000, 1000}, {44100, 848}};
    for (const auto &c : cases) {
        Cw_Params p;
        p.rate = c.rate;
        p.tone_hz = c.tone;
        Rx_Setup s = Setup_For(20);
        s.dsp_rate = c.rate;
        s.tone_freq = c.tone;
        Rx_Result r = Decode_Stereo(Generate(p, "CQ CQ DE G4ABC 73 = <SK>"), s);
        EXPECT_EQ(Normalised(r.text), "CQ CQ DE G4ABC 73 = <SK>") << c.tone << " Hz at " << c.rate;
    }
}

TEST(MorseRx, SquelchHoldsAWeakSignalOff)
{
    // Amplitude 0.012 of full scale: a level of about 200, so the two means
    // never sum above squelch 3 (450), but do above squelch 1 (150).
    Cw_Params p;
    p.level = 0.012;
    std::vector<int16_t> audio = Generate(p, "TEST TEST");
    Rx_Setup s = Setup_For(20);
    EXPECT_EQ(Normalised(Decode_Stereo(audio, s).text), "");
    EXPECT_TRUE(isFlagClear(MARK_TONE));
    s.squelch = 1;
    EXPECT_EQ(Normalised(Decode_Stereo(audio, s).text), "TEST TEST");
}

TEST(MorseRx, SquelchAndRatioButtonsActOnTheNextFragment)
{
    REQUIRE_DISPLAY();
    Build_Test_Window();
    Cw_Params p;
    p.trail_ms = 2000.0;
    std::vector<int16_t> first = Generate(p, "TEST"), second = Generate(p, "TEST");
    const size_t first_frames = first.size() / 2;
    first.insert(first.end(), second.begin(), second.end());

    int64_t count = Start_Rx(first, Setup_For(20));
    const int64_t half = static_cast<int64_t>(first_frames) / 120;
    EXPECT_EQ(Run_Rx(half).text, "TEST ");

    gtk_spin_button_set_value(GTK_SPIN_BUTTON(ratio), 2.3);
    EXPECT_DOUBLE_EQ(rc_data.det_ratio, 2.3);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(squelch), 100);
    EXPECT_EQ(rc_data.det_squelch, 100);
    EXPECT_EQ(Run_Rx(count - half).text, "") << "squelch 100 must hold the second TEST off";
    Stop_Rx();
}
