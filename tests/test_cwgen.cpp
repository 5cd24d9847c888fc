// tests/test_cwgen.cpp - the CW generator: its timing, noise level and band,
// key edges, second signal and text parsing in-process, and the command-line
// tool as a real process (options, errors, output, a closed pipe).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cwgen.h"

namespace {

std::vector<int16_t> Generate(const Cw_Params &p, const std::string &text)
{
    std::vector<int16_t> audio;
    std::string error;
    EXPECT_EQ(Cw_Generate(p, text, audio, error), 1) << error;
    return audio;
}

// Power of the left channel at tone_hz over frames [from, to): |DFT|^2 / n^2,
// which for a tone of amplitude a is a^2 / 4.
double Tone_Power(const std::vector<int16_t> &audio, double tone_hz, int32_t rate, size_t from, size_t to)
{
    double re = 0.0, im = 0.0;
    for (size_t i = from; i < to; i++) {
        double ph = 2.0 * M_PI * tone_hz * static_cast<double>(i) / rate;
        re += audio[2 * i] * std::cos(ph);
        im += audio[2 * i] * std::sin(ph);
    }
    double n = static_cast<double>(to - from);
    return (re * re + im * im) / (n * n);
}

struct Run_Result {
    int status;
    std::string out;
};

Run_Result Run_Tool(const std::string &args)
{
    std::string cmd = VELKADOR_BINARY_DIR "/tools/velkador-cwgen " + args;
    Run_Result r{-1, ""};
    FILE *f = popen(cmd.c_str(), "r");
    if (f == nullptr)
        return r;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        r.out.append(buf, n);
    int status = pclose(f);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

} // namespace

TEST(CwGenerator, ParisTiming)
{
    // PARIS and a word gap is 50 units: 2.5 s at 24 WPM; at a Farnsworth
    // speed of 12 WPM it takes what 12 WPM takes, 5 s.
    const struct { double wpm, farnsworth, weight, seconds, first_dash; } cases[] = {
        {24, 0, 3.0, 2.5, 0.15}, {24, 12, 3.0, 5.0, 0.15}, {24, 0, 4.0, 2.5 + 4 * 0.05, 0.2}};
    for (const auto &c : cases) {
        Cw_Params p;
        p.wpm = c.wpm;
        p.farnsworth_wpm = c.farnsworth;
        p.weight = c.weight;
        std::vector<Cw_Key> keys;
        double end = 0.0;
        std::string error;
        ASSERT_EQ(Cw_Keying(p, "PARIS PARIS", c.wpm, 1.0, 1, keys, end, error), 1) << error;
        ASSERT_EQ(keys.size(), 28u);
        EXPECT_NEAR(keys[0].off_s - keys[0].on_s, 0.05, 1e-9);        // P: dot
        EXPECT_NEAR(keys[1].off_s - keys[1].on_s, c.first_dash, 1e-9);  // dash
        EXPECT_NEAR(keys[1].on_s - keys[0].off_s, 0.05, 1e-9);
        EXPECT_NEAR(keys[14].on_s - 1.0, c.seconds, 1e-9) << "second PARIS starts after one word";
    }
}

TEST(CwGenerator, NoiseMatchesSnrIn2500Hz)
{
    // Keyed-down tone power a^2 / 2 against the noise variance that falls in
    // 2500 Hz of rate / 2; the mix may be scaled, the ratio may not.
    for (double snr : {-6.0, 3.0, 20.0}) {
        Cw_Params p;
        p.wpm = 1.2;  // one dot of a second
        p.lead_ms = p.trail_ms = 0.0;
        p.seed = 7;
        Cw_Params noisy = p;
        noisy.noise = true;
        noisy.snr_db = snr;
        std::vector<int16_t> clean = Generate(p, "E"), mixed = Generate(noisy, "E");
        Cw_Stream s;
        std::string error;
        ASSERT_EQ(Cw_Begin(s, noisy, "E", error), 1);
        double scale = s.amplitude[0] / p.level;
        double noise_var = 0.0;
        const size_t n = 48000;
        for (size_t i = 0; i < n; i++) {
            double d = mixed[2 * i] - scale * clean[2 * i];
            noise_var += d * d;
        }
        noise_var /= n;
        double tone_power = 2.0 * scale * scale * Tone_Power(clean, 800.0, 48000, 0, n);
        double measured = 10.0 * std::log10(tone_power / (noise_var * 2500.0 / 24000.0));
        // 48000 noise samples: the variance is good to about 0.03 dB.
        EXPECT_NEAR(measured, snr, 0.3) << "seed " << p.seed;
    }
}

// Noise alone at a level, behind a 300..2800 Hz filter: its RMS as asked,
// and outside the band at least 20 dB below its density inside (the edges
// give about 38 dB at 100 Hz and 26 dB at 6 kHz). Each density averages 21
// DFT bins 2 Hz apart, good to about 1 dB.
TEST(CwGenerator, NoiseAloneAtItsLevelInItsBand)
{
    Cw_Params p;
    p.noise_at_level = true;
    p.noise_dbfs = -20.0;
    p.band_low_hz = 300.0;
    p.band_high_hz = 2800.0;
    p.lead_ms = 0.0;
    p.trail_ms = 1000.0;
    p.seed = 5;
    std::vector<int16_t> audio = Generate(p, "");
    ASSERT_EQ(audio.size(), 2u * 48000u);
    double sum = 0.0;
    for (size_t i = 0; i < audio.size(); i += 2)
        sum += static_cast<double>(audio[i]) * audio[i];
    EXPECT_NEAR(10.0 * std::log10(sum / 48000.0 / (32767.0 * 32767.0)), -20.0, 0.2) << "seed " << p.seed;

    auto density = [&audio](double centre_hz) {
        double power = 0.0;
        for (int k = -10; k <= 10; k++)
            power += Tone_Power(audio, centre_hz + 2.0 * k, 48000, 0, 48000);
        return 10.0 * std::log10(power / 21.0);
    };
    const double inside = density(1500.0);
    EXPECT_LT(density(100.0), inside - 20.0) << "seed " << p.seed;
    EXPECT_LT(density(6000.0), inside - 20.0) << "seed " << p.seed;
}

TEST(CwGenerator, RaisedCosineEdgesKeepTheTiming)
{
    Cw_Params p;
    p.lead_ms = 100.0;
    std::vector<int16_t> audio = Generate(p, "T");
    // The edge is centred on key-down at 100 ms: silent until 97.5 ms,
    // and full from 102.5 ms; no sample beyond the envelope.
    size_t first = 0;
    while (audio[2 * first] == 0)
        first++;
    EXPECT_NEAR(first / 48.0, 97.5, 0.1);
    const double a = 0.5 * 32767.0;
    for (size_t i = 4680; i < 4800; i++)
        EXPECT_LE(std::abs(audio[2 * i]), a / 2 + 1) << "before key-down, frame " << i;
    EXPECT_GT(Tone_Power(audio, 800.0, 48000, 4920, 5040), 0.99 * a * a / 4);
}

TEST(CwGenerator, SeedReproducesAudio)
{
    Cw_Params p;
    p.noise = true;
    p.jitter = 0.1;
    p.seed = 42;
    std::vector<int16_t> a = Generate(p, "CQ"), b = Generate(p, "CQ");
    EXPECT_EQ(a, b);
    p.seed = 43;
    EXPECT_NE(a, Generate(p, "CQ"));
}

TEST(CwGenerator, SecondSignalAtItsToneAndLevel)
{
    Cw_Params p;
    p.second_text = "TTTT";
    p.second_tone_hz = 1000.0;
    p.second_level_db = -6.0;
    p.wpm = 10;
    std::vector<int16_t> audio = Generate(p, "TTTT");
    // During the first dash (0.5 s in, 0.36 s long) both are keyed.
    double first = Tone_Power(audio, 800.0, 48000, 25000, 40000);
    double second = Tone_Power(audio, 1000.0, 48000, 25000, 40000);
    EXPECT_NEAR(10.0 * std::log10(second / first), -6.0, 0.2);
}

TEST(CwGenerator, ParsesTheTableAndRejectsTheRest)
{
    std::vector<std::string> pat;
    std::string error;
    ASSERT_EQ(Cw_Parse_Text("  cq  <sk> \xC3\xA4\xC3\x9F [........]\n", pat, error), 1) << error;
    const std::vector<std::string> expect = {"-.-.", "--.-", "", "...-.-", "", ".-.-", "...--..", "", "........"};
    EXPECT_EQ(pat, expect);

    const struct { const char *text, *message; } bad[] = {
        {"AB%", "'%'"}, {"<XX>", "<XX>"}, {"<SK", "<SK"}, {"[.x]", ".x"}, {"[]", "raw pattern"},
        {"\xC3\xA9", "\xC3\xA9"}, {"A\tB\x01", "0x01"}};
    for (const auto &b : bad) {
        EXPECT_EQ(Cw_Parse_Text(b.text, pat, error), 0) << b.text;
        EXPECT_NE(error.find(b.message), std::string::npos) << error;
    }
}

TEST(CwGeneratorTool, WritesWhatTheLibraryMakes)
{
    Cw_Params p;
    p.wpm = 30;
    p.lead_ms = 10;
    p.trail_ms = 10;
    std::vector<int16_t> audio = Generate(p, "R");
    std::string raw;
    for (int16_t v : audio) {
        raw += static_cast<char>(v & 0xff);
        raw += static_cast<char>((static_cast<uint16_t>(v) >> 8) & 0xff);
    }
    Run_Result r = Run_Tool("-w 30 --lead 10 --trail 10 r");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == raw) << "raw output differs from the library's audio";

    r = Run_Tool("-w 30 --lead 10 --trail 10 -t wav -o - r");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.out.size(), 44 + raw.size());
    EXPECT_EQ(r.out.substr(0, 4), "RIFF");
    EXPECT_EQ(r.out.substr(44), raw);

    r = Run_Tool("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("2500 Hz"), std::string::npos);
}

TEST(CwGeneratorTool, ReportsBadOptionsAndText)
{
    const struct { const char *args, *message; } cases[] = {
        {"--wpm fast E", "--wpm: not a number"}, {"--wpm 0 E", "speed"}, {"--tone 30000 E", "tone"},
        {"--format mp3 E", "--format"}, {"--snr 20 --level 2 E", "level"}, {"--seed -1 E", "--seed"},
        {"'E%'", "cannot send '%'"}, {"--second-text '#' E", "second text"}, {"-o /nonexistent/x.raw E", "/nonexistent"},
        {"--bogus E", "unrecognized"}, {"--band 300 --snr 0 E", "--band: not LOW:HIGH"},
        {"--band 900:300 --snr 0 E", "noise band"}, {"--noise-only 5 E", "sends no text"},
        {"--noise-only 5", "needs --snr or --noise-level"}, {"--noise-level 3 E", "noise level"}};
    for (const auto &c : cases) {
        Run_Result r = Run_Tool(std::string(c.args) + " 2>&1 >/dev/null");
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.args << ": " << r.out;
    }
}

TEST(CwGeneratorTool, ClosedPipeEndsQuietly)
{
    // The reader goes away after 100 bytes of a minute of real-time audio:
    // the tool must end with status 0 and say nothing.
    std::string err = ::testing::TempDir() + "cwgen-pipe.err";
    std::string cmd = std::string("bash -c '") + VELKADOR_BINARY_DIR +
                      "/tools/velkador-cwgen --realtime --trail 60000 E 2>" + err +
                      " | head -c 100 >/dev/null; echo ${PIPESTATUS[0]}'";
    FILE *f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char status[16] = "";
    ASSERT_NE(fgets(status, sizeof status, f), nullptr);
    pclose(f);
    EXPECT_STREQ(status, "0\n");
    FILE *e = fopen(err.c_str(), "r");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(fgetc(e), EOF) << "the tool wrote to standard error";
    fclose(e);
}

TEST(CwGeneratorTool, RealTimeOutputComesInWholeCaptureBlocks)
{
    // A file-backed capture device fills what one read of its FIFO does not
    // deliver with silence: each read of 2048 bytes must find a whole block
    // of 512 frames, or the marks come out chopped.
    std::string cmd = VELKADOR_BINARY_DIR "/tools/velkador-cwgen --realtime --lead 0 --trail 100 -w 40 EE";
    FILE *f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::vector<ssize_t> reads;
    char buf[2048];
    ssize_t n;
    while ((n = read(fileno(f), buf, sizeof buf)) > 0)
        reads.push_back(n);
    EXPECT_EQ(pclose(f), 0);
    ASSERT_GT(reads.size(), 2u);
    for (size_t i = 0; i + 1 < reads.size(); i++)
        ASSERT_EQ(reads[i], 2048) << "read " << i << " of " << reads.size();
    EXPECT_EQ(reads.back() % 4, 0) << "whole frames at the end";
}
