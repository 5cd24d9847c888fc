// tools/cwgen_main.cpp - velkador-cwgen: options in, CW audio out to a file
// or standard output, as WAV or raw S16_LE stereo, optionally paced in real
// time (for feeding a FIFO that a capture device reads).
#include <getopt.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>

#include "cwgen.h"

namespace {

const char *const USAGE =
    "Usage: velkador-cwgen [OPTION]... [TEXT]...\n"
    "Sends TEXT (or, without TEXT, standard input) as Morse code audio.\n"
    "\n"
    "  -w, --wpm N            character speed in words per minute, PARIS timing (20)\n"
    "  -F, --farnsworth N     overall speed in WPM: characters at --wpm, gaps stretched\n"
    "      --end-wpm N        speed of the last character: the sender speeds up or\n"
    "                         slows down evenly from --wpm, character by character\n"
    "  -f, --tone HZ          tone frequency (800)\n"
    "  -r, --rate HZ          sample rate (48000)\n"
    "  -o, --output FILE      write to FILE; '-' or none for standard output\n"
    "  -t, --format FMT       'wav' or 'raw' (S16_LE, 2 channels, both alike);\n"
    "                         default: wav for a FILE ending in .wav, else raw\n"
    "      --realtime         pace the output at the sample rate\n"
    "      --weight R         dash length in dots (3)\n"
    "      --jitter U         hand keying: every element and gap varies with a\n"
    "                         Gaussian deviation of U units (0, up to 0.5)\n"
    "      --snr DB           add white noise; DB is the keyed-down tone power\n"
    "                         (amplitude^2 / 2) against the noise power within a\n"
    "                         2500 Hz bandwidth\n"
    "      --noise-level DBFS add noise of this RMS level in dB of full scale\n"
    "                         instead (not scaled down: -6 and louder clips)\n"
    "      --band LOW:HIGH    band-limit the noise to LOW..HIGH Hz, as behind a\n"
    "                         receiver's filter (fourth-order edges); within the\n"
    "                         band the --snr density stays as it is\n"
    "      --noise-only S     no text: S seconds of noise alone\n"
    "      --edge MS          raised-cosine rise and fall time (5)\n"
    "      --level L          tone peak amplitude, 0 < L <= 1 of full scale (0.5);\n"
    "                         with noise the whole mix is scaled down to stay\n"
    "                         clear of clipping\n"
    "      --seed N           seed for jitter and noise (1)\n"
    "      --lead MS          silence before the text (500)\n"
    "      --trail MS         silence after the text (1000)\n"
    "      --second-text T    a second signal sending T ...\n"
    "      --second-tone HZ   ... at this tone (1000)\n"
    "      --second-level DB  ... at this level relative to the first (0)\n"
    "      --second-wpm N     ... at this speed (that of the first)\n"
    "  -h, --help             show this help\n"
    "\n"
    "TEXT: letters, digits, . , ? ' ! / ( ) & : ; = + - _ \" $ @ and A-, O-, U-umlaut\n"
    "and sharp s (UTF-8); prosigns <OK> <GO> <BK> <SK> <!!>; a raw character as\n"
    "dots and dashes in brackets, e.g. [........]. Blanks are word gaps.\n";

enum {
    OPT_REALTIME = 256,
    OPT_WEIGHT,
    OPT_JITTER,
    OPT_SNR,
    OPT_EDGE,
    OPT_LEVEL,
    OPT_SEED,
    OPT_LEAD,
    OPT_TRAIL,
    OPT_SECOND_TEXT,
    OPT_SECOND_TONE,
    OPT_SECOND_LEVEL,
    OPT_SECOND_WPM,
    OPT_END_WPM,
    OPT_NOISE_LEVEL,
    OPT_BAND,
    OPT_NOISE_ONLY
};

const struct option long_options[] = {
    {"wpm", required_argument, nullptr, 'w'},
    {"farnsworth", required_argument, nullptr, 'F'},
    {"end-wpm", required_argument, nullptr, OPT_END_WPM},
    {"tone", required_argument, nullptr, 'f'},
    {"rate", required_argument, nullptr, 'r'},
    {"output", required_argument, nullptr, 'o'},
    {"format", required_argument, nullptr, 't'},
    {"realtime", no_argument, nullptr, OPT_REALTIME},
    {"weight", required_argument, nullptr, OPT_WEIGHT},
    {"jitter", required_argument, nullptr, OPT_JITTER},
    {"snr", required_argument, nullptr, OPT_SNR},
    {"edge", required_argument, nullptr, OPT_EDGE},
    {"level", required_argument, nullptr, OPT_LEVEL},
    {"seed", required_argument, nullptr, OPT_SEED},
    {"lead", required_argument, nullptr, OPT_LEAD},
    {"trail", required_argument, nullptr, OPT_TRAIL},
    {"second-text", required_argument, nullptr, OPT_SECOND_TEXT},
    {"second-tone", required_argument, nullptr, OPT_SECOND_TONE},
    {"second-level", required_argument, nullptr, OPT_SECOND_LEVEL},
    {"second-wpm", required_argument, nullptr, OPT_SECOND_WPM},
    {"noise-level", required_argument, nullptr, OPT_NOISE_LEVEL},
    {"band", required_argument, nullptr, OPT_BAND},
    {"noise-only", required_argument, nullptr, OPT_NOISE_ONLY},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0}};

int Fail(const std::string &message)
{
    fprintf(stderr, "velkador-cwgen: %s\n", message.c_str());
    return 0;
}

int Parse_Number(const char *option, const char *text, double &value)
{
    char *end = nullptr;
    errno = 0;
    value = strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !std::isfinite(value))
        return Fail(std::string("--") + option + ": not a number: '" + text + "'");
    return 1;
}

int Parse_Seed(const char *text, uint64_t &value)
{
    char *end = nullptr;
    errno = 0;
    if (*text == '-')
        return Fail(std::string("--seed: not an unsigned integer: '") + text + "'");
    value = strtoull(text, &end, 0);
    if (end == text || *end != '\0' || errno != 0)
        return Fail(std::string("--seed: not an unsigned integer: '") + text + "'");
    return 1;
}

// Writes all of buf; 1 on success, 0 when the reader has gone (EPIPE), -1 on
// another error (reported).
int Write_All(int fd, const void *buf, size_t len)
{
    const char *p = static_cast<const char *>(buf);
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EPIPE)
                return 0;
            fprintf(stderr, "velkador-cwgen: write: %s\n", strerror(errno));
            return -1;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return 1;
}

void Add_Ns(struct timespec &t, int64_t ns)
{
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        t.tv_sec++;
    }
}

int Run(int argc, char *argv[])
{
    Cw_Params params;
    std::string output = "-";
    std::string format;
    bool realtime = false;
    double value = 0.0;
    double noise_only_s = -1.0;

    int opt;
    while ((opt = getopt_long(argc, argv, "w:F:f:r:o:t:h", long_options, nullptr)) != -1) {
        const char *name = nullptr;
        for (const struct option *o = long_options; o->name != nullptr; o++)
            if (o->val == opt)
                name = o->name;
        switch (opt) {
        case 'h':
            fputs(USAGE, stdout);
            return 1;
        case 'o':
            output = optarg;
            break;
        case 't':
            format = optarg;
            if (format != "wav" && format != "raw")
                return Fail("--format: must be 'wav' or 'raw', not '" + format + "'");
            break;
        case OPT_REALTIME:
            realtime = true;
            break;
        case OPT_SECOND_TEXT:
            params.second_text = optarg;
            if (params.second_text.empty())
                return Fail("--second-text: empty text");
            break;
        case OPT_SEED:
            if (!Parse_Seed(optarg, params.seed))
                return 0;
            break;
        case OPT_BAND: {
            char *colon = nullptr, *end = nullptr;
            params.band_low_hz = strtod(optarg, &colon);
            if (colon != optarg && *colon == ':')
                params.band_high_hz = strtod(colon + 1, &end);
            if (end == nullptr || end == colon + 1 || *end != '\0')
                return Fail(std::string("--band: not LOW:HIGH in Hz: '") + optarg + "'");
            break;
        }
        case 'w': case 'F': case 'f': case 'r': case OPT_WEIGHT: case OPT_JITTER: case OPT_SNR:
        case OPT_EDGE: case OPT_LEVEL: case OPT_LEAD: case OPT_TRAIL: case OPT_SECOND_TONE:
        case OPT_SECOND_LEVEL: case OPT_SECOND_WPM: case OPT_END_WPM: case OPT_NOISE_LEVEL:
        case OPT_NOISE_ONLY:
            if (!Parse_Number(name, optarg, value))
                return 0;
            switch (opt) {
            case 'w': params.wpm = value; break;
            case 'F': params.farnsworth_wpm = value; break;
            case OPT_END_WPM: params.end_wpm = value; break;
            case 'f': params.tone_hz = value; break;
            case 'r':
                if (value != std::floor(value) || value < 1 || value > 1e7)
                    return Fail("--rate: must be a whole number of hertz");
                params.rate = static_cast<int32_t>(value);
                break;
            case OPT_WEIGHT: params.weight = value; break;
            case OPT_JITTER: params.jitter = value; break;
            case OPT_SNR: params.noise = true; params.snr_db = value; break;
            case OPT_EDGE: params.edge_ms = value; break;
            case OPT_LEVEL: params.level = value; break;
            case OPT_LEAD: params.lead_ms = value; break;
            case OPT_TRAIL: params.trail_ms = value; break;
            case OPT_SECOND_TONE: params.second_tone_hz = value; break;
            case OPT_SECOND_LEVEL: params.second_level_db = value; break;
            case OPT_SECOND_WPM: params.second_wpm = value; break;
            case OPT_NOISE_LEVEL: params.noise_at_level = true; params.noise_dbfs = value; break;
            case OPT_NOISE_ONLY:
                if (!(value > 0.0 && value <= 3600.0))
                    return Fail("--noise-only: must be above 0 and at most 3600 seconds");
                noise_only_s = value;
                break;
            default: break;
            }
            break;
        default:
            fputs("Try 'velkador-cwgen --help'.\n", stderr);
            return 0;
        }
    }

    std::string text;
    if (noise_only_s > 0.0) {
        if (optind < argc)
            return Fail("--noise-only sends no text, not '" + std::string(argv[optind]) + "'");
        if (!params.noise && !params.noise_at_level)
            return Fail("--noise-only needs --snr or --noise-level");
        params.lead_ms = 0.0;
        params.trail_ms = 1000.0 * noise_only_s;
    } else if (optind < argc) {
        for (int i = optind; i < argc; i++) {
            if (i > optind)
                text += ' ';
            text += argv[i];
        }
    } else {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, stdin)) > 0)
            text.append(buf, n);
        if (ferror(stdin))
            return Fail(std::string("reading standard input: ") + strerror(errno));
    }

    if (format.empty()) {
        bool wav_name = output.size() > 4 && output.compare(output.size() - 4, 4, ".wav") == 0;
        format = wav_name ? "wav" : "raw";
    }

    std::string error;
    Cw_Stream stream;
    if (!Cw_Begin(stream, params, text, error))
        return Fail(error);

    int fd = STDOUT_FILENO;
    if (output != "-") {
        fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return Fail(output + ": " + strerror(errno));
    }

    int status = 1;
    if (format == "wav") {
        uint8_t header[44];
        Cw_Wav_Header(params.rate, stream.total_frames, header);
        status = Write_All(fd, header, sizeof header);
    }

    // Blocks of 512 frames, the receiver's capture block. A file-backed
    // capture device reading a FIFO takes what one read returns and fills
    // the rest of its block with silence, so each block is written whole in
    // one write of 2048 bytes (below PIPE_BUF, hence atomic) and every read
    // finds a whole block. In real time each block is due at the instant its
    // first frame plays, counted from the start, so waiting never drifts.
    const size_t block_frames = 512;
    std::vector<int16_t> block(2 * block_frames);
    std::vector<uint8_t> bytes(4 * block_frames);
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int64_t frames_out = 0;

    while (status == 1) {
        size_t n = Cw_Render(stream, block.data(), block_frames);
        if (n == 0)
            break;
        for (size_t i = 0; i < 2 * n; i++) {
            uint16_t v = static_cast<uint16_t>(block[i]);
            bytes[2 * i] = static_cast<uint8_t>(v);
            bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        if (realtime) {
            int64_t ns = frames_out * 1000000000LL / params.rate;
            struct timespec due = start;
            due.tv_sec += static_cast<time_t>(ns / 1000000000LL);
            Add_Ns(due, ns % 1000000000LL);
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR)
                ;
        }
        status = Write_All(fd, bytes.data(), 4 * n);
        frames_out += static_cast<int64_t>(n);
    }

    if (fd != STDOUT_FILENO && close(fd) != 0 && status == 1) {
        fprintf(stderr, "velkador-cwgen: %s: %s\n", output.c_str(), strerror(errno));
        return 0;
    }
    // A reader that went away (status 0) ends the run quietly.
    return status >= 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    // A closed pipe shows as EPIPE from write, handled where it happens.
    signal(SIGPIPE, SIG_IGN);
    return Run(argc, argv) ? EXIT_SUCCESS : EXIT_FAILURE;
}
