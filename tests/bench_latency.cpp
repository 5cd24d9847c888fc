// tests/bench_latency.cpp - how long after its last element ends a character
// comes out of the adaptive decoder, fed as the window feeds it (blocks of
// 512 frames at 48 kHz, one channel of stereo): mean and maximum over a QSO
// at 12, 20 and 40 WPM, clean and in noise with some hand-keying jitter.
// Each character decoded is matched to the character sent whose last element
// ends nearest to the end the decoder gives it; "worst" is the number of the
// character sent that came out latest. Run by hand:
// build/tests/bench_latency
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cwgen.h"
#include "decoder/adaptive.h"

namespace {

const char *const QSO =
    "CQ CQ DE DL2ABC DL2ABC K DL2ABC DE G4XYZ GM OM TNX FER CALL UR RST 579 579 "
    "NAME JOHN QTH LONDON HW? G4XYZ DE DL2ABC R FB JOHN 73 <SK>";

constexpr int32_t BLOCK_FRAMES = 512;

struct Latency {
    int decoded = 0;    // characters that came out before the input ended
    int at_finish = 0;  // characters that came out only when it ended
    double sum_s = 0.0;
    double max_s = 0.0;
    size_t worst = 0;   // the character sent that came out latest, from 1
};

// The end of each character's last element, from the generator's keying.
std::vector<double> Character_Ends(const Cw_Params &p)
{
    std::vector<std::string> patterns;
    std::vector<Cw_Key> keys;
    std::string error;
    double end_s = 0.0;
    if (!Cw_Parse_Text(QSO, patterns, error) ||
        !Cw_Keying(p, QSO, p.wpm, p.lead_ms / 1000.0, p.seed, keys, end_s, error)) {
        fprintf(stderr, "bench_latency: %s\n", error.c_str());
        return {};
    }
    std::vector<double> ends;
    size_t key = 0;
    for (const std::string &pattern : patterns) {
        if (pattern.empty())
            continue;
        key += pattern.size();
        ends.push_back(keys[key - 1].off_s);
    }
    return ends;
}

void Take_Characters(adaptive_decoder_t *dec, const std::vector<double> &ends, bool finished, Latency &l)
{
    adaptive_char_t ch;
    while (Adaptive_Next(dec, &ch)) {
        if (std::string(ch.text) == " ")
            continue;
        if (finished) {
            l.at_finish++;
            continue;
        }
        size_t nearest = 0;
        for (size_t i = 0; i < ends.size(); i++)
            if (std::fabs(ends[i] - ch.end_s) < std::fabs(ends[nearest] - ch.end_s))
                nearest = i;
        const double latency = ends.empty() ? 0.0 : Adaptive_Time_S(dec) - ends[nearest];
        l.decoded++;
        l.sum_s += latency;
        if (latency > l.max_s) {
            l.max_s = latency;
            l.worst = nearest + 1;
        }
    }
}

Latency Measure(const Cw_Params &p)
{
    Latency l;
    const std::vector<double> ends = Character_Ends(p);
    Cw_Stream stream;
    std::string error;
    char mesg[256] = "";
    adaptive_settings_t settings;
    settings.rate_hz = p.rate;
    settings.tone_hz = p.tone_hz;
    adaptive_decoder_t *dec = Adaptive_Create(settings, mesg, sizeof(mesg));
    if (dec == nullptr || !Cw_Begin(stream, p, QSO, error)) {
        fprintf(stderr, "bench_latency: %s%s\n", mesg, error.c_str());
        Adaptive_Destroy(dec);
        return l;
    }
    std::vector<int16_t> block(2 * BLOCK_FRAMES);
    for (size_t n; (n = Cw_Render(stream, block.data(), BLOCK_FRAMES)) > 0;) {
        Adaptive_Feed(dec, block.data(), static_cast<int32_t>(n), 2);
        Take_Characters(dec, ends, false, l);
    }
    Adaptive_Finish(dec);
    Take_Characters(dec, ends, true, l);
    Adaptive_Destroy(dec);
    return l;
}

}  // namespace

int main(void)
{
    printf("# characters out of the adaptive decoder after their last element ends,\n"
           "# fed in blocks of %d frames at 48 kHz; %zu characters sent per run\n",
           BLOCK_FRAMES, Character_Ends(Cw_Params()).size());
    printf("%4s %-22s %8s %8s %9s %8s %8s %6s\n", "WPM", "signal", "decoded", "at end", "mean ms", "max ms",
           "max unit", "worst");
    for (double wpm : {12.0, 20.0, 40.0}) {
        for (int noisy = 0; noisy < 2; noisy++) {
            Cw_Params p;
            p.wpm = wpm;
            p.seed = 3;
            p.noise = noisy != 0;
            p.snr_db = 6.0;
            p.jitter = noisy ? 0.1 : 0.0;
            const Latency l = Measure(p);
            const double mean_s = l.decoded > 0 ? l.sum_s / l.decoded : 0.0;
            printf("%4.0f %-22s %8d %8d %9.0f %8.0f %8.1f %6zu\n", wpm, noisy ? "+6 dB, jitter 0.1" : "clean",
                   l.decoded, l.at_finish, 1000.0 * mean_s, 1000.0 * l.max_s, l.max_s / (1.2 / wpm), l.worst);
            fflush(stdout);
        }
    }
    return 0;
}
