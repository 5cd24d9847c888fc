// velkador-cer: the decoding accuracy table. For every cell of SNR x speed x
// jitter the generator keys the same text, velkador-decode decodes it as a
// separate process (so every engine it offers can be measured the same way,
// several side by side on the very same audio), and the cell shows the
// character error rate: the edit distance between the text sent and the text
// decoded, over the length of the text sent. The same cells can be sent off
// the decoder's tone or by a sender who changes speed; noise alone gives the
// false characters per minute instead.
#include <fcntl.h>
#include <getopt.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cwgen.h"

extern char **environ;

namespace {

constexpr const char *PROG = "velkador-cer";

// The decoder's default Input Tone, which it is left at: an offset moves the
// sender instead.
constexpr double DECODER_TONE_HZ = 800.0;

struct Options {
    std::vector<std::string> engines = {"classic"};
    bool speed_given = true;
    int snr_low = -10, snr_high = 20, snr_step = 2;
    std::vector<std::vector<int>> senders = {{12}, {20}, {30}, {40}};  // speeds of each, in turn
    bool speed_change = false;
    std::vector<double> jitters = {0.0, 0.1, 0.2};
    int offset_hz = 0;
    bool noise_alone = false;
    std::vector<double> levels = {-40, -30, -20, -10, -6};  // dBFS
    int noise_seconds = 300;
    double band_low_hz = 300.0, band_high_hz = 2800.0;
    int chars = 300;
    uint64_t seed = 1;
    int jobs = 1;
    std::string decoder;
    std::string keep_dir;
};

// One recording, decoded by every engine. For noise alone only level_dbfs
// counts.
struct Cell {
    int snr;
    size_t sender;
    double jitter;
    double level_dbfs;
    std::vector<double> result;  // per engine: CER % or false characters per minute; -1: failed
};

// An engine that finds the sender's speed itself is never told it.
bool Finds_Speed(const std::string &engine)
{
    return engine == "adaptive";
}

void Print_Help(void)
{
    printf("Usage: %s [OPTION]...\n"
           "Print the character error rate (CER, %%) of velkador-decode for every SNR,\n"
           "speed and jitter, with audio from the project's own generator. The same\n"
           "options give the same table, so that a change to decoding can be compared\n"
           "cell by cell.\n"
           "\n"
           "      --engine=LIST          the decoder's engines (velkador-decode --engine),\n"
           "                             comma separated: each cell is decoded by every\n"
           "                             one, one line each (default classic)\n"
           "      --speed=given|unknown  given: the decoder is set to the sender's speed;\n"
           "                             unknown: it starts at its default and follows\n"
           "                             the sender (--auto) (default given); the\n"
           "                             adaptive engine finds the speed itself and is\n"
           "                             never told it\n"
           "      --snr=LOW:HIGH:STEP    SNR in dB in 2500 Hz (default -10:20:2)\n"
           "      --wpm=LIST             speeds, comma separated (default 12,20,30,40)\n"
           "      --change=LIST          in place of --wpm: one sender who changes speed\n"
           "                             within each recording, sending as many equal\n"
           "                             parts of the text at these speeds in turn (e.g.\n"
           "                             18,30,14); a given speed is the first, and the\n"
           "                             decoder then follows (--auto)\n"
           "      --jitter=LIST          hand-keying jitter in units (default 0,0.1,0.2)\n"
           "      --offset=HZ            the sender this far off the decoder's tone of\n"
           "                             %.0f Hz, -500 to 500 (default 0)\n"
           "      --chars=N              characters of text per cell (default 300)\n"
           "      --seed=N               text, jitter and noise seed (default 1)\n"
           "      --jobs=N               cells measured at once (default 1)\n"
           "      --decoder=PATH         the velkador-decode to run (default: the one\n"
           "                             beside this program)\n"
           "      --keep=DIR             keep every cell's audio as a WAV file in DIR\n"
           "  -h, --help                 show this help\n"
           "\n"
           "Noise alone, in place of the table (its SNR, speed, jitter and offset do\n"
           "not apply; speed given leaves a decoder at its defaults):\n"
           "      --noise-alone          false characters per minute on band-limited\n"
           "                             noise without any signal\n"
           "      --levels=LIST          noise RMS in dBFS (default -40,-30,-20,-10,-6)\n"
           "      --seconds=N            seconds of noise per level (default 300)\n"
           "      --band=LOW:HIGH        the noise's band in Hz (default 300:2800)\n"
           "\n"
           "The table as the README shows it:\n"
           "  build/tools/velkador-cer --jobs=2 > cer.txt\n"
           "Both engines side by side, a sender off the tone, one who changes speed:\n"
           "  build/tools/velkador-cer --engine=classic,adaptive --jobs=2\n"
           "  build/tools/velkador-cer --engine=classic,adaptive --offset=40 --jobs=2\n"
           "  build/tools/velkador-cer --engine=classic,adaptive --change=18,30,14 --snr=6:6:1\n",
           PROG, DECODER_TONE_HZ);
}

[[noreturn]] void Usage_Error(const std::string &message)
{
    fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", PROG, message.c_str(), PROG);
    exit(2);
}

template <typename T> std::vector<T> Parse_List(const char *option, const char *text, double lo, double hi)
{
    std::vector<T> out;
    std::string s = text;
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t comma = s.find(',', pos);
        std::string item = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        char *end = nullptr;
        double v = strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !(v >= lo && v <= hi))
            Usage_Error(std::string("--") + option + ": '" + item + "' is not a value from " +
                        std::to_string(lo) + " to " + std::to_string(hi));
        out.push_back(static_cast<T>(v));
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    return out;
}

int Parse_Int(const char *option, const char *text, long lo, long hi)
{
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        Usage_Error(std::string("--") + option + " must be a whole number from " + std::to_string(lo) +
                    " to " + std::to_string(hi) + ", not '" + text + "'");
    return static_cast<int>(v);
}

std::vector<std::string> Parse_Names(const char *text)
{
    std::vector<std::string> names;
    std::string s = text;
    for (size_t pos = 0;;) {
        size_t comma = s.find(',', pos);
        std::string name = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        if (name.empty())
            Usage_Error(std::string("--engine: an empty name in '") + text + "'");
        for (const std::string &n : names)
            if (n == name)
                Usage_Error("--engine: '" + name + "' is given twice");
        names.push_back(name);
        if (comma == std::string::npos)
            return names;
        pos = comma + 1;
    }
}

// Runs the decoder with args, standard input from stdin_path and standard
// output into text (when given) or to /dev/null; its exit status, or -1.
int Run_Program(const std::string &program, std::vector<std::string> args, const char *stdin_path,
                std::string *text)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdin_path, O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid;
    int err = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (err != 0) {
        close(out[0]);
        return -1;
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof(buf))) > 0 || (n < 0 && errno == EINTR))
        if (n > 0 && text != nullptr)
            text->append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Options Parse_Options(int argc, char **argv)
{
    enum { OPT_ENGINE = 256, OPT_SPEED, OPT_SNR, OPT_WPM, OPT_JITTER, OPT_CHARS, OPT_SEED, OPT_JOBS,
           OPT_DECODER, OPT_CHANGE, OPT_OFFSET, OPT_NOISE_ALONE, OPT_LEVELS, OPT_SECONDS, OPT_BAND,
           OPT_KEEP };
    static const struct option long_options[] = {
        {"engine", required_argument, nullptr, OPT_ENGINE}, {"speed", required_argument, nullptr, OPT_SPEED},
        {"snr", required_argument, nullptr, OPT_SNR},       {"wpm", required_argument, nullptr, OPT_WPM},
        {"jitter", required_argument, nullptr, OPT_JITTER}, {"chars", required_argument, nullptr, OPT_CHARS},
        {"seed", required_argument, nullptr, OPT_SEED},     {"jobs", required_argument, nullptr, OPT_JOBS},
        {"decoder", required_argument, nullptr, OPT_DECODER}, {"change", required_argument, nullptr, OPT_CHANGE},
        {"offset", required_argument, nullptr, OPT_OFFSET}, {"noise-alone", no_argument, nullptr, OPT_NOISE_ALONE},
        {"levels", required_argument, nullptr, OPT_LEVELS}, {"seconds", required_argument, nullptr, OPT_SECONDS},
        {"band", required_argument, nullptr, OPT_BAND},     {"keep", required_argument, nullptr, OPT_KEEP},
        {"help", no_argument, nullptr, 'h'},                {nullptr, 0, nullptr, 0}};
    Options o;
    bool wpm_given = false;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":h", long_options, nullptr)) != -1) {
        switch (c) {
        case OPT_ENGINE:
            o.engines = Parse_Names(optarg);
            break;
        case OPT_SPEED:
            if (strcmp(optarg, "given") != 0 && strcmp(optarg, "unknown") != 0)
                Usage_Error(std::string("--speed must be given or unknown, not '") + optarg + "'");
            o.speed_given = strcmp(optarg, "given") == 0;
            break;
        case OPT_SNR:
            if (sscanf(optarg, "%d:%d:%d", &o.snr_low, &o.snr_high, &o.snr_step) != 3 || o.snr_step <= 0 ||
                o.snr_low > o.snr_high || o.snr_low < -40 || o.snr_high > 100)
                Usage_Error(std::string("--snr must be LOW:HIGH:STEP in dB, not '") + optarg + "'");
            break;
        case OPT_WPM:
            o.senders.clear();
            for (int wpm : Parse_List<int>("wpm", optarg, 6, 60))
                o.senders.push_back({wpm});
            wpm_given = true;
            break;
        case OPT_CHANGE:
            o.senders = {Parse_List<int>("change", optarg, 6, 60)};
            if (o.senders[0].size() < 2)
                Usage_Error(std::string("--change needs two speeds or more, not '") + optarg + "'");
            o.speed_change = true;
            break;
        case OPT_JITTER:
            o.jitters = Parse_List<double>("jitter", optarg, 0.0, 0.5);
            break;
        case OPT_OFFSET:
            o.offset_hz = Parse_Int("offset", optarg, -500, 500);
            break;
        case OPT_NOISE_ALONE:
            o.noise_alone = true;
            break;
        case OPT_LEVELS:
            o.levels = Parse_List<double>("levels", optarg, -120.0, 0.0);
            break;
        case OPT_SECONDS:
            o.noise_seconds = Parse_Int("seconds", optarg, 1, 3600);
            break;
        case OPT_BAND:
            if (sscanf(optarg, "%lf:%lf", &o.band_low_hz, &o.band_high_hz) != 2 || !(o.band_low_hz >= 10.0) ||
                !(o.band_high_hz > o.band_low_hz) || o.band_high_hz > 20000.0)
                Usage_Error(std::string("--band must be LOW:HIGH in Hz, 10 <= LOW < HIGH <= 20000, not '") +
                            optarg + "'");
            break;
        case OPT_CHARS:
            o.chars = Parse_Int("chars", optarg, 10, 100000);
            break;
        case OPT_SEED:
            o.seed = static_cast<uint64_t>(Parse_Int("seed", optarg, 0, INT_MAX));
            break;
        case OPT_JOBS:
            o.jobs = Parse_Int("jobs", optarg, 1, 64);
            break;
        case OPT_DECODER:
            o.decoder = optarg;
            break;
        case OPT_KEEP:
            o.keep_dir = optarg;
            if (o.keep_dir.empty())
                Usage_Error("--keep needs a directory");
            break;
        case 'h':
            Print_Help();
            exit(0);
        case ':':
            Usage_Error(std::string("option '") + argv[optind - 1] + "' needs a value");
        default:
            Usage_Error(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc)
        Usage_Error(std::string("unexpected argument '") + argv[optind] + "'");
    if (wpm_given && o.speed_change)
        Usage_Error("--change takes the place of --wpm: give one of them");
    if (o.decoder.empty()) {
        char self[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
        std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv[0]);
        dir = dir.substr(0, dir.rfind('/') + 1);
        o.decoder = dir + "velkador-decode";
    }
    if (access(o.decoder.c_str(), X_OK) != 0)
        Usage_Error("no velkador-decode at " + o.decoder + " (give --decoder)");
    // An engine the decoder does not offer: its own message, before any cell.
    for (const std::string &engine : o.engines)
        if (Run_Program(o.decoder, {o.decoder, "--engine=" + engine, "--help"}, "/dev/null", nullptr) != 0)
            Usage_Error("velkador-decode does not take --engine=" + engine);
    if (!o.keep_dir.empty() && mkdir(o.keep_dir.c_str(), 0755) != 0 && errno != EEXIST)
        Usage_Error("--keep: " + o.keep_dir + ": " + strerror(errno));
    return o;
}

// Words of ordinary QSOs and contests, drawn by a fixed generator so that a
// seed always gives the same text.
std::string Cell_Text(int chars, uint64_t seed)
{
    static const char *const words[] = {
        "CQ", "DE", "K", "TNX", "FER", "CALL", "UR", "RST", "599", "5NN", "579", "NAME", "QTH", "HW?",
        "73", "GM", "GE", "OM", "R", "FB", "WX", "RIG", "ANT", "DIPOLE", "TEST", "DL2ABC", "G4XYZ",
        "VK3KQ", "JA1NUT", "W1AW", "PA0XX", "OK", "BK", "AGN", "?", "QRZ?", "14", "25", "TU", "EE",
        "NR", "001", "=", "/P", "JOHN", "PETER", "BERLIN", "LONDON", "<SK>", "<BK>"};
    const size_t count = sizeof(words) / sizeof(words[0]);
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
    std::string text;
    while (static_cast<int>(text.size()) < chars) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        if (!text.empty())
            text += ' ';
        text += words[state % count];
    }
    return text;
}

// Upper case, one blank between words, none at the ends; a line break is a word gap.
std::string Normalised(const std::string &text)
{
    std::string out;
    for (char ch : text) {
        if (ch == ' ' || ch == '\n' || ch == '\t' || ch == '\r') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The text in parts of about equal length, split between words.
std::vector<std::string> Split_Text(const std::string &text, size_t parts)
{
    std::vector<std::string> out(1);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t blank = text.find(' ', pos);
        if (blank == std::string::npos)
            blank = text.size();
        const bool part_full = out.size() < parts && !out.back().empty() &&
                               pos * parts >= out.size() * text.size();
        if (part_full)
            out.emplace_back();
        if (!out.back().empty())
            out.back() += ' ';
        out.back() += text.substr(pos, blank - pos);
        pos = blank + 1;
    }
    return out;
}

// The generator's settings for the recording of a cell, one for each part a
// sender sends at one speed: the parts follow each other with a word gap.
std::vector<Cw_Params> Cell_Params(const Options &o, const Cell &cell, int index)
{
    Cw_Params p;
    p.seed = o.seed * 1000003ull + static_cast<uint64_t>(index);
    if (o.noise_alone) {
        p.noise_at_level = true;
        p.noise_dbfs = cell.level_dbfs;
        p.band_low_hz = o.band_low_hz;
        p.band_high_hz = o.band_high_hz;
        p.lead_ms = 0.0;
        p.trail_ms = 1000.0 * o.noise_seconds;
        return {p};
    }
    p.jitter = cell.jitter;
    p.noise = true;
    p.snr_db = cell.snr;
    p.tone_hz = DECODER_TONE_HZ + o.offset_hz;
    const std::vector<int> &speeds = o.senders[cell.sender];
    std::vector<Cw_Params> parts;
    for (size_t k = 0; k < speeds.size(); k++) {
        Cw_Params part = p;
        part.wpm = speeds[k];
        part.seed = p.seed + k * 0x9E3779B97F4A7C15ull;
        if (k > 0)
            part.lead_ms = 0.0;
        // The generator ends a part with a character gap of 3 units; 4 more make the word gap.
        if (k + 1 < speeds.size())
            part.trail_ms = 4.0 * 1200.0 / speeds[k];
        parts.push_back(part);
    }
    return parts;
}

std::string Sender_Label(const std::vector<int> &speeds, const char *between)
{
    std::string label;
    for (int wpm : speeds)
        label += (label.empty() ? "" : between) + std::to_string(wpm);
    return label;
}

// The name a kept recording gets: what tells the cells apart.
std::string Cell_Name(const Options &o, const Cell &cell)
{
    char name[160];
    if (o.noise_alone) {
        snprintf(name, sizeof(name), "noise%+.0fdBFS.wav", cell.level_dbfs);
        return name;
    }
    snprintf(name, sizeof(name), "snr%+03d-wpm%s-jitter%.2f", cell.snr,
             Sender_Label(o.senders[cell.sender], "-").c_str(), cell.jitter);
    std::string s = name;
    if (o.offset_hz != 0)
        s += "-offset" + std::string(o.offset_hz > 0 ? "+" : "") + std::to_string(o.offset_hz);
    return s + ".wav";
}

bool Write_All(int fd, const void *data, size_t len)
{
    const char *bytes = static_cast<const char *>(data);
    while (len > 0) {
        ssize_t n = write(fd, bytes, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// The cell's recording as a 48 kHz stereo WAV file, rendered piece by piece
// so that long noise never sits in memory.
bool Write_Cell_Audio(const Options &o, const Cell &cell, int index, const std::string &sent, int fd)
{
    const std::vector<Cw_Params> params = Cell_Params(o, cell, index);
    const std::vector<std::string> parts = o.noise_alone ? std::vector<std::string>{""}
                                                         : Split_Text(sent, params.size());
    std::vector<Cw_Stream> streams(params.size());
    int64_t frames = 0;
    for (size_t k = 0; k < params.size(); k++) {
        std::string error;
        if (!Cw_Begin(streams[k], params[k], k < parts.size() ? parts[k] : "", error)) {
            fprintf(stderr, "%s: %s\n", PROG, error.c_str());
            return false;
        }
        frames += streams[k].total_frames;
    }
    uint8_t header[44];
    Cw_Wav_Header(params[0].rate, frames, header);
    if (!Write_All(fd, header, sizeof(header)))
        return false;
    std::vector<int16_t> block(2 * 8192);
    for (Cw_Stream &stream : streams)
        for (size_t n; (n = Cw_Render(stream, block.data(), block.size() / 2)) > 0;)
            if (!Write_All(fd, block.data(), 2 * n * sizeof(int16_t)))
                return false;
    return true;
}

std::vector<std::string> Decoder_Args(const Options &o, const std::string &engine, const Cell &cell,
                                      const std::string &path)
{
    std::vector<std::string> args = {o.decoder, "--engine=" + engine};
    const std::vector<int> &speeds = o.senders[cell.sender];
    if (Finds_Speed(engine)) {
        // told nothing but the tone, which it is left at
    } else if (!o.speed_given) {
        args.push_back("--auto");
    } else if (!o.noise_alone) {
        args.push_back("--wpm=" + std::to_string(speeds[0]));
        if (speeds.size() > 1)
            args.push_back("--auto");
        // The decoder's limits are its defaults; a given speed outside them widens them.
        int lo = speeds[0], hi = speeds[0];
        for (int wpm : speeds) {
            lo = wpm < lo ? wpm : lo;
            hi = wpm > hi ? wpm : hi;
        }
        if (lo < 10)
            args.push_back("--min-wpm=" + std::to_string(lo));
        if (hi > 40)
            args.push_back("--max-wpm=" + std::to_string(hi));
    }
    args.push_back(path);
    return args;
}

void Measure_Cell(const Options &o, Cell &cell, int index, const std::string &sent)
{
    cell.result.assign(o.engines.size(), -1.0);
    std::string path;
    int fd;
    if (!o.keep_dir.empty()) {
        path = o.keep_dir + "/" + Cell_Name(o, cell);
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    } else {
        char tmp[] = "/tmp/velkador-cer-XXXXXX";
        fd = mkstemp(tmp);
        path = tmp;
    }
    if (fd < 0) {
        fprintf(stderr, "%s: %s: %s\n", PROG, path.c_str(), strerror(errno));
        return;
    }
    const bool written = Write_Cell_Audio(o, cell, index, sent, fd);
    if (close(fd) != 0 || !written) {
        fprintf(stderr, "%s: %s: cannot write the recording\n", PROG, path.c_str());
        if (o.keep_dir.empty())
            unlink(path.c_str());
        return;
    }
    const std::string want = Normalised(sent);
    for (size_t e = 0; e < o.engines.size(); e++) {
        std::string decoded;
        if (Run_Program(o.decoder, Decoder_Args(o, o.engines[e], cell, path), "/dev/null", &decoded) != 0)
            continue;
        decoded = Normalised(decoded);
        if (o.noise_alone) {
            size_t chars = 0;
            for (char ch : decoded)
                chars += ch != ' ' ? 1 : 0;
            cell.result[e] = static_cast<double>(chars) * 60.0 / o.noise_seconds;
        } else {
            cell.result[e] = 100.0 * static_cast<double>(Edit_Distance(want, decoded)) /
                             static_cast<double>(want.size());
        }
    }
    if (o.keep_dir.empty())
        unlink(path.c_str());
}

// Each cell in its own child, at most jobs at a time; results come back
// through one pipe as "index result..." lines.
void Measure_All(const Options &o, std::vector<Cell> &cells, const std::string &sent)
{
    int results[2];
    if (pipe(results) != 0) {
        perror(PROG);
        exit(1);
    }
    size_t next = 0, running = 0, done = 0;
    std::string pending;
    while (done < cells.size()) {
        while (running < static_cast<size_t>(o.jobs) && next < cells.size()) {
            fflush(nullptr);
            pid_t pid = fork();
            if (pid == 0) {
                close(results[0]);
                Measure_Cell(o, cells[next], static_cast<int>(next), sent);
                std::string line = std::to_string(next);
                for (double r : cells[next].result) {
                    char value[32];
                    snprintf(value, sizeof(value), " %.6f", r);
                    line += value;
                }
                line += '\n';
                // Below PIPE_BUF for any sensible number of engines, so one write.
                ssize_t w = write(results[1], line.data(), line.size());
                _exit(w == static_cast<ssize_t>(line.size()) ? 0 : 1);
            }
            if (pid < 0) {
                perror(PROG);
                exit(1);
            }
            next++;
            running++;
        }
        char buf[256];
        ssize_t n = read(results[0], buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buf, static_cast<size_t>(n));
        for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            char *end = nullptr;
            const unsigned long index = strtoul(line.c_str(), &end, 10);
            if (index < cells.size()) {
                cells[index].result.assign(o.engines.size(), -1.0);
                for (double &r : cells[index].result)
                    r = strtod(end, &end);
            }
            done++;
            running--;
            while (waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            if (isatty(STDERR_FILENO))
                fprintf(stderr, "\r%s: %zu of %zu cells", PROG, done, cells.size());
        }
    }
    if (isatty(STDERR_FILENO))
        fprintf(stderr, "\n");
    while (wait(nullptr) > 0) {
    }
    close(results[0]);
    close(results[1]);
}

// "--engine=classic, speed given, and --engine=adaptive, ..." for the heading.
std::string Engines_Heading(const Options &o)
{
    std::string heading;
    for (size_t e = 0; e < o.engines.size(); e++) {
        const std::string &engine = o.engines[e];
        std::string speed;
        if (Finds_Speed(engine))
            speed = "speed unknown (it finds the speed itself)";
        else if (o.noise_alone)
            speed = o.speed_given ? "at its defaults" : "--auto from 20 WPM";
        else if (!o.speed_given)
            speed = "speed unknown (--auto from 20 WPM)";
        else
            speed = o.speed_change ? "speed given (the first, then --auto)" : "speed given";
        heading += std::string(e == 0 ? "" : e + 1 == o.engines.size() ? ", and " : ", ") + "--engine=" + engine +
                   ", " + speed;
    }
    return heading;
}

void Print_Result(double r, int width, bool &failed)
{
    if (r < 0.0) {
        printf(" %*s", width, "fail");
        failed = true;
    } else {
        printf(" %*.1f", width, r);
    }
}

// Rows of SNR (one line per engine when there are several), columns of
// speed and jitter; 1 when a cell failed.
bool Print_Table(const Options &o, const std::vector<Cell> &cells)
{
    const bool several = o.engines.size() > 1;
    printf("# velkador-cer: CER %% of velkador-decode %s; %d characters per cell, seed %llu\n",
           Engines_Heading(o).c_str(), o.chars, static_cast<unsigned long long>(o.seed));
    if (o.offset_hz != 0)
        printf("# the sender %+d Hz off the decoder's tone of %.0f Hz\n", o.offset_hz, DECODER_TONE_HZ);
    if (o.speed_change)
        printf("# one sender changing speed within each recording, equal parts of the text at %s WPM\n",
               Sender_Label(o.senders[0], ", then ").c_str());
    printf("# columns: WPM/jitter in units; rows: SNR in dB in 2500 Hz%s\n", several ? ", a line per engine" : "");

    std::vector<std::string> labels;
    for (const std::vector<int> &speeds : o.senders)
        for (double jitter : o.jitters)
            labels.push_back(Sender_Label(speeds, ">") + "/" + std::to_string(jitter).substr(0, 3));
    size_t name_width = 0;
    for (const std::string &engine : o.engines)
        name_width = engine.size() > name_width ? engine.size() : name_width;
    printf("%6s", "SNR");
    if (several)
        printf(" %-*s", static_cast<int>(name_width), "engine");
    for (const std::string &label : labels)
        printf(" %7s", label.c_str());
    printf("\n");

    bool failed = false;
    const size_t columns = labels.size();
    for (size_t row = 0; row < cells.size(); row += columns) {
        for (size_t e = 0; e < o.engines.size(); e++) {
            printf("%6d", cells[row].snr);
            if (several)
                printf(" %-*s", static_cast<int>(name_width), o.engines[e].c_str());
            for (size_t col = 0; col < columns; col++)
                Print_Result(cells[row + col].result[e], labels[col].size() > 7 ? static_cast<int>(labels[col].size()) : 7,
                             failed);
            printf("\n");
        }
    }
    return failed;
}

bool Print_Noise_Table(const Options &o, const std::vector<Cell> &cells)
{
    printf("# velkador-cer: false characters per minute of velkador-decode %s; on noise alone in %.0f..%.0f Hz, "
           "%d s per level, seed %llu\n",
           Engines_Heading(o).c_str(), o.band_low_hz, o.band_high_hz, o.noise_seconds,
           static_cast<unsigned long long>(o.seed));
    printf("# columns: engines; rows: the noise's RMS in dBFS\n");
    printf("%6s", "dBFS");
    for (const std::string &engine : o.engines)
        printf(" %9s", engine.c_str());
    printf("\n");
    bool failed = false;
    for (const Cell &cell : cells) {
        printf("%6.0f", cell.level_dbfs);
        for (double r : cell.result)
            Print_Result(r, 9, failed);
        printf("\n");
    }
    return failed;
}

}  // namespace

int main(int argc, char **argv)
{
    Options o = Parse_Options(argc, argv);
    const std::string sent = o.noise_alone ? std::string() : Cell_Text(o.chars, o.seed);

    std::vector<Cell> cells;
    if (o.noise_alone) {
        for (double level : o.levels)
            cells.push_back({0, 0, 0.0, level, std::vector<double>(o.engines.size(), -1.0)});
    } else {
        for (int snr = o.snr_high; snr >= o.snr_low; snr -= o.snr_step)
            for (size_t sender = 0; sender < o.senders.size(); sender++)
                for (double jitter : o.jitters)
                    cells.push_back({snr, sender, jitter, 0.0, std::vector<double>(o.engines.size(), -1.0)});
    }
    Measure_All(o, cells, sent);
    const bool failed = o.noise_alone ? Print_Noise_Table(o, cells) : Print_Table(o, cells);
    return failed ? 1 : 0;
}
