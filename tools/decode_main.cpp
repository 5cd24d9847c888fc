// velkador-decode: the receiver's decoder for recordings, pipes and scripts.
// The text comes from the very engines the window runs: the classic detector,
// decoder and speed tracking (only the sample source, sound/recording.h, and
// the speed shown, an adjustment in place of the speed button, differ), or
// the adaptive decoder, fed the same blocks.
#include <getopt.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/shared.h"
#include "decoder/adaptive.h"
#include "decoder/morse.h"
#include "decoder/offline.h"
#include "decoder/speed.h"
#include "sound/recording.h"

namespace {

constexpr const char *PROG = "velkador-decode";
constexpr int EXIT_DECODED = 0;
constexpr int EXIT_UNREADABLE = 1;
constexpr int EXIT_USAGE = 2;

// A new line begins after this much audio without a character, or at the
// next word gap once a line has this many characters.
constexpr double LINE_PAUSE_S = 2.0;
constexpr int LINE_COLUMNS = 72;

// The detector decides a mark about this many units after the tone rises
// (half-unit filter window, one-unit lead window, one-unit hysteresis);
// timestamps are moved back by it to the element's start.
constexpr double MARK_LAG_UNITS = 1.0;

volatile sig_atomic_t stop_requested = 0;

struct Options {
    const char *input = nullptr;
    offline_settings_t settings;
    int32_t channel = 0;
    int32_t raw_rate = 48000;
    int32_t raw_channels = 2;
    bool raw_options = false;  // --rate or --channels given
    bool timestamps = false;
    bool summary = false;
    const char *engine = nullptr;  // the first of ENGINES
};

// What one engine step hands the output: text (possibly none), and the
// audio times of the step and of the start of the character it yielded.
struct Step_Output {
    char text[8];
    double now_s;
    double char_start_s;
};

// --- Engines --------------------------------------------------------------
// Every engine the tool offers, and the only place that knows them.

// The receiver's detector and state machine, fed through the intake.
int64_t classic_fragments = 0;
int64_t classic_char_start = 0;  // fragment at which the newest character began

int Classic_Setup(const offline_settings_t &settings, char *mesg, size_t len)
{
    classic_fragments = classic_char_start = 0;
    return Setup_Offline_Decoder(settings, mesg, len);
}

// 1 after a step, 0 at the end of the recording.
int Classic_Step(Step_Output &out)
{
    const int32_t before = Decoder_State();
    out.text[0] = '\0';
    if (!Get_Character(out.text))
        return 0;
    classic_fragments++;
    if (Offline_Character_Began(before, Decoder_State()))
        classic_char_start = classic_fragments;
    const double frag_s = 2.0 / rc_data.tone_freq;
    out.now_s = static_cast<double>(classic_fragments) * frag_s;
    double start = (static_cast<double>(classic_char_start) - MARK_LAG_UNITS * rc_data.unit_elem) * frag_s;
    out.char_start_s = start > 0.0 ? start : 0.0;
    return 1;
}

int32_t Classic_Speed(void)
{
    return Shown_Speed();
}

// The adaptive decoder, fed the recording's blocks directly. It needs no
// tail of silence: Adaptive_Finish completes the last character and word.
constexpr int32_t ADAPTIVE_BLOCK_FRAMES = 512;  // the window's capture block

adaptive_decoder_t *adaptive = nullptr;
int16_t adaptive_block[2 * ADAPTIVE_BLOCK_FRAMES];
bool adaptive_finished = false;
double adaptive_last_end_s = 0.0;  // end of the newest character's last element

int Adaptive_Setup(const offline_settings_t &settings, char *mesg, size_t len)
{
    adaptive_settings_t a;
    int32_t tone_hz = 0;
    if (!Round_Offline_Tone(settings, &tone_hz, mesg, len))
        return 0;
    a.rate_hz = OFFLINE_DSP_RATE;
    a.tone_hz = tone_hz;
    adaptive = Adaptive_Create(a, mesg, len);
    adaptive_finished = false;
    adaptive_last_end_s = 0.0;
    return adaptive != nullptr;
}

int Adaptive_Step(Step_Output &out)
{
    out.text[0] = '\0';
    adaptive_char_t ch;
    if (Adaptive_Next(adaptive, &ch)) {
        snprintf(out.text, sizeof(out.text), "%.*s", static_cast<int>(sizeof(ch.text)), ch.text);
        // A word gap counts from the character before it, so that the
        // line-ending pause is measured from the last element heard.
        if (strcmp(out.text, " ") != 0)
            adaptive_last_end_s = ch.end_s;
        out.now_s = adaptive_last_end_s;
        out.char_start_s = strcmp(out.text, " ") != 0 ? ch.start_s : adaptive_last_end_s;
        return 1;
    }
    if (adaptive_finished)
        return 0;
    if (Read_Recording_Block(adaptive_block, ADAPTIVE_BLOCK_FRAMES)) {
        Adaptive_Feed(adaptive, adaptive_block, ADAPTIVE_BLOCK_FRAMES, 2);
    } else {
        Adaptive_Finish(adaptive);
        adaptive_finished = true;
    }
    out.now_s = out.char_start_s = Adaptive_Time_S(adaptive);
    return 1;
}

int32_t Adaptive_Speed(void)
{
    return Adaptive_Wpm(adaptive);
}

void Adaptive_Close(void)
{
    Adaptive_Destroy(adaptive);
    adaptive = nullptr;
}

int64_t Adaptive_Tail_Frames(void)
{
    return 0;
}

void Classic_Close(void)
{
}

struct Engine {
    const char *name;
    int (*setup)(const offline_settings_t &, char *, size_t);
    int (*step)(Step_Output &);
    int32_t (*speed)(void);         // the speed the engine ends at, WPM
    int64_t (*tail_frames)(void);   // silence it needs after the recording
    void (*close)(void);
};

constexpr Engine ENGINES[] = {
    {"classic", Classic_Setup, Classic_Step, Classic_Speed, Offline_Tail_Frames, Classic_Close},
    {"adaptive", Adaptive_Setup, Adaptive_Step, Adaptive_Speed, Adaptive_Tail_Frames, Adaptive_Close},
};

// "classic, ..." for the help and the messages.
std::string Engine_Names(void)
{
    std::string names;
    for (const Engine &engine : ENGINES)
        names += (names.empty() ? "" : ", ") + std::string(engine.name);
    return names;
}

const Engine *Find_Engine(const char *name)
{
    for (const Engine &engine : ENGINES)
        if (strcmp(engine.name, name) == 0)
            return &engine;
    return nullptr;
}

// --- Options ---------------------------------------------------------------

void Print_Help(void)
{
    printf("Usage: %s [OPTION]... FILE\n"
           "Decode the CW (Morse code) in a recording, or in raw audio on standard input\n"
           "when FILE is -, with one of velkador's own decoders; the text goes to\n"
           "standard output.\n"
           "\n"
           "Input:\n"
           "  FILE               WAV, FLAC, OGG/Vorbis or any other format libsndfile\n"
           "                     reads, at any sample rate, mono or stereo\n"
           "  -                  raw signed 16-bit little-endian frames on standard input\n"
           "      --rate=HZ      rate of the raw input (default 48000)\n"
           "      --channels=N   values per raw frame, 1 to 16 (default 2)\n"
           "      --channel=left|right  the channel decoded (default left; a mono input\n"
           "                     has only one)\n"
           "\n"
           "Receiver settings (the defaults are the receiver's):\n"
           "      --tone=HZ      Input Tone, 200 up (default 800); rounded as the window\n"
           "                     rounds it for its waterfall, e.g. 700 to 705\n"
           "      --wpm=N        initial speed in words per minute (default 20)\n"
           "      --min-wpm=N    slowest speed, 6 up (default 10)\n"
           "      --max-wpm=N    fastest speed, up to 60 (default 40)\n"
           "      --auto         follow the sender's speed (the window's Auto)\n"
           "      --squelch=N    squelch, 0 to 100 (default 3)\n"
           "      --ratio=X      lead/trail ratio, 1.0 to 5.0 (default 2.0)\n"
           "      --engine=NAME  decoding engine, one of: %s (default: the first)\n"
           "                     classic is the window's detector and decoder;\n"
           "                     adaptive finds the sender's pitch near the tone and\n"
           "                     the speed by itself: it needs only --tone, and\n"
           "                     --wpm, --min-wpm, --max-wpm, --auto, --squelch and\n"
           "                     --ratio, though still checked, do not change it\n"
           "\n"
           "Output:\n"
           "      --timestamps   begin each line with the audio time of its first\n"
           "                     character, HH:MM:SS.ss\n"
           "      --summary      end with the audio length, characters decoded, the\n"
           "                     final speed and the seconds of audio decoded per\n"
           "                     CPU-second, on standard error\n"
           "  -h, --help         show this help and exit\n"
           "  -V, --version      show the version and exit\n"
           "\n"
           "A line ends after %.0f s without a character, or at a word gap past %d\n"
           "columns. Input at another rate than 48000 Hz is resampled to it (libsoxr).\n"
           "\n"
           "Exit status: 0 decoded (even if nothing was heard), 1 unreadable input,\n"
           "2 bad options or impossible settings.\n"
           "\n"
           "Examples:\n"
           "  %s contest.flac\n"
           "  arecord -f S16_LE -r 48000 -c 2 | %s --auto -\n"
           "  %s --engine=adaptive --tone=650 hand-keyed.wav\n"
           "\n"
           "Decoding accuracy over SNR, speed and jitter, from the build tree:\n"
           "  build/tools/velkador-cer [--engine=NAME[,NAME]...] [--speed=given|unknown]\n",
           PROG, Engine_Names().c_str(), LINE_PAUSE_S, LINE_COLUMNS, PROG, PROG, PROG);
}

[[noreturn]] void Usage_Error(const char *fmt, const char *arg)
{
    fprintf(stderr, "%s: ", PROG);
    fprintf(stderr, fmt, arg);
    fprintf(stderr, "\nTry '%s --help' for more information.\n", PROG);
    exit(EXIT_USAGE);
}

// A whole number within lo .. hi, or a usage error naming the option.
int32_t Int_Option(const char *option, const char *arg, long lo, long hi)
{
    char *end = nullptr;
    errno = 0;
    long v = strtol(arg, &end, 10);
    if (errno != 0 || end == arg || *end != '\0' || v < lo || v > hi) {
        char fmt[160];
        snprintf(fmt, sizeof(fmt), "--%s must be a whole number from %ld to %ld, not '%%s'", option, lo, hi);
        Usage_Error(fmt, arg);
    }
    return static_cast<int32_t>(v);
}

double Real_Option(const char *option, const char *arg, double lo, double hi)
{
    char *end = nullptr;
    errno = 0;
    double v = strtod(arg, &end);
    if (errno != 0 || end == arg || *end != '\0' || !(v >= lo && v <= hi)) {
        char fmt[160];
        snprintf(fmt, sizeof(fmt), "--%s must be a number from %.1f to %.1f, not '%%s'", option, lo, hi);
        Usage_Error(fmt, arg);
    }
    return v;
}

Options Parse_Options(int argc, char **argv)
{
    enum { OPT_CHANNEL = 256, OPT_RATE, OPT_CHANNELS, OPT_TONE, OPT_WPM, OPT_MIN_WPM, OPT_MAX_WPM,
           OPT_AUTO, OPT_SQUELCH, OPT_RATIO, OPT_TIMESTAMPS, OPT_SUMMARY, OPT_ENGINE };
    static const struct option long_options[] = {
        {"channel", required_argument, nullptr, OPT_CHANNEL},
        {"rate", required_argument, nullptr, OPT_RATE},
        {"channels", required_argument, nullptr, OPT_CHANNELS},
        {"tone", required_argument, nullptr, OPT_TONE},
        {"wpm", required_argument, nullptr, OPT_WPM},
        {"min-wpm", required_argument, nullptr, OPT_MIN_WPM},
        {"max-wpm", required_argument, nullptr, OPT_MAX_WPM},
        {"auto", no_argument, nullptr, OPT_AUTO},
        {"squelch", required_argument, nullptr, OPT_SQUELCH},
        {"ratio", required_argument, nullptr, OPT_RATIO},
        {"timestamps", no_argument, nullptr, OPT_TIMESTAMPS},
        {"summary", no_argument, nullptr, OPT_SUMMARY},
        {"engine", required_argument, nullptr, OPT_ENGINE},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0}};

    Options o;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":hV", long_options, nullptr)) != -1) {
        switch (c) {
        case OPT_CHANNEL:
            if (strcmp(optarg, "left") == 0)
                o.channel = 0;
            else if (strcmp(optarg, "right") == 0)
                o.channel = 1;
            else
                Usage_Error("--channel must be left or right, not '%s'", optarg);
            break;
        case OPT_RATE:
            o.raw_rate = Int_Option("rate", optarg, 1000, 768000);
            o.raw_options = true;
            break;
        case OPT_CHANNELS:
            o.raw_channels = Int_Option("channels", optarg, 1, 16);
            o.raw_options = true;
            break;
        case OPT_TONE:
            o.settings.tone_hz = Int_Option("tone", optarg, MIN_INPUT_TONE, OFFLINE_DSP_RATE / 4);
            break;
        case OPT_WPM:
            o.settings.wpm = Int_Option("wpm", optarg, 1, 1000);
            break;
        case OPT_MIN_WPM:
            o.settings.min_wpm = Int_Option("min-wpm", optarg, MIN_WPM_LIMIT, 1000);
            break;
        case OPT_MAX_WPM:
            o.settings.max_wpm = Int_Option("max-wpm", optarg, 1, MAX_WPM_LIMIT);
            break;
        case OPT_AUTO:
            o.settings.auto_speed = true;
            break;
        case OPT_SQUELCH:
            o.settings.squelch = Int_Option("squelch", optarg, 0, 100);
            break;
        case OPT_RATIO:
            o.settings.ratio = Real_Option("ratio", optarg, 1.0, 5.0);
            break;
        case OPT_TIMESTAMPS:
            o.timestamps = true;
            break;
        case OPT_SUMMARY:
            o.summary = true;
            break;
        case OPT_ENGINE:
            o.engine = optarg;
            if (Find_Engine(optarg) == nullptr) {
                const std::string fmt = "no decoding engine '%s' (there is: " + Engine_Names() + ")";
                Usage_Error(fmt.c_str(), optarg);
            }
            break;
        case 'h':
            Print_Help();
            exit(EXIT_DECODED);
        case 'V':
            printf("%s %s\n", PROG, &VERSION_LINE[strlen("velkador ")]);
            exit(EXIT_DECODED);
        case ':':
            Usage_Error("option '%s' needs a value", argv[optind - 1]);
        default:
            Usage_Error("unknown option '%s'", argv[optind - 1]);
        }
    }
    if (optind >= argc)
        Usage_Error("%s", "no input given (a file, or - for standard input)");
    if (optind + 1 < argc)
        Usage_Error("only one input can be decoded at a time, not also '%s'", argv[optind + 1]);
    o.input = argv[optind];
    if (o.raw_options && strcmp(o.input, "-") != 0)
        Usage_Error("--rate and --channels are for raw standard input (-), not '%s'", o.input);

    // The configuration file's checks: the speed limits, then the initial
    // speed within them (so a minimum above the maximum admits none).
    const offline_settings_t &s = o.settings;
    if (s.wpm < s.min_wpm || s.wpm > s.max_wpm) {
        char range[64];
        snprintf(range, sizeof(range), "%d", s.wpm);
        char fmt[160];
        snprintf(fmt, sizeof(fmt), "--wpm %%s is outside --min-wpm %d .. --max-wpm %d", s.min_wpm, s.max_wpm);
        Usage_Error(fmt, range);
    }
    return o;
}

// --- Output ----------------------------------------------------------------

struct Printer {
    bool flush_each = false;
    bool timestamps = false;
    bool broken = false;       // standard output has gone (a closed pipe)
    int write_errno = 0;       // another write failure
    bool space_held = false;   // a word gap not printed yet: a blank, or the line's end
    int column = 0;            // characters on the current line
    double last_text_s = -1.0; // audio time of the newest text
    int64_t characters = 0;
};

void Check_Output(Printer &p)
{
    if (!ferror(stdout) && (!p.flush_each || fflush(stdout) == 0))
        return;
    if (errno == EPIPE)
        p.broken = true;
    else
        p.write_errno = errno != 0 ? errno : EIO;
}

void Print_Time(double t)
{
    long cs = static_cast<long>(t * 100.0 + 0.5);
    printf("%02ld:%02ld:%02ld.%02ld ", cs / 360000, (cs / 6000) % 60, (cs / 100) % 60, cs % 100);
}

void Print_Text(Printer &p, const Step_Output &out)
{
    if (strcmp(out.text, " ") == 0) {
        if (p.column > 0)
            p.space_held = true;
        p.last_text_s = out.now_s;
        return;
    }
    const bool pause = p.last_text_s >= 0.0 && out.char_start_s - p.last_text_s >= LINE_PAUSE_S;
    if (p.column > 0 && (pause || (p.space_held && p.column >= LINE_COLUMNS))) {
        putchar('\n');
        p.column = 0;
    } else if (p.space_held && p.column > 0) {
        putchar(' ');
        p.column++;
    }
    p.space_held = false;
    if (p.column == 0 && p.timestamps)
        Print_Time(out.char_start_s);
    fputs(out.text, stdout);
    p.column++;
    p.characters++;
    p.last_text_s = out.now_s;
    Check_Output(p);
}

void End_Output(Printer &p)
{
    if (p.column > 0 && !p.broken)
        putchar('\n');
    if (fflush(stdout) != 0 || ferror(stdout)) {
        if (errno == EPIPE)
            p.broken = true;
        else if (p.write_errno == 0)
            p.write_errno = errno != 0 ? errno : EIO;
    }
}

double Cpu_Seconds(void)
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void On_Stop_Signal(int)
{
    stop_requested = 1;
    Interrupt_Recording();
}

void Install_Signals(void)
{
    // No SA_RESTART: a read from a silent pipe returns, and the loop ends.
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = On_Stop_Signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as EPIPE and ends quietly
}

bool Output_Is_Live(void)
{
    struct stat st;
    if (isatty(STDOUT_FILENO))
        return true;
    return fstat(STDOUT_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

}  // namespace

int main(int argc, char **argv)
{
    Options o = Parse_Options(argc, argv);
    const Engine *engine = o.engine != nullptr ? Find_Engine(o.engine) : &ENGINES[0];

    char mesg[512] = "";
    if (!engine->setup(o.settings, mesg, sizeof(mesg))) {
        fprintf(stderr, "%s: %s\n", PROG, mesg);
        return EXIT_USAGE;
    }

    recording_source_t source = {o.input, o.raw_rate, o.raw_channels, o.channel, OFFLINE_DSP_RATE,
                             engine->tail_frames()};
    if (!Open_Recording(source, mesg, sizeof(mesg))) {
        fprintf(stderr, "%s: %s\n", PROG, mesg);
        return EXIT_UNREADABLE;
    }
    Install_Signals();

    Printer printer;
    printer.flush_each = Output_Is_Live();
    printer.timestamps = o.timestamps;
    Step_Output out;
    while (!stop_requested && !printer.broken && printer.write_errno == 0 && engine->step(out))
        if (out.text[0] != '\0')
            Print_Text(printer, out);
    End_Output(printer);

    const int status = Recording_Status();
    const double audio_s = static_cast<double>(Recording_Frames()) / OFFLINE_DSP_RATE;
    if (o.summary) {
        const double cpu_s = Cpu_Seconds();
        fprintf(stderr, "%s: %.1f s of audio, %lld characters, final speed %d WPM, %.0f s of audio per CPU-second\n",
                PROG, audio_s, static_cast<long long>(printer.characters), engine->speed(),
                cpu_s > 0.0 ? audio_s / cpu_s : 0.0);
    }
    Close_Recording();
    engine->close();
    if (printer.write_errno != 0) {
        fprintf(stderr, "%s: standard output: %s\n", PROG, strerror(printer.write_errno));
        return EXIT_UNREADABLE;
    }
    if (status == RECORDING_FAILED && !printer.broken) {
        fprintf(stderr, "%s: %s\n", PROG, Recording_Error());
        return EXIT_UNREADABLE;
    }
    return EXIT_DECODED;
}
