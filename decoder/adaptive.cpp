// decoder/adaptive.cpp - the adaptive decoder (see adaptive.h).
//
// The chain, per decoder record:
//  1. mix the input tone down to zero (liquid's NCO) and decimate to an
//     envelope rate near 1 kHz (liquid's Kaiser decimator);
//  2. find the sender's pitch within ADAPTIVE_PULL_HZ of the tone in an
//     averaged 256-point spectrum (liquid's FFT) and mix the residual
//     offset away, so that what follows is coherent;
//  3. a coherent running sum over 0.75 of the sender's dot, which is nearly
//     the matched filter of a dot (noise bandwidth about 1.3/dot Hz) and
//     keeps the half-level crossings where the key's edges were;
//  4. the levels of mark and space from a 3-second histogram of the
//     envelope in dB, split where the two classes separate best (Otsu);
//     the threshold sits halfway between their mean amplitudes, and a
//     signal counts only when the classes stand apart by SIGNAL_OPEN_DB:
//     everything is relative, so the input level does not matter;
//  5. runs shorter than 0.3 unit are taken as noise and merged away;
//  6. marks and spaces are clustered (dots against dashes; element against
//     character against word gaps) over the last few characters, and each
//     decision threshold sits halfway between what the sender actually
//     sends; a code not in the table is retried with its least certain
//     mark the other way.
//
// liquid-dsp gives the oscillator, a well-designed decimating filter and
// the FFT in one library with a plain C interface and no global state, so
// that any number of decoders can run side by side.
#include "decoder/adaptive.h"

// <complex> first: liquid then takes std::complex<float> for its complex type.
#include <complex>

#include <liquid/liquid.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "decoder/morse.h"

namespace {

constexpr double ENV_RATE_HZ = 1000.0;  // aimed at; the real one is rate / decimation
constexpr unsigned DECIM_DELAY = 3;     // the decimator's semi-length, in envelope samples
constexpr float DECIM_STOP_DB = 60.0f;

constexpr int FFT_LEN = 256;  // at ~1 kHz: 3.9 Hz per bin, 256 ms
constexpr int FFT_HOP = 64;
constexpr float SPECTRUM_AVERAGE = 0.1f;   // per hop: about 0.6 s of memory
constexpr int PITCH_MIN_SPECTRA = 8;      // about half a second
constexpr float PITCH_PEAK_RATIO = 5.0f;   // peak over the median of the neighbourhood
constexpr double PITCH_JUMP_HZ = 8.0;      // farther than this: a new signal, taken at once
constexpr double PITCH_FOLLOW = 0.2;       // nearer: followed smoothly (drift)
constexpr double PITCH_NEIGHBOURHOOD_HZ = 250.0;

constexpr double FILTER_DOTS = 0.75;  // the running sum's length in dots
constexpr int SUM_MAX = 256;          // samples: 0.75 of the slowest dot at the highest envelope rate
constexpr int SUM_REFRESH = 4096;     // the running sum is recomputed this often against drift

constexpr double HIST_SECONDS = 3.0;
constexpr int HIST_EVERY = 4;  // envelope samples per histogram entry
constexpr int HIST_MAX = 1024;
constexpr double HIST_LOW_DB = -130.0;
constexpr double HIST_STEP_DB = 0.5;
constexpr int HIST_BINS = 280;
constexpr double HIST_MIN_SECONDS = 0.3;  // before this much, no decision

// Classes apart by more than this: a signal. On band noise alone the two
// halves of the envelope's spread stay below it (see the noise tests).
constexpr double SIGNAL_OPEN_DB = 11.0;
constexpr double SIGNAL_CLOSE_DB = 9.0;
constexpr double HYSTERESIS = 0.05;  // of the distance between the class levels

constexpr double MIN_RUN_UNITS = 0.3;
constexpr double LONG_MARK_UNITS = 12.0;  // a carrier, not a dash
constexpr double PAUSE_UNITS = 14.0;      // longer spaces teach nothing about gaps

constexpr int MARK_HISTORY = 20;
constexpr double UNIT_FOLLOW = 0.15;   // per element learnt
constexpr double LEARN_MARK_LEVEL = 0.8;   // a mark that rose this high
constexpr double LEARN_SPACE_LEVEL = 0.25; // a space that fell this low
constexpr double LEARN_SHORTEST = 0.5;  // of the shorter class: shorter runs are noise
constexpr int SPACE_HISTORY = 30;
constexpr int CHAR_MARKS = 8;  // more than the longest code in the table
constexpr int QUEUE_LEN = 64;
constexpr int HOLD_MAX = 64;      // elements held at the start
constexpr int HOLD_MARKS = 6;     // marks that show the speed well enough
constexpr double HOLD_SECONDS = 1.0;  // the longest the first mark waits

struct held_element_t {
    bool mark;
    int64_t start, end;
};

}  // namespace

struct adaptive_decoder_t {
    int32_t rate_hz;
    int32_t decim;
    double env_rate;
    double tone_hz;

    nco_crcf mixer;
    firdecim_crcf decimator;
    std::complex<float> decim_in[512];
    int32_t decim_fill;

    // pitch
    nco_crcf fine;
    fftplan fft;
    std::complex<float> fft_in[FFT_LEN];
    std::complex<float> fft_out[FFT_LEN];
    std::complex<float> raw_ring[FFT_LEN];
    float window[FFT_LEN];
    float spectrum[FFT_LEN];
    float sort_work[FFT_LEN];
    int32_t raw_idx;
    int32_t hop_count;
    int32_t spectra;
    double offset_hz;

    // matched running sum
    std::complex<float> sum_ring[SUM_MAX];
    std::complex<double> sum;
    int32_t sum_idx;
    int32_t sum_len;
    int32_t sum_age;

    // levels
    uint16_t hist_ring[HIST_MAX];
    int32_t hist_count[HIST_BINS];
    float bin_amp[HIST_BINS];
    int32_t hist_len;
    int32_t hist_idx;
    int32_t hist_fill;
    int32_t hist_every;
    double space_amp;
    double mark_amp;
    bool signal;

    // decisions
    int64_t env_n;  // envelope samples so far
    float envelope;
    bool raw_mark;
    bool mark;           // committed state
    int64_t run_start;   // where the committed run began
    int64_t pending;     // where a differing raw state began, -1 for none
    double run_extreme;  // of the committed run, in levels: 0 space, 1 mark
    double pending_extreme;

    // timing, in envelope samples
    double filter_unit;
    double dot, dash, elem_gap, char_gap, word_gap;
    double marks[MARK_HISTORY];
    int32_t marks_n, marks_idx;
    double spaces[SPACE_HISTORY];
    int32_t spaces_n, spaces_idx;
    int64_t spaces_learnt;

    // the character being received
    double char_marks[CHAR_MARKS];
    int32_t char_n;
    bool char_overflow;
    int64_t char_start, char_end;
    bool last_was_char;  // a character was printed since the last word gap

    held_element_t held[HOLD_MAX];
    int32_t held_n;
    bool holding;
    int64_t hold_since;  // end of the first mark held

    adaptive_char_t queue[QUEUE_LEN];
    int32_t queue_head, queue_len;
};

namespace {

double Unit(const adaptive_decoder_t *d)
{
    return 0.5 * (d->dot + d->elem_gap);
}

double Clamp_Unit(const adaptive_decoder_t *d, double u)
{
    const double lo = d->env_rate * 1.2 / ADAPTIVE_MAX_WPM;
    const double hi = d->env_rate * 1.2 / ADAPTIVE_MIN_WPM;
    return std::clamp(u, lo, hi);
}

void Set_Speed(adaptive_decoder_t *d, double unit)
{
    d->dot = d->elem_gap = unit;
    d->dash = d->char_gap = 3.0 * unit;
    d->word_gap = 7.0 * unit;
}

double Env_Time_S(const adaptive_decoder_t *d, int64_t n)
{
    const double delay = 0.5 * d->sum_len + DECIM_DELAY;
    return std::max(0.0, (static_cast<double>(n) - delay) / d->env_rate);
}

void Push_Text(adaptive_decoder_t *d, const char *text, int64_t start, int64_t end)
{
    if (d->queue_len == QUEUE_LEN) {  // nobody is reading: the oldest goes
        d->queue_head = (d->queue_head + 1) % QUEUE_LEN;
        d->queue_len--;
    }
    adaptive_char_t &c = d->queue[(d->queue_head + d->queue_len) % QUEUE_LEN];
    snprintf(c.text, sizeof(c.text), "%s", text);
    c.start_s = Env_Time_S(d, start);
    c.end_s = Env_Time_S(d, end);
    d->queue_len++;
}

// --- timing clusters --------------------------------------------------------

// k-means in one dimension over the logarithms of the durations, from the
// centres given (ascending); a class left empty keeps its centre. The
// members of each class come back in count.
void K_Means(const double *v, int n, double *centre, int *count, int k)
{
    for (int iter = 0; iter < 10; iter++) {
        double sum[3] = {0, 0, 0};
        for (int j = 0; j < k; j++)
            count[j] = 0;
        for (int i = 0; i < n; i++) {
            const double x = std::log(v[i]);
            int best = 0;
            for (int j = 1; j < k; j++)
                if (std::fabs(x - std::log(centre[j])) < std::fabs(x - std::log(centre[best])))
                    best = j;
            sum[best] += x;
            count[best]++;
        }
        bool moved = false;
        for (int j = 0; j < k; j++) {
            if (count[j] == 0)
                continue;
            const double c = std::exp(sum[j] / count[j]);
            moved = moved || std::fabs(c - centre[j]) > 1e-9 * c;
            centre[j] = c;
        }
        if (!moved)
            break;
    }
}

// Marks: dots against dashes, from where they were (from the extremes while
// the first marks are held). When the recent marks are all of one kind, the
// element gaps tell which.
void Cluster_Marks(adaptive_decoder_t *d)
{
    const double lo = *std::min_element(d->marks, d->marks + d->marks_n);
    const double hi = *std::max_element(d->marks, d->marks + d->marks_n);
    double c[2] = {d->dot, d->dash};
    if (d->holding) {
        c[0] = lo;
        c[1] = hi;
    }
    int count[2];
    if (hi > 1.8 * lo) {
        K_Means(d->marks, d->marks_n, c, count, 2);
        if (count[0] > 0 && count[1] > 0 && c[1] > 1.8 * c[0]) {
            d->dot = c[0];
            d->dash = c[1];
            return;
        }
    }
    // All of one kind: the shortest gaps are element gaps, about a dot.
    const double m = std::sqrt(lo * hi);
    const double ref = d->spaces_n > 0 ? *std::min_element(d->spaces, d->spaces + d->spaces_n) : d->dot;
    if (m < 2.0 * ref) {
        d->dot = m;
        d->dash = 3.0 * m;
    } else {
        d->dash = m;
        d->dot = m / 3.0;
    }
}

// Spaces: element, character and word gaps, from where they were; at the
// start from what the marks say of the unit. Classes the recent spaces do
// not fill, or that run into each other, stay where they were.
void Cluster_Spaces(adaptive_decoder_t *d)
{
    double c[3] = {d->elem_gap, d->char_gap, d->word_gap};
    if (d->spaces_learnt < 8) {
        const double u = 0.25 * (d->dot + d->dash);
        c[0] = u;
        c[1] = 3.0 * u;
        c[2] = 7.0 * u;
    }
    int count[3];
    K_Means(d->spaces, d->spaces_n, c, count, 3);
    if (count[0] > 0)
        d->elem_gap = c[0];
    if (count[1] > 0 && c[1] > 1.6 * d->elem_gap)
        d->char_gap = c[1];
    if (count[2] > 0 && c[2] > 1.5 * d->char_gap)
        d->word_gap = c[2];
    d->char_gap = std::max(d->char_gap, 1.6 * d->elem_gap);
    d->word_gap = std::max(d->word_gap, 1.5 * d->char_gap);
}

double Char_Threshold(const adaptive_decoder_t *d)
{
    return 0.5 * (d->elem_gap + d->char_gap);
}

double Word_Threshold(const adaptive_decoder_t *d)
{
    return std::max(0.5 * (d->char_gap + d->word_gap), 1.4 * Char_Threshold(d));
}

// The filter and the shortest run follow the unit slowly: a burst of noise
// that passes for a few short marks must not shorten the filter, which
// would let more noise through and shorten it further.
void Set_Filter_Length(adaptive_decoder_t *d)
{
    d->filter_unit += UNIT_FOLLOW * (Clamp_Unit(d, Unit(d)) - d->filter_unit);
    const int32_t len = std::clamp(static_cast<int32_t>(lround(FILTER_DOTS * d->filter_unit)), 2, SUM_MAX);
    if (std::abs(len - d->sum_len) * 10 < d->sum_len)
        return;
    d->sum_len = len;
    d->sum_age = SUM_REFRESH;  // recomputed over the new length at the next sample
}

// --- characters -------------------------------------------------------------

uint32_t Code_Of(const double *marks, int n, double split, int flip)
{
    uint32_t code = 1;
    for (int i = 0; i < n; i++) {
        const bool dash = (marks[i] >= split) != (i == flip);
        code = dash ? code << 1 : (code << 1) | 1u;
    }
    return code;
}

void Emit_Character(adaptive_decoder_t *d)
{
    if (d->char_n == 0 && !d->char_overflow)
        return;
    const char *text = "*";
    if (!d->char_overflow) {
        const double split = 0.5 * (d->dot + d->dash);
        text = Morse_Lookup(Code_Of(d->char_marks, d->char_n, split, -1));
        if (strcmp(text, "*") == 0) {
            // The least certain mark the other way round, if that makes a character.
            int least = 0;
            for (int i = 1; i < d->char_n; i++)
                if (std::fabs(std::log(d->char_marks[i] / split)) <
                    std::fabs(std::log(d->char_marks[least] / split)))
                    least = i;
            const char *retry = Morse_Lookup(Code_Of(d->char_marks, d->char_n, split, least));
            if (strcmp(retry, " ") != 0)
                text = retry;
        }
    }
    if (strcmp(text, " ") != 0)  // the table's empty code: nothing to print
        Push_Text(d, text, d->char_start, d->char_end);
    d->char_n = 0;
    d->char_overflow = false;
    d->last_was_char = true;
}

void Add_Mark(adaptive_decoder_t *d, int64_t start, int64_t end)
{
    if (d->char_n == 0 && !d->char_overflow)
        d->char_start = start;
    if (d->char_n < CHAR_MARKS)
        d->char_marks[d->char_n++] = static_cast<double>(end - start);
    else
        d->char_overflow = true;
    d->char_end = end;
}

// A space of length samples has passed since the last mark (or has ended
// at that length).
void Add_Space(adaptive_decoder_t *d, int64_t start, int64_t length)
{
    if ((d->char_n > 0 || d->char_overflow) && length > Char_Threshold(d))
        Emit_Character(d);
    if (d->last_was_char && d->char_n == 0 && length > Word_Threshold(d)) {
        Push_Text(d, " ", start, start + length);
        d->last_was_char = false;
    }
}

// Until the sender's first marks have shown his speed, the elements wait
// here; then they are read with what was learnt, so that the first
// characters come out as right as the later ones.
void Release_Held(adaptive_decoder_t *d)
{
    for (int i = 0; i < d->held_n; i++) {
        const held_element_t &e = d->held[i];
        if (e.mark)
            Add_Mark(d, e.start, e.end);
        else
            Add_Space(d, e.start, e.end - e.start);
    }
    d->held_n = 0;
    d->holding = false;
}

void Hold(adaptive_decoder_t *d, bool mark, int64_t start, int64_t end)
{
    if (d->held_n == HOLD_MAX)
        Release_Held(d);
    if (!d->holding)
        return;
    d->held[d->held_n++] = {mark, start, end};
}

void Mark_Ended(adaptive_decoder_t *d, int64_t start, int64_t end, bool sure)
{
    const double len = static_cast<double>(end - start);
    if (len > LONG_MARK_UNITS * Unit(d) || len > 2.0 * d->env_rate) {
        d->char_n = 0;  // a tuning carrier: what came before it is forgotten
        d->char_overflow = false;
        d->held_n = 0;
        return;
    }
    if (sure && len >= LEARN_SHORTEST * d->dot) {
        d->marks[d->marks_idx] = len;
        d->marks_idx = (d->marks_idx + 1) % MARK_HISTORY;
        d->marks_n = std::min(d->marks_n + 1, MARK_HISTORY);
        Cluster_Marks(d);
        if (d->spaces_learnt < 8) {
            // Too few gaps yet to trust their own classes: they start from
            // the unit the marks show.
            const double u = 0.25 * (d->dot + d->dash);
            d->elem_gap = u;
            d->char_gap = 3.0 * u;
            d->word_gap = 7.0 * u;
            if (d->spaces_n > 0)
                Cluster_Spaces(d);
        }
        Set_Filter_Length(d);
    }
    if (d->holding) {
        if (d->held_n == 0)
            d->hold_since = end;
        Hold(d, true, start, end);
        if (d->marks_n >= HOLD_MARKS)
            Release_Held(d);
    } else {
        Add_Mark(d, start, end);
    }
}

void Space_Ended(adaptive_decoder_t *d, int64_t start, int64_t end, bool sure)
{
    const double len = static_cast<double>(end - start);
    if (d->holding && d->held_n > 0)
        Hold(d, false, start, end);
    if (!sure || len > PAUSE_UNITS * Unit(d) || d->marks_n == 0 || len < LEARN_SHORTEST * d->elem_gap)
        return;
    d->spaces[d->spaces_idx] = len;
    d->spaces_idx = (d->spaces_idx + 1) % SPACE_HISTORY;
    d->spaces_n = std::min(d->spaces_n + 1, SPACE_HISTORY);
    d->spaces_learnt++;
    Cluster_Spaces(d);
    Set_Filter_Length(d);
}

// The space running since run_start has reached length samples.
void Space_Grows(adaptive_decoder_t *d, int64_t length)
{
    if (d->holding) {
        if (d->held_n == 0 || d->run_start + length - d->hold_since < HOLD_SECONDS * d->env_rate)
            return;
        Release_Held(d);
    }
    Add_Space(d, d->run_start, length);
}

// --- levels -------------------------------------------------------------------

// Otsu's split of the histogram; the class means in amplitude.
void Update_Levels(adaptive_decoder_t *d)
{
    double w_total = 0, s_total = 0;
    for (int b = 0; b < HIST_BINS; b++) {
        w_total += d->hist_count[b];
        s_total += d->hist_count[b] * d->bin_amp[b];
    }
    if (w_total < HIST_MIN_SECONDS * d->env_rate / HIST_EVERY) {
        d->signal = false;
        return;
    }
    double w0 = 0, s0 = 0, best = -1, m0_best = 0, m1_best = 0;
    for (int b = 0; b < HIST_BINS - 1; b++) {
        w0 += d->hist_count[b];
        s0 += d->hist_count[b] * d->bin_amp[b];
        const double w1 = w_total - w0;
        if (w0 <= 0 || w1 <= 0)
            continue;
        const double m0 = s0 / w0, m1 = (s_total - s0) / w1;
        const double between = w0 * w1 * (m1 - m0) * (m1 - m0);
        if (between > best) {
            best = between;
            m0_best = m0;
            m1_best = m1;
        }
    }
    if (best < 0 || m0_best <= 0) {
        d->signal = false;
        return;
    }
    d->space_amp = m0_best;
    d->mark_amp = m1_best;
    const double contrast_db = 20.0 * std::log10(m1_best / m0_best);
    d->signal = contrast_db > (d->signal ? SIGNAL_CLOSE_DB : SIGNAL_OPEN_DB);
}

void Add_To_Histogram(adaptive_decoder_t *d, float amp)
{
    const double db = 20.0 * std::log10(std::max(amp, 1e-7f));
    const int bin = std::clamp(static_cast<int>((db - HIST_LOW_DB) / HIST_STEP_DB), 0, HIST_BINS - 1);
    if (d->hist_fill == d->hist_len)
        d->hist_count[d->hist_ring[d->hist_idx]]--;
    else
        d->hist_fill++;
    d->hist_ring[d->hist_idx] = static_cast<uint16_t>(bin);
    d->hist_count[bin]++;
    d->hist_idx = (d->hist_idx + 1) % d->hist_len;
}

// --- pitch --------------------------------------------------------------------

void Find_Pitch(adaptive_decoder_t *d)
{
    for (int i = 0; i < FFT_LEN; i++)
        d->fft_in[i] = d->raw_ring[(d->raw_idx + i) % FFT_LEN] * d->window[i];
    fft_execute(d->fft);
    // A plain mean until there are enough spectra for the running average.
    const float a = std::max(SPECTRUM_AVERAGE, 1.0f / static_cast<float>(d->spectra + 1));
    for (int i = 0; i < FFT_LEN; i++)
        d->spectrum[i] += a * (std::norm(d->fft_out[i]) - d->spectrum[i]);
    d->spectra++;
    if (d->spectra < PITCH_MIN_SPECTRA)
        return;

    const double bin_hz = d->env_rate / FFT_LEN;
    const int pull = static_cast<int>(ADAPTIVE_PULL_HZ / bin_hz);
    const int hood = std::min(FFT_LEN / 2 - 1, static_cast<int>(PITCH_NEIGHBOURHOOD_HZ / bin_hz));
    auto power = [d](int k) { return d->spectrum[(k + FFT_LEN) % FFT_LEN]; };
    int n = 0;
    for (int k = -hood; k <= hood; k++)
        d->sort_work[n++] = power(k);
    std::nth_element(d->sort_work, d->sort_work + n / 2, d->sort_work + n);
    const float median = d->sort_work[n / 2];
    int peak = 0;
    for (int k = -pull; k <= pull; k++)
        if (power(k) > power(peak))
            peak = k;
    if (!(power(peak) > PITCH_PEAK_RATIO * median))
        return;
    // Parabola through the peak and its neighbours, in dB.
    const double l = 10 * std::log10(power(peak - 1) + 1e-30), c = 10 * std::log10(power(peak) + 1e-30),
                 r = 10 * std::log10(power(peak + 1) + 1e-30);
    const double den = l - 2 * c + r;
    const double frac = den < 0 ? std::clamp(0.5 * (l - r) / den, -0.5, 0.5) : 0.0;
    const double found = (peak + frac) * bin_hz;
    if (std::fabs(found - d->offset_hz) > PITCH_JUMP_HZ)
        d->offset_hz = found;
    else
        d->offset_hz += PITCH_FOLLOW * (found - d->offset_hz);
    nco_crcf_set_frequency(d->fine, static_cast<float>(2.0 * M_PI * d->offset_hz / d->env_rate));
}

// --- one envelope sample ----------------------------------------------------------

void Envelope_Sample(adaptive_decoder_t *d, std::complex<float> z)
{
    d->raw_ring[d->raw_idx] = z;
    d->raw_idx = (d->raw_idx + 1) % FFT_LEN;
    if (++d->hop_count == FFT_HOP) {
        d->hop_count = 0;
        Find_Pitch(d);
    }

    std::complex<float> y;
    nco_crcf_mix_down(d->fine, z, &y);
    nco_crcf_step(d->fine);

    // Running coherent sum over the last sum_len samples.
    const int32_t old = (d->sum_idx - d->sum_len + SUM_MAX) % SUM_MAX;
    d->sum += std::complex<double>(y) - std::complex<double>(d->sum_ring[old]);
    d->sum_ring[d->sum_idx] = y;
    d->sum_idx = (d->sum_idx + 1) % SUM_MAX;
    if (++d->sum_age >= SUM_REFRESH) {
        d->sum_age = 0;
        d->sum = 0;
        for (int i = 1; i <= d->sum_len; i++)
            d->sum += std::complex<double>(d->sum_ring[(d->sum_idx - i + SUM_MAX) % SUM_MAX]);
    }
    const float amp = static_cast<float>(std::abs(d->sum) / d->sum_len);
    d->envelope = amp;

    if (++d->hist_every == HIST_EVERY) {
        d->hist_every = 0;
        Add_To_Histogram(d, amp);
        Update_Levels(d);
    }

    const int64_t n = d->env_n++;
    const double mid = 0.5 * (d->space_amp + d->mark_amp);
    const double hyst = HYSTERESIS * (d->mark_amp - d->space_amp);
    d->raw_mark = d->signal && amp > (d->raw_mark ? mid - hyst : mid + hyst);

    // A differing state must last MIN_RUN_UNITS before it counts; then it
    // counts from where it began.
    const int64_t min_run = std::max<int64_t>(2, lround(MIN_RUN_UNITS * d->filter_unit));
    // The extreme level of each run (a mark's highest, a space's lowest)
    // says how sure it is; only sure ones teach the timing.
    const double level = d->mark_amp > d->space_amp ? (amp - d->space_amp) / (d->mark_amp - d->space_amp) : 0.0;
    if (d->raw_mark == d->mark) {
        d->pending = -1;
        d->run_extreme = d->mark ? std::max(d->run_extreme, level) : std::min(d->run_extreme, level);
    } else {
        if (d->pending < 0) {
            d->pending = n;
            d->pending_extreme = level;
        }
        d->pending_extreme = d->raw_mark ? std::max(d->pending_extreme, level) : std::min(d->pending_extreme, level);
        if (n - d->pending + 1 >= min_run) {
            if (d->mark)
                Mark_Ended(d, d->run_start, d->pending, d->run_extreme >= LEARN_MARK_LEVEL);
            else
                Space_Ended(d, d->run_start, d->pending, d->run_extreme <= LEARN_SPACE_LEVEL);
            d->mark = d->raw_mark;
            d->run_start = d->pending;
            d->run_extreme = d->pending_extreme;
            d->pending = -1;
        }
    }
    if (!d->mark)
        Space_Grows(d, n + 1 - d->run_start);
}

}  // namespace

adaptive_decoder_t *Adaptive_Create(const adaptive_settings_t &settings, char *mesg, size_t len)
{
    if (settings.rate_hz < ADAPTIVE_MIN_RATE || settings.rate_hz > ADAPTIVE_MAX_RATE) {
        snprintf(mesg, len, "sample rate %d Hz outside %d..%d Hz", settings.rate_hz, ADAPTIVE_MIN_RATE,
                 ADAPTIVE_MAX_RATE);
        return nullptr;
    }
    if (!(settings.tone_hz >= 200.0 && settings.tone_hz <= settings.rate_hz / 2.0 - 200.0)) {
        snprintf(mesg, len, "tone %.0f Hz not within 200 Hz of 0..%d Hz", settings.tone_hz,
                 settings.rate_hz / 2);
        return nullptr;
    }
    adaptive_decoder_t *d = new (std::nothrow) adaptive_decoder_t();
    if (d == nullptr) {
        snprintf(mesg, len, "out of memory");
        return nullptr;
    }
    d->rate_hz = settings.rate_hz;
    d->decim = std::max(2, static_cast<int32_t>(lround(settings.rate_hz / ENV_RATE_HZ)));
    d->env_rate = static_cast<double>(settings.rate_hz) / d->decim;
    d->tone_hz = settings.tone_hz;

    d->mixer = nco_crcf_create(LIQUID_VCO);
    d->decimator = firdecim_crcf_create_kaiser(static_cast<unsigned>(d->decim), DECIM_DELAY, DECIM_STOP_DB);
    d->fine = nco_crcf_create(LIQUID_VCO);
    d->fft = fft_create_plan(FFT_LEN, d->fft_in, d->fft_out, LIQUID_FFT_FORWARD, 0);
    if (d->mixer == nullptr || d->decimator == nullptr || d->fine == nullptr || d->fft == nullptr) {
        Adaptive_Destroy(d);
        snprintf(mesg, len, "cannot set up the filters");
        return nullptr;
    }
    firdecim_crcf_set_scale(d->decimator, 1.0f / d->decim);
    nco_crcf_set_frequency(d->mixer, static_cast<float>(2.0 * M_PI * settings.tone_hz / settings.rate_hz));
    for (int i = 0; i < FFT_LEN; i++)
        d->window[i] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / FFT_LEN));
    for (int b = 0; b < HIST_BINS; b++)
        d->bin_amp[b] = static_cast<float>(std::pow(10.0, (HIST_LOW_DB + (b + 0.5) * HIST_STEP_DB) / 20.0));
    d->hist_len = std::min(HIST_MAX, static_cast<int32_t>(HIST_SECONDS * d->env_rate / HIST_EVERY));

    // 30 WPM until the sender shows his speed: a filter that long still
    // passes the dots of the fastest senders.
    Set_Speed(d, Clamp_Unit(d, 0.040 * d->env_rate));
    d->holding = true;
    d->filter_unit = Unit(d);
    d->sum_len = std::clamp(static_cast<int32_t>(lround(FILTER_DOTS * Unit(d))), 2, SUM_MAX);
    d->pending = -1;
    return d;
}

void Adaptive_Destroy(adaptive_decoder_t *dec)
{
    if (dec == nullptr)
        return;
    if (dec->mixer != nullptr)
        nco_crcf_destroy(dec->mixer);
    if (dec->fine != nullptr)
        nco_crcf_destroy(dec->fine);
    if (dec->decimator != nullptr)
        firdecim_crcf_destroy(dec->decimator);
    if (dec->fft != nullptr)
        fft_destroy_plan(dec->fft);
    delete dec;
}

void Adaptive_Feed(adaptive_decoder_t *dec, const int16_t *data, int32_t count, int32_t stride)
{
    if (dec == nullptr || data == nullptr || count <= 0 || stride <= 0)
        return;
    for (int32_t i = 0; i < count; i++) {
        const float x = data[static_cast<size_t>(i) * stride] * (1.0f / 32768.0f);
        nco_crcf_mix_down(dec->mixer, std::complex<float>(x, 0.0f), &dec->decim_in[dec->decim_fill]);
        nco_crcf_step(dec->mixer);
        if (++dec->decim_fill == dec->decim) {
            dec->decim_fill = 0;
            std::complex<float> z;
            firdecim_crcf_execute(dec->decimator, dec->decim_in, &z);
            Envelope_Sample(dec, z);
        }
    }
}

int Adaptive_Next(adaptive_decoder_t *dec, adaptive_char_t *out)
{
    if (dec == nullptr || dec->queue_len == 0)
        return 0;
    *out = dec->queue[dec->queue_head];
    dec->queue_head = (dec->queue_head + 1) % QUEUE_LEN;
    dec->queue_len--;
    return 1;
}

void Adaptive_Finish(adaptive_decoder_t *dec)
{
    if (dec == nullptr)
        return;
    const int64_t now = dec->env_n;
    if (dec->mark) {
        Mark_Ended(dec, dec->run_start, now, false);
        dec->mark = false;
        dec->run_start = now;
    }
    dec->pending = -1;
    Release_Held(dec);
    Emit_Character(dec);
    if (dec->last_was_char) {
        Push_Text(dec, " ", now, now);
        dec->last_was_char = false;
    }
}

void Adaptive_Retune(adaptive_decoder_t *dec, double tone_hz)
{
    if (dec == nullptr || !(tone_hz >= 200.0 && tone_hz <= dec->rate_hz / 2.0 - 200.0))
        return;
    dec->tone_hz = tone_hz;
    nco_crcf_set_frequency(dec->mixer, static_cast<float>(2.0 * M_PI * tone_hz / dec->rate_hz));
    dec->offset_hz = 0.0;
    nco_crcf_set_frequency(dec->fine, 0.0f);
    std::fill(std::begin(dec->spectrum), std::end(dec->spectrum), 0.0f);
    dec->spectra = 0;
}

int32_t Adaptive_Wpm(const adaptive_decoder_t *dec)
{
    if (dec == nullptr)
        return 0;
    const double unit_s = Clamp_Unit(dec, Unit(dec)) / dec->env_rate;
    return std::clamp(static_cast<int32_t>(lround(1.2 / unit_s)), ADAPTIVE_MIN_WPM, ADAPTIVE_MAX_WPM);
}

double Adaptive_Pitch_Hz(const adaptive_decoder_t *dec)
{
    return dec != nullptr ? dec->tone_hz + dec->offset_hz : 0.0;
}

double Adaptive_Time_S(const adaptive_decoder_t *dec)
{
    if (dec == nullptr)
        return 0.0;
    return static_cast<double>(dec->env_n * dec->decim + dec->decim_fill) / dec->rate_hz;
}

adaptive_trace_t Adaptive_Trace(const adaptive_decoder_t *dec)
{
    adaptive_trace_t t = {0.0f, 0.5f, false, false};
    if (dec == nullptr || dec->mark_amp <= 0.0)
        return t;
    t.envelope = static_cast<float>(dec->envelope / dec->mark_amp);
    t.threshold = static_cast<float>(0.5 * (dec->space_amp + dec->mark_amp) / dec->mark_amp);
    t.mark = dec->mark;
    t.signal = dec->signal;
    return t;
}
