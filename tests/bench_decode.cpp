// tests/bench_decode.cpp - velkador-decode end to end, as a process pinned to
// one core: seconds of audio decoded per CPU-second (start-up and file read
// included) for ten minutes of 48 kHz stereo WAV at 12, 20 and 40 WPM, and
// its peak resident memory for ten minutes and for one hour of audio.
// Run by hand: build/tests/bench_decode [--keep DIR]
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sndfile.h>

#include "cwgen.h"

extern char **environ;

namespace {

const char *const QSO =
    "DL2XYZ DE G4ABC R GM HANS TNX FER CALL UR RST 599 5NN NAME JOHN QTH LONDON "
    "WX CLOUDY 12C RIG FT101 ANT DIPOLE HW? DL2XYZ DE G4ABC KN ";

// Streams the generator into a file, piece by piece, so that an hour of
// audio never sits in memory. Returns the audio's length in seconds.
double Write_Recording(const std::string &path, double wpm, double seconds, int format, int channels, bool noise)
{
    Cw_Params p;
    p.wpm = wpm;
    p.noise = noise;
    p.snr_db = 15.0;
    // Enough text for the length: PARIS is 50 units of 1.2 / wpm s.
    std::string text;
    const double qso_s = 50.0 * 1.2 / wpm * (strlen(QSO) / 6.0);
    for (double t = 0.0; t < seconds; t += qso_s)
        text += QSO;
    Cw_Stream stream;
    std::string error;
    if (!Cw_Begin(stream, p, text, error)) {
        fprintf(stderr, "bench_decode: %s\n", error.c_str());
        exit(1);
    }
    SF_INFO info = {};
    info.samplerate = p.rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (sf == nullptr) {
        fprintf(stderr, "bench_decode: %s: %s\n", path.c_str(), sf_strerror(nullptr));
        exit(1);
    }
    std::vector<int16_t> stereo(2 * 4096), mono(4096);
    int64_t frames = 0;
    for (size_t n; (n = Cw_Render(stream, stereo.data(), 4096)) > 0;) {
        const int16_t *out = stereo.data();
        if (channels == 1) {
            for (size_t i = 0; i < n; i++)
                mono[i] = stereo[2 * i];
            out = mono.data();
        }
        sf_writef_short(sf, out, static_cast<sf_count_t>(n));
        frames += static_cast<int64_t>(n);
    }
    sf_close(sf);
    return static_cast<double>(frames) / p.rate;
}

struct Run {
    double cpu_s = 0.0;
    long max_rss_kib = 0;
    bool ok = false;
};

Run Decode(const std::string &tool, const std::vector<std::string> &args)
{
    std::vector<std::string> all = {tool};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    Run run;
    if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        return run;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) != pid)
        return run;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.cpu_s = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    run.max_rss_kib = ru.ru_maxrss;
    return run;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string dir;
    if (argc == 3 && strcmp(argv[1], "--keep") == 0) {
        dir = argv[2];
    } else {
        char tmpl[] = "/tmp/bench-decode-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            perror("bench_decode");
            return 1;
        }
        dir = tmpl;
    }
    const std::string tool = VELKADOR_BINARY_DIR "/tools/velkador-decode";

    // One core: the child inherits the affinity.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu() >= 0 ? sched_getcpu() : 0, &one);
    sched_setaffinity(0, sizeof(one), &one);

    printf("velkador-decode, 10 min of 48 kHz stereo 16-bit WAV (noise at 15 dB), one core:\n");
    long rss_10min = 0;
    for (int wpm : {12, 20, 40}) {
        const std::string path = dir + "/qso" + std::to_string(wpm) + ".wav";
        const double audio_s = Write_Recording(path, wpm, 600.0, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, true);
        double best = 0.0;
        for (int rep = 0; rep < 3; rep++) {
            Run r = Decode(tool, {"--wpm=" + std::to_string(wpm), path});
            if (!r.ok) {
                fprintf(stderr, "bench_decode: velkador-decode failed on %s\n", path.c_str());
                return 1;
            }
            if (audio_s / r.cpu_s > best)
                best = audio_s / r.cpu_s;
            if (wpm == 20)
                rss_10min = r.max_rss_kib;
        }
        printf("  %2d WPM: %6.0f s of audio per CPU-second (best of 3)\n", wpm, best);
        unlink(path.c_str());
    }

    const std::string hour = dir + "/hour.flac";
    const double hour_s = Write_Recording(hour, 20, 3600.0, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, false);
    Run r = Decode(tool, {hour});
    printf("peak resident memory: %ld KiB for 10 min of WAV, %ld KiB for %.0f min of FLAC (%s)\n", rss_10min,
           r.max_rss_kib, hour_s / 60.0, r.ok ? "decoded" : "FAILED");
    printf("  one hour at %.0f s of audio per CPU-second\n", hour_s / r.cpu_s);
    unlink(hour.c_str());
    if (argc != 3)
        rmdir(dir.c_str());
    return r.ok ? 0 : 1;
}
