// velkador-decode run as operators run it: generated QSOs written through
// libsndfile in several formats, rates and channel layouts, raw audio on
// standard input, every unreadable input and bad option with its status,
// and a pipe that closes early or a Ctrl-C on a live pipe.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "cwgen.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "support/process.h"
#include "test_morse_rx.h"

namespace {

const std::string TOOL = VELKADOR_BINARY_DIR "/tools/velkador-decode";

const char *const QSO =
    "CQ CQ DE DL2ABC DL2ABC K DL2ABC DE G4XYZ GM OM TNX FER CALL UR RST 579 579 "
    "NAME JOHN QTH LONDON HW? G4XYZ DE DL2ABC R FB JOHN 73 <SK>";

constexpr int TIMEOUT_MS = 60000;

std::vector<int16_t> Cw(const Cw_Params &p, const std::string &text)
{
    std::vector<int16_t> stereo;
    std::string error;
    EXPECT_EQ(Cw_Generate(p, text, stereo, error), 1) << error;
    return stereo;
}

Cw_Params Sender(double wpm, double tone_hz = 800.0, int rate = 48000)
{
    Cw_Params p;
    p.wpm = wpm;
    p.tone_hz = tone_hz;
    p.rate = rate;
    p.noise = true;
    p.snr_db = 15.0;
    p.seed = 7;
    return p;
}

enum Layout { BOTH, MONO, RIGHT_ONLY };

// The generator's stereo (both channels alike) as a file of the given
// libsndfile format: mono from its left channel, or with the left silenced.
void Write_Sound_File(const std::string &path, int format, int rate, const std::vector<int16_t> &stereo,
                      Layout layout)
{
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = layout == MONO ? 1 : 2;
    info.format = format;
    SNDFILE *sf = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(sf, nullptr) << path << ": " << sf_strerror(nullptr);
    std::vector<int16_t> values;
    for (size_t i = 0; i + 1 < stereo.size(); i += 2) {
        if (layout == MONO) {
            values.push_back(stereo[i]);
        } else {
            values.push_back(layout == RIGHT_ONLY ? 0 : stereo[i]);
            values.push_back(stereo[i + 1]);
        }
    }
    // In pieces: the Vorbis encoder fails on one very large write.
    const sf_count_t frames = static_cast<sf_count_t>(values.size()) / info.channels;
    for (sf_count_t done = 0; done < frames;) {
        const sf_count_t n = frames - done < 4096 ? frames - done : 4096;
        ASSERT_EQ(sf_writef_short(sf, values.data() + done * info.channels, n), n) << path;
        done += n;
    }
    sf_close(sf);
}

// The tool with args; its standard input from stdin_path when one is given.
Process_Result Decode(const std::vector<std::string> &args, const std::string &stdin_path = "")
{
    std::vector<std::string> argv;
    std::vector<std::string> env = Current_Environment();
    if (!stdin_path.empty()) {
        Set_Env(env, "DECODE_STDIN", stdin_path);
        argv = {"/bin/bash", "-c", "exec \"$0\" \"$@\" < \"$DECODE_STDIN\"", TOOL};
    } else {
        argv = {TOOL};
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return Run_Process(argv, env, TIMEOUT_MS);
}

std::string Scratch(void)
{
    static std::string dir = Make_Scratch_Dir("decode");
    return dir;
}

}  // namespace

TEST(Decode, RecordingsOfEveryFormatRateAndLayout)
{
    const struct {
        const char *file;
        int format;
        int rate;
        double tone;
        Layout layout;
        std::vector<std::string> args;
    } cases[] = {
        {"qso.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 800, BOTH, {}},
        {"qso.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 800, MONO, {}},
        {"qso.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 48000, 800, BOTH, {}},
        {"qso44.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 800, BOTH, {}},
        {"qso96.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 96000, 700, BOTH, {"--tone=700"}},
        {"right.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 600, RIGHT_ONLY, {"--tone", "600", "--channel=right"}},
    };
    for (const auto &c : cases) {
        const std::string path = Scratch() + "/" + c.file;
        Write_Sound_File(path, c.format, c.rate, Cw(Sender(20, c.tone, c.rate), QSO), c.layout);
        std::vector<std::string> args = c.args;
        args.push_back(path);
        Process_Result r = Decode(args);
        EXPECT_EQ(r.exit_status, 0) << c.file << ": " << r.err;
        EXPECT_EQ(Normalised(r.out), QSO) << c.file;
        EXPECT_EQ(r.err, "") << c.file;
    }

    // The silent left channel of the last file: nothing heard is no error.
    Process_Result left = Decode({"--tone=600", Scratch() + "/right.wav"});
    EXPECT_EQ(left.exit_status, 0) << left.err;
    EXPECT_EQ(Normalised(left.out), "");
}

TEST(Decode, RawAudioOnStandardInput)
{
    const std::string stereo_path = Scratch() + "/stereo.raw";
    Write_Raw_Samples(stereo_path, Cw(Sender(25), QSO));
    Process_Result r = Decode({"--wpm=25", "-"}, stereo_path);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(Normalised(r.out), QSO);

    // Mono at another rate: every value is a frame.
    std::vector<int16_t> stereo = Cw(Sender(20, 800, 22050), QSO), mono;
    for (size_t i = 0; i < stereo.size(); i += 2)
        mono.push_back(stereo[i]);
    const std::string mono_path = Scratch() + "/mono.raw";
    Write_Raw_Samples(mono_path, mono);
    r = Decode({"--rate=22050", "--channels=1", "-"}, mono_path);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(Normalised(r.out), QSO);
}

// The generator's sender speeds up from 22 to 26 WPM over the QSO, sent
// twice. A unit held at 22 WPM loses the last over (its elements merge);
// with --auto the unit follows and the last over comes through. (The
// tracker settles a little slow, as the detector reads marks long.)
TEST(Decode, AutoFollowsASenderWhoSpeedsUp)
{
    Cw_Params p = Sender(22);
    p.noise = false;
    p.end_wpm = 26;
    const std::string text = std::string(QSO) + " " + QSO;
    const std::string path = Scratch() + "/faster.flac";
    Write_Sound_File(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, Cw(p, text), MONO);
    const std::string last_over = "G4XYZ DE DL2ABC R FB JOHN";

    Process_Result fixed = Decode({"--wpm=22", path});
    EXPECT_EQ(fixed.exit_status, 0) << fixed.err;
    EXPECT_EQ(Normalised(fixed.out).find(last_over, Normalised(fixed.out).size() / 2), std::string::npos)
        << fixed.out;

    Process_Result r = Decode({"--auto", "--wpm=22", "--summary", path});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(Normalised(r.out).find(last_over, Normalised(r.out).size() / 2), std::string::npos) << r.out;
    int final_wpm = 0;
    ASSERT_NE(r.err.find("final speed "), std::string::npos) << r.err;
    sscanf(r.err.c_str() + r.err.find("final speed ") + 12, "%d", &final_wpm);
    EXPECT_GE(final_wpm, 23) << r.err;
    EXPECT_LE(final_wpm, 26) << r.err;
    EXPECT_NE(r.err.find(" s of audio per CPU-second"), std::string::npos) << r.err;
}

// Two overs with a pause between them make two lines, each stamped with
// the time the generator keyed its first element, within one unit.
TEST(Decode, TimestampsMatchTheFirstElementOfEachLine)
{
    const char *const overs[2] = {"CQ CQ DE DL2ABC K", "DL2ABC DE G4XYZ GM UR 599 K"};
    Cw_Params p = Sender(20);
    p.trail_ms = 4000.0;  // the pause that ends the first line
    std::vector<int16_t> audio = Cw(p, overs[0]);
    const double second_at = static_cast<double>(audio.size() / 2) / p.rate;
    p.lead_ms = 0.0;
    p.trail_ms = 1000.0;
    p.seed = 8;
    std::vector<int16_t> second = Cw(p, overs[1]);
    audio.insert(audio.end(), second.begin(), second.end());

    double first_key[2];
    for (int i = 0; i < 2; i++) {
        std::vector<Cw_Key> keys;
        double end_s = 0.0;
        std::string error;
        ASSERT_EQ(Cw_Keying(p, overs[i], 20.0, 0.0, 1, keys, end_s, error), 1) << error;
        first_key[i] = keys.front().on_s + (i == 0 ? 0.5 : second_at);
    }

    const std::string path = Scratch() + "/overs.wav";
    Write_Sound_File(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, audio, BOTH);
    Process_Result r = Decode({"--timestamps", path});
    ASSERT_EQ(r.exit_status, 0) << r.err;

    const double unit_s = 1.2 / 20.0;
    size_t pos = 0;
    for (int i = 0; i < 2; i++) {
        size_t eol = r.out.find('\n', pos);
        ASSERT_NE(eol, std::string::npos) << r.out;
        const std::string line = r.out.substr(pos, eol - pos);
        int h = 0, m = 0;
        double s = 0.0;
        char text[128] = "";
        ASSERT_EQ(sscanf(line.c_str(), "%d:%d:%lf %127[^\n]", &h, &m, &s, text), 4) << line;
        EXPECT_NEAR(h * 3600 + m * 60 + s, first_key[i], unit_s) << line;
        EXPECT_EQ(Normalised(text), overs[i]);
        pos = eol + 1;
    }
    EXPECT_EQ(pos, r.out.size()) << "two lines only: " << r.out;

    // The classic engine, named, is the default one.
    Process_Result classic = Decode({"--engine=classic", "--timestamps", path});
    EXPECT_EQ(classic.exit_status, 0) << classic.err;
    EXPECT_EQ(classic.out, r.out);
}

TEST(Decode, UnreadableInputsExitOneNamingTheInput)
{
    const std::string dir = Scratch();
    Write_Text_File(dir + "/notes.txt", "73 de DL2ABC\n");
    Write_Text_File(dir + "/empty.wav", "");
    std::vector<int16_t> audio = Cw(Sender(20), "CQ DE DL2ABC");
    for (const char *name : {"cut.wav", "cut.flac"}) {
        const std::string path = dir + "/" + name;
        const bool flac = std::string(name).ends_with(".flac");
        Write_Sound_File(path, (flac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16, 48000, audio, BOTH);
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        ASSERT_EQ(truncate(path.c_str(), st.st_size / 2), 0);
    }
    Write_Text_File(dir + "/odd.raw", "abc");  // a frame and a half of mono

    const struct {
        std::vector<std::string> args;
        std::string stdin_path;
        std::string message;
    } cases[] = {
        {{dir + "/missing.wav"}, "", dir + "/missing.wav: No such file or directory"},
        {{dir}, "", dir + ": is a directory"},
        {{dir + "/notes.txt"}, "", dir + "/notes.txt: not audio that can be read"},
        {{dir + "/empty.wav"}, "", dir + "/empty.wav: is empty"},
        {{dir + "/cut.wav"}, "", dir + "/cut.wav: truncated"},
        {{dir + "/cut.flac"}, "", dir + "/cut.flac: truncated"},
        {{"-"}, "/dev/null", "standard input: contains no audio"},
        {{"--channels=1", "-"}, dir + "/odd.raw", "standard input: truncated"},
    };
    for (const auto &c : cases) {
        Process_Result r = Decode(c.args, c.stdin_path);
        EXPECT_EQ(r.exit_status, 1) << c.message;
        EXPECT_EQ(r.err.rfind("velkador-decode: " + c.message, 0), 0u) << r.err;
    }
}

TEST(Decode, BadOptionsAndImpossibleSettingsExitTwo)
{
    const std::string wav = Scratch() + "/short.wav";
    Write_Sound_File(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, Cw(Sender(20), "E"), BOTH);
    const struct {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"--tone=199", wav}, "--tone must be a whole number from 200 to 12000, not '199'"},
        {{"--tone=12001", wav}, "--tone must be"},
        {{"--min-wpm=5", "--wpm=10", wav}, "--min-wpm must be a whole number from 6"},
        {{"--max-wpm=61", wav}, "--max-wpm must be a whole number from 1 to 60"},
        {{"--wpm=41", wav}, "--wpm 41 is outside --min-wpm 10 .. --max-wpm 40"},
        {{"--min-wpm=30", "--max-wpm=20", "--wpm=25", wav}, "--wpm 25 is outside --min-wpm 30 .. --max-wpm 20"},
        {{"--squelch=101", wav}, "--squelch must be a whole number from 0 to 100"},
        {{"--ratio=0.9", wav}, "--ratio must be a number from 1.0 to 5.0, not '0.9'"},
        {{"--ratio=2x", wav}, "--ratio must be a number"},
        {{"--channel=middle", wav}, "--channel must be left or right, not 'middle'"},
        {{"--rate=44100", wav}, "--rate and --channels are for raw standard input"},
        {{"--engine=nosuch", wav}, "no decoding engine 'nosuch' (there is: classic, adaptive)"},
        {{"--bogus", wav}, "unknown option '--bogus'"},
        {{"--wpm"}, "option '--wpm' needs a value"},
        {{}, "no input given"},
        {{wav, wav}, "only one input"},
    };
    for (const auto &c : cases) {
        Process_Result r = Decode(c.args);
        EXPECT_EQ(r.exit_status, 2) << c.message;
        EXPECT_EQ(r.err.rfind(std::string("velkador-decode: ") + c.message, 0), 0u) << r.err;
        EXPECT_EQ(r.out, "") << c.message;
    }
    Process_Result help = Decode({"--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_NE(help.out.find("velkador-cer"), std::string::npos) << "the accuracy table's command";
}

// `velkador-decode - | head -c 20`: the reader goes away, the tool ends
// quietly; Ctrl-C on a live pipe that has gone silent ends it with the text.
TEST(Decode, ClosedPipeAndCtrlCEndQuietly)
{
    const std::string raw = Scratch() + "/long.raw";
    std::string text;
    for (int i = 0; i < 6; i++)
        text += std::string(QSO) + " ";
    Write_Raw_Samples(raw, Cw(Sender(30), text));
    std::vector<std::string> env = Current_Environment();
    Set_Env(env, "DECODE_STDIN", raw);
    Process_Result head = Run_Process(
        {"/bin/bash", "-c", "\"$0\" --wpm=30 - < \"$DECODE_STDIN\" | head -c 20; echo \" ${PIPESTATUS[0]}\"", TOOL},
        env, TIMEOUT_MS);
    EXPECT_EQ(head.exit_status, 0);
    EXPECT_EQ(head.out, std::string(QSO).substr(0, 20) + " 0\n");
    EXPECT_EQ(head.err, "");

    const std::string fifo = Scratch() + "/live";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Set_Env(env, "DECODE_STDIN", fifo);
    Child_Process child;
    ASSERT_TRUE(Start_Process(child, {"/bin/bash", "-c", "exec \"$0\" - < \"$DECODE_STDIN\"", TOOL}, env));
    int fd = open(fifo.c_str(), O_WRONLY);  // waits for the tool to open its end
    ASSERT_GE(fd, 0);
    Cw_Params p = Sender(20);
    p.trail_ms = 3000.0;
    std::vector<int16_t> audio = Cw(p, "VVV TEST");
    const char *bytes = reinterpret_cast<const char *>(audio.data());
    size_t left = audio.size() * sizeof(int16_t);
    while (left > 0) {
        ssize_t n = write(fd, bytes, left);
        ASSERT_GT(n, 0);
        bytes += n;
        left -= static_cast<size_t>(n);
    }
    // The writer stays, silent: the text must come out as it is decoded.
    for (int waited = 0; Normalised(child.out) != "VVV TEST" && waited < TIMEOUT_MS; waited += 50)
        ASSERT_FALSE(Wait_Process(child, 50)) << "ended early: " << child.err;
    EXPECT_EQ(Normalised(child.out), "VVV TEST");
    Signal_Process(child, SIGINT);
    ASSERT_TRUE(Wait_Process(child, TIMEOUT_MS));
    close(fd);
    Process_Result r = Result_Of(child);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "VVV TEST\n");
    EXPECT_EQ(r.err, "");
}
