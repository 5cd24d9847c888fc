// tests/test_adaptive.cpp - the adaptive decoder on generated audio, without
// a window: it finds the speed and the pitch by itself, is deaf to the input
// level and to noise alone, keeps up with a sender who changes speed, and
// instances do not share state. Every heap allocation is counted
// (tests/alloc_count.h) to hold the engine to its set-up allocations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "cwgen.h"
#include "decoder/adaptive.h"

namespace {

const char QSO[] = "CQ CQ DE DL1ABC DL1ABC K TNX FER CALL UR RST 599 5NN QTH BERLIN NAME HANS";

struct Copy {
    std::string text;  // word gaps as single blanks, no blank at either end
    std::vector<adaptive_char_t> chars;
    double latency_s = 0.0;  // the longest from a character's end to its appearance
    int32_t wpm = 0;
    double pitch_hz = 0.0;
};

void Collect(adaptive_decoder_t *dec, Copy &copy)
{
    adaptive_char_t c;
    while (Adaptive_Next(dec, &c)) {
        if (c.text[0] == ' ') {
            if (!copy.text.empty() && copy.text.back() != ' ')
                copy.text += ' ';
            continue;
        }
        copy.text += c.text;
        copy.chars.push_back(c);
        copy.latency_s = std::max(copy.latency_s, Adaptive_Time_S(dec) - c.end_s);
    }
}

// Feeds stereo audio in blocks of the capture device's size.
Copy Decode(const std::vector<int16_t> &stereo, double tone_hz = 800.0, int32_t rate = 48000)
{
    Copy copy;
    char mesg[128] = "";
    adaptive_settings_t s;
    s.rate_hz = rate;
    s.tone_hz = tone_hz;
    adaptive_decoder_t *dec = Adaptive_Create(s, mesg, sizeof(mesg));
    EXPECT_NE(dec, nullptr) << mesg;
    if (dec == nullptr)
        return copy;
    const size_t frames = stereo.size() / 2;
    for (size_t at = 0; at < frames; at += 512) {
        const int32_t n = static_cast<int32_t>(std::min<size_t>(512, frames - at));
        Adaptive_Feed(dec, &stereo[2 * at], n, 2);
        Collect(dec, copy);
    }
    Adaptive_Finish(dec);
    Collect(dec, copy);
    while (!copy.text.empty() && copy.text.back() == ' ')
        copy.text.pop_back();
    copy.wpm = Adaptive_Wpm(dec);
    copy.pitch_hz = Adaptive_Pitch_Hz(dec);
    Adaptive_Destroy(dec);
    return copy;
}

// Character errors of got against sent, in percent of sent.
double Cer(const std::string &got, const std::string &sent)
{
    return 100.0 * static_cast<double>(Edit_Distance(sent, got)) / static_cast<double>(sent.size());
}

std::vector<int16_t> Generate(const Cw_Params &p, const std::string &text)
{
    std::vector<int16_t> audio;
    std::string error;
    EXPECT_EQ(Cw_Generate(p, text, audio, error), 1) << error;
    return audio;
}

}  // namespace

// The speed is never given: from 6 to 60 WPM the first character is already
// right, the speed shown is the sender's, and no character waits longer
// than a second after its last element. Two seconds of noise first: the
// first marks are then measured once more through the filter their speed
// calls for, and the first gaps must not part "CQ".
TEST(Adaptive, FindsTheSpeedFromTheFirstCharacterAt6To60Wpm)
{
    for (double wpm : {6.0, 12.0, 20.0, 25.0, 40.0, 60.0}) {
        Cw_Params p;
        p.wpm = wpm;
        p.lead_ms = 2000;
        p.noise = true;
        p.snr_db = 10;
        Copy copy = Decode(Generate(p, wpm < 10 ? "CQ DE DL1ABC K" : QSO));
        EXPECT_EQ(copy.text, wpm < 10 ? "CQ DE DL1ABC K" : QSO) << wpm << " WPM";
        EXPECT_NEAR(copy.wpm, wpm, 0.1 * wpm) << wpm << " WPM";
        EXPECT_LE(copy.latency_s, 1.0) << wpm << " WPM";
    }
}

// Hand keying with uneven elements, heavy and light weighting and
// Farnsworth spacing, at a weak signal.
TEST(Adaptive, CopesWithHandKeyingWeightingAndFarnsworthSpacing)
{
    Cw_Params hand;
    hand.wpm = 22;
    hand.jitter = 0.2;
    hand.noise = true;
    hand.snr_db = 2;
    EXPECT_LE(Cer(Decode(Generate(hand, QSO)).text, QSO), 2.0);

    for (double weight : {2.5, 4.0}) {
        Cw_Params p;
        p.wpm = 25;
        p.weight = weight;
        EXPECT_EQ(Decode(Generate(p, QSO)).text, QSO) << "weight " << weight;
    }

    Cw_Params farnsworth;
    farnsworth.wpm = 20;
    farnsworth.farnsworth_wpm = 10;
    Copy copy = Decode(Generate(farnsworth, QSO));
    // The first word may come out letter by letter until a word gap has
    // shown how long the stretched gaps are.
    EXPECT_EQ(copy.text.substr(copy.text.find("DE")), std::string(QSO).substr(6));
}

// Off the input tone by up to 50 Hz: the pitch is found and the text is
// the same, from the first character.
TEST(Adaptive, FollowsASignalOffTheInputTone)
{
    for (double offset : {-50.0, 40.0}) {
        Cw_Params p;
        p.wpm = 30;
        p.tone_hz = 700.0 + offset;
        p.noise = true;
        p.snr_db = 0;
        Copy copy = Decode(Generate(p, QSO), 700.0);
        EXPECT_EQ(copy.text, QSO) << offset << " Hz";
        EXPECT_NEAR(copy.pitch_hz, p.tone_hz, 2.0);
    }
}

// Self-normalising: the same copy from -40 dBFS to near full scale, at other
// sample rates too; and band noise alone prints nothing at any level.
TEST(Adaptive, SameCopyAtAnyLevelAndNothingOnNoiseAlone)
{
    for (double level : {0.014, 0.9}) {
        Cw_Params p;
        p.wpm = 28;
        p.level = level;
        p.noise = true;
        p.snr_db = 0;
        EXPECT_EQ(Decode(Generate(p, QSO)).text, QSO) << "level " << level;
    }
    for (int32_t rate : {8000, 44100}) {
        Cw_Params p;
        p.rate = rate;
        EXPECT_EQ(Decode(Generate(p, QSO), 800.0, rate).text, QSO) << rate << " Hz";
    }
    for (double level : {0.0003, 0.07}) {  // noise at about -40 and -6 dBFS
        Cw_Params p;
        p.noise = true;
        p.snr_db = -10;
        p.level = level;
        p.lead_ms = 60000;  // a minute of noise; the lone E after it is too weak to copy
        p.trail_ms = 0;
        Copy copy = Decode(Generate(p, "E"));
        EXPECT_LE(copy.chars.size(), 1u) << "level " << level << ": " << copy.text;
    }
}

// A sender who slows down and speeds up within one recording, and another
// station answering at its own speed after a pause.
TEST(Adaptive, FollowsSpeedChangesWithinOneRecording)
{
    Cw_Params gradual;
    gradual.wpm = 14;
    gradual.end_wpm = 36;
    gradual.noise = true;
    gradual.snr_db = 6;
    EXPECT_EQ(Decode(Generate(gradual, QSO)).text, QSO);

    // Three overs at 18, 30 and 14 WPM, with a pause between them and
    // without: the sender changes his speed from one word to the next.
    const std::string overs[] = {"CQ CQ DE DL1ABC K", "DL1ABC DE G4XYZ G4XYZ K", "G4XYZ TNX 599 K"};
    const double speeds[] = {18, 30, 14};
    for (bool pause : {true, false}) {
        std::vector<int16_t> all;
        for (int i = 0; i < 3; i++) {
            Cw_Params p;
            p.wpm = speeds[i];
            p.noise = true;
            p.snr_db = 6;
            p.seed = static_cast<uint64_t>(i + 1);
            if (!pause) {
                p.lead_ms = i == 0 ? p.lead_ms : 0.0;
                // After the character gap of 3 units, 4 more make a word gap.
                p.trail_ms = i == 2 ? p.trail_ms : 4.0 * 1200.0 / speeds[i];
            }
            std::vector<int16_t> over = Generate(p, overs[i]);
            all.insert(all.end(), over.begin(), over.end());
        }
        EXPECT_EQ(Decode(all).text, overs[0] + " " + overs[1] + " " + overs[2]) << (pause ? "with" : "without")
                                                                                 << " pauses";
    }
}

// Two decoders side by side, fed alternately, each copy what one alone does;
// and once set up, feeding allocates nothing.
TEST(Adaptive, InstancesAreIndependentAndFeedingDoesNotAllocate)
{
    Cw_Params fast, slow;
    fast.wpm = 35;
    slow.wpm = 15;
    slow.tone_hz = 650;
    std::vector<int16_t> a = Generate(fast, QSO), b = Generate(slow, "DE G4XYZ K");
    adaptive_settings_t sa, sb;
    sb.tone_hz = 650;
    char mesg[128];
    adaptive_decoder_t *da = Adaptive_Create(sa, mesg, sizeof(mesg));
    adaptive_decoder_t *db = Adaptive_Create(sb, mesg, sizeof(mesg));
    ASSERT_TRUE(da != nullptr && db != nullptr);
    Copy ca, cb;
    ca.chars.reserve(256);
    cb.chars.reserve(256);
    ca.text.reserve(256);
    cb.text.reserve(256);
    const long before = Allocation_Count();
    for (size_t at = 0; at < std::max(a.size(), b.size()) / 2; at += 512) {
        if (2 * at < a.size())
            Adaptive_Feed(da, &a[2 * at], static_cast<int32_t>(std::min<size_t>(512, a.size() / 2 - at)), 2);
        if (2 * at < b.size())
            Adaptive_Feed(db, &b[2 * at], static_cast<int32_t>(std::min<size_t>(512, b.size() / 2 - at)), 2);
        Collect(da, ca);
        Collect(db, cb);
    }
    Adaptive_Finish(da);
    Adaptive_Finish(db);
    Collect(da, ca);
    Collect(db, cb);
    EXPECT_EQ(Allocation_Count(), before);
    Adaptive_Destroy(da);
    Adaptive_Destroy(db);
    while (!ca.text.empty() && ca.text.back() == ' ')
        ca.text.pop_back();
    while (!cb.text.empty() && cb.text.back() == ' ')
        cb.text.pop_back();
    EXPECT_EQ(ca.text, Decode(a).text);
    EXPECT_EQ(cb.text, "DE G4XYZ K");
}

// Settings it cannot work with are refused with a reason; odd calls are safe.
TEST(Adaptive, RefusesImpossibleSettingsAndSurvivesOddCalls)
{
    char mesg[128];
    adaptive_settings_t s;
    s.rate_hz = 1000;
    EXPECT_EQ(Adaptive_Create(s, mesg, sizeof(mesg)), nullptr);
    EXPECT_NE(std::string(mesg).find("1000"), std::string::npos);
    s.rate_hz = 8000;
    s.tone_hz = 3900;
    EXPECT_EQ(Adaptive_Create(s, mesg, sizeof(mesg)), nullptr);

    s.tone_hz = 800;
    adaptive_decoder_t *dec = Adaptive_Create(s, mesg, sizeof(mesg));
    ASSERT_NE(dec, nullptr);
    Adaptive_Feed(dec, nullptr, 100, 1);
    int16_t one = 0;
    Adaptive_Feed(dec, &one, -5, 1);
    Adaptive_Retune(dec, 1e9);  // ignored
    Adaptive_Finish(dec);
    adaptive_char_t c;
    EXPECT_EQ(Adaptive_Next(dec, &c), 0);
    Adaptive_Destroy(dec);
    Adaptive_Destroy(nullptr);
}
