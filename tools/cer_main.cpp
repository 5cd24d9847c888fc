// velkador-cer: the decoding accuracy table. For every cell of SNR x speed x
// jitter the generator keys the same text, velkador-decode decodes it as a
// separate process (so every engine it offers can be measured the same way),
// and the cell shows the character error rate: the edit distance between the
// text sent and the text decoded, over the length of the text sent.
#include <fcntl.h>
#include <getopt.h>
#include <spawn.h>
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

struct Options {
    std::string engine = "classic";
    bool speed_given = true;
    int snr_low = -10, snr_high = 20, snr_step = 2;
    std::vector<int> wpms = {12, 20, 30, 40};
    std::vector<double> jitters = {0.0, 0.1, 0.2};
    int chars = 300;
    uint64_t seed = 1;
    int jobs = 1;
    std::string decoder;
};

struct Cell {
    int snr;
    int wpm;
    double jitter;
    double cer = -1.0;  // -1: the decoder failed
};

void Print_Help(void)
{
    printf("Usage: %s [OPTION]...\n"
           "Print the character error rate (CER, %%) of velkador-decode for every SNR,\n"
           "speed and jitter, with audio from the project's own generator. The same\n"
           "options give the same table, so that a change to decoding can be compared\n"
           "cell by cell.\n"
           "\n"
           "      --engine=NAME          the decoder's engine (velkador-decode --engine)\n"
           "      --speed=given|unknown  given: the decoder is set to the sender's speed;\n"
           "                             unknown: it starts at its default and follows\n"
           "                             the sender (--auto) (default given)\n"
           "      --snr=LOW:HIGH:STEP    SNR in dB in 2500 Hz (default -10:20:2)\n"
           "      --wpm=LIST             speeds, comma separated (default 12,20,30,40)\n"
           "      --jitter=LIST          hand-keying jitter in units (default 0,0.1,0.2)\n"
           "      --chars=N              characters of text per cell (default 300)\n"
           "      --seed=N               text, jitter and noise seed (default 1)\n"
           "      --jobs=N               cells measured at once (default 1)\n"
           "      --decoder=PATH         the velkador-decode to run (default: the one\n"
           "                             beside this program)\n"
           "  -h, --help                 show this help\n"
           "\n"
           "The table as the README shows it:\n"
           "  build/tools/velkador-cer --jobs=2 > cer.txt\n",
           PROG);
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

Options Parse_Options(int argc, char **argv)
{
    enum { OPT_ENGINE = 256, OPT_SPEED, OPT_SNR, OPT_WPM, OPT_JITTER, OPT_CHARS, OPT_SEED, OPT_JOBS,
           OPT_DECODER };
    static const struct option long_options[] = {
        {"engine", required_argument, nullptr, OPT_ENGINE}, {"speed", required_argument, nullptr, OPT_SPEED},
        {"snr", required_argument, nullptr, OPT_SNR},       {"wpm", required_argument, nullptr, OPT_WPM},
        {"jitter", required_argument, nullptr, OPT_JITTER}, {"chars", required_argument, nullptr, OPT_CHARS},
        {"seed", required_argument, nullptr, OPT_SEED},     {"jobs", required_argument, nullptr, OPT_JOBS},
        {"decoder", required_argument, nullptr, OPT_DECODER}, {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0}};
    Options o;
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":h", long_options, nullptr)) != -1) {
        switch (c) {
        case OPT_ENGINE:
            o.engine = optarg;
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
            o.wpms = Parse_List<int>("wpm", optarg, 6, 60);
            break;
        case OPT_JITTER:
            o.jitters = Parse_List<double>("jitter", optarg, 0.0, 0.5);
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
    if (o.decoder.empty()) {
        char self[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
        std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv[0]);
        dir = dir.substr(0, dir.rfind('/') + 1);
        o.decoder = dir + "velkador-decode";
    }
    if (access(o.decoder.c_str(), X_OK) != 0)
        Usage_Error("no velkador-decode at " + o.decoder + " (give --decoder)");
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

size_t Edit_Distance(const std::string &a, const std::string &b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        size_t diag = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); j++) {
            size_t up = row[j];
            size_t best = diag + (a[i - 1] == b[j - 1] ? 0 : 1);
            if (up + 1 < best)
                best = up + 1;
            if (row[j - 1] + 1 < best)
                best = row[j - 1] + 1;
            row[j] = best;
            diag = up;
        }
    }
    return row[b.size()];
}

// Runs the decoder on a raw recording; its standard output, or false.
bool Run_Decoder(const Options &o, int wpm, const std::string &raw, std::string &text)
{
    std::vector<std::string> args = {o.decoder, "--engine=" + o.engine};
    if (o.speed_given)
        args.push_back("--wpm=" + std::to_string(wpm));
    else
        args.push_back("--auto");
    args.push_back("-");
    // The decoder's limits are its defaults; a given speed outside them widens them.
    if (o.speed_given && wpm < 10)
        args.insert(args.end() - 1, "--min-wpm=" + std::to_string(wpm));
    if (o.speed_given && wpm > 40)
        args.insert(args.end() - 1, "--max-wpm=" + std::to_string(wpm));
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe(out) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, raw.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid;
    int err = posix_spawn(&pid, o.decoder.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (err != 0) {
        close(out[0]);
        return false;
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof(buf))) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double Measure_Cell(const Options &o, const Cell &cell, int index, const std::string &sent)
{
    Cw_Params p;
    p.wpm = cell.wpm;
    p.jitter = cell.jitter;
    p.noise = true;
    p.snr_db = cell.snr;
    p.seed = o.seed * 1000003ull + static_cast<uint64_t>(index);
    std::vector<int16_t> audio;
    std::string error;
    if (!Cw_Generate(p, sent, audio, error)) {
        fprintf(stderr, "%s: %s\n", PROG, error.c_str());
        return -1.0;
    }
    char raw[] = "/tmp/velkador-cer-XXXXXX";
    int fd = mkstemp(raw);
    if (fd < 0)
        return -1.0;
    const char *bytes = reinterpret_cast<const char *>(audio.data());
    size_t left = audio.size() * sizeof(int16_t);
    while (left > 0) {
        ssize_t n = write(fd, bytes, left);
        if (n <= 0)
            break;
        bytes += n;
        left -= static_cast<size_t>(n);
    }
    close(fd);
    std::string decoded;
    bool ok = left == 0 && Run_Decoder(o, cell.wpm, raw, decoded);
    unlink(raw);
    if (!ok)
        return -1.0;
    const std::string want = Normalised(sent);
    return 100.0 * static_cast<double>(Edit_Distance(want, Normalised(decoded))) / static_cast<double>(want.size());
}

// Each cell in its own child, at most jobs at a time; results come back
// through one pipe as "index cer" lines.
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
                char line[64];
                int len = snprintf(line, sizeof(line), "%zu %.6f\n", next,
                                   Measure_Cell(o, cells[next], static_cast<int>(next), sent));
                ssize_t w = write(results[1], line, static_cast<size_t>(len));
                _exit(w == len ? 0 : 1);
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
            size_t index = 0;
            double cer = -1.0;
            if (sscanf(pending.c_str(), "%zu %lf", &index, &cer) == 2 && index < cells.size())
                cells[index].cer = cer;
            pending.erase(0, eol + 1);
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

}  // namespace

int main(int argc, char **argv)
{
    Options o = Parse_Options(argc, argv);
    const std::string sent = Cell_Text(o.chars, o.seed);

    std::vector<Cell> cells;
    for (int snr = o.snr_high; snr >= o.snr_low; snr -= o.snr_step)
        for (int wpm : o.wpms)
            for (double jitter : o.jitters)
                cells.push_back({snr, wpm, jitter});
    Measure_All(o, cells, sent);

    printf("# velkador-cer: CER %% of velkador-decode --engine=%s, speed %s; %d characters per cell, seed %llu\n",
           o.engine.c_str(), o.speed_given ? "given" : "unknown (--auto from 20 WPM)", o.chars,
           static_cast<unsigned long long>(o.seed));
    printf("# columns: WPM/jitter in units; rows: SNR in dB in 2500 Hz\n");
    printf("%6s", "SNR");
    for (int wpm : o.wpms)
        for (double jitter : o.jitters)
            printf(" %7s", (std::to_string(wpm) + "/" + std::to_string(jitter).substr(0, 3)).c_str());
    printf("\n");
    bool failed = false;
    for (size_t i = 0; i < cells.size(); i++) {
        if (i % (o.wpms.size() * o.jitters.size()) == 0)
            printf("%6d", cells[i].snr);
        if (cells[i].cer < 0.0) {
            printf(" %7s", "fail");
            failed = true;
        } else {
            printf(" %7.1f", cells[i].cer);
        }
        if ((i + 1) % (o.wpms.size() * o.jitters.size()) == 0)
            printf("\n");
    }
    return failed ? 1 : 0;
}
