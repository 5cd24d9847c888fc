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
constexpr int REPLAY_LEN = 2048;
constexpr int64_t REWIND_MARGIN = 100;  // envelope samples read again before the first held mark  // envelope samples read again once the pitch is found
constexpr float SPECTRUM_AVERAGE = 0.1f;   // per hop: about 0.6 s of memory
constexpr int PITCH_MIN_SPECTRA = 6;      // about 0.4 s
constexpr float PITCH_PEAK_RATIO = 5.0f;   // peak over the median of the neighbourhood
constexpr double PITCH_JUMP_HZ = 8.0;      // farther than this: a new signal, taken at once
constexpr double PITCH_FOLLOW = 0.05;
constexpr double PITCH_REPLAY_HZ = 3.0;   // an offset that spoils the envelope       // nearer: followed smoothly (drift)
constexpr double PITCH_NEIGHBOURHOOD_HZ = 250.0;

constexpr double FILTER_DOTS = 0.75;
constexpr double FILTER_START_S = 0.027;  // the unit the filter starts from
constexpr double WEAK_START_DB = 18.0;
constexpr double WEAK_START_S = 0.050;  // the running sum's length in dots
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
constexpr double SIGNAL_CLOSE_DB = 8.5;
constexpr float PITCH_SURE_RATIO = 8.0f;  // band noise alone stays below 4
constexpr double TONE_OPEN_DB = 10.0;
constexpr double TONE_CLOSE_DB = 8.0;
constexpr double THRESHOLD_FRACTION = 0.45;
constexpr double HYSTERESIS = 0.05;  // of the distance between the class levels

constexpr double MIN_RUN_UNITS = 0.3;
constexpr double LONG_MARK_UNITS = 12.0;  // a carrier, not a dash,
constexpr double LONG_MARK_SECONDS = 1.0; // even for a sender slower than thought
constexpr double PAUSE_UNITS = 14.0;      // longer spaces teach nothing about gaps,
constexpr double NEW_OVER_SECONDS = 0.8;
constexpr double PAUSE_SECONDS = 5.0;     // unless word gaps are longer still

constexpr int MARK_HISTORY = 20;
constexpr int SPEED_JUMP_MARKS = 8;
constexpr int SPEED_JUMP_SINGLES = 5;
constexpr double SLOW_DOWN = 1.8;  // a mark this many dashes long: a slower sender
constexpr double SLOWER_GAP = 1.5;  // of the old element gap, the next gap of a slower sender
constexpr double SLOW_DOWN_DB = 14.0;  // the contrast that keeps marks apart in noise
constexpr double SPEED_UP = 0.75;  // dots and dashes this much shorter: a faster one
constexpr double UNIT_FOLLOW = 0.15;   // per element learnt
constexpr double UNIT_FOLLOW_HOLDING = 0.5;
constexpr double LEARN_MARK_LEVEL = 0.8;   // a mark that rose this high
constexpr double LEARN_SPACE_LEVEL = 0.25; // a space that fell this low
constexpr double LEARN_SHORTEST = 0.5;
constexpr double LEARN_FLOOR = 0.6;  // of the fastest unit  // of the shorter class: shorter runs are noise
constexpr int SPACE_HISTORY = 30;
constexpr double GAP_CLASSES = 2.0;  // element and character gap centres, at the least
constexpr double CHAR_GAP_UNITS = 1.8;  // the shortest character gap, in units
constexpr int CHAR_MARKS = 24;     // kept of a run without a character gap
constexpr int CODE_MARKS = 7;      // in the longest code of the table
constexpr double MEND_GAP = 1.4;    // of the element gap: an inner gap that may part two characters
constexpr double MEND_LONG = 1.25;  // of the dash: a mark that may be two
constexpr double MEND_TWO_DASHES = 2.0;
constexpr double MEND_SHORT = 0.6;  // of the dot: a mark that may be noise  // more than the longest code in the table
constexpr int QUEUE_LEN = 64;
constexpr int HOLD_MAX = 64;      // elements held at the start
constexpr int HOLD_MARKS = 6;     // marks that show the speed well enough
constexpr double HOLD_SECONDS = 1.0;  // the longest the first mark waits

// What the timing has learnt from the sender: the classes of marks and
// gaps and the recent durations they come from.
struct timing_t {
    double dot, dash, elem_gap, char_gap, word_gap;
    double marks[MARK_HISTORY];
    int32_t marks_n, marks_idx;
    double spaces[SPACE_HISTORY];
    int32_t spaces_n, spaces_idx;
    int64_t spaces_learnt;
    int32_t single_run;  // characters in a row of one mark each
    int32_t same_class;  // marks in a row on one side of the dot/dash split
};

struct held_element_t {
    bool mark;
    int64_t start, end;
};

// What the envelope, the decisions and the timing have learnt; started
// afresh when the pitch is first found and the audio since is read again.
struct rx_state_t {
    // matched running sum
    std::complex<float> sum_ring[SUM_MAX];
    std::complex<double> sum;
    int32_t sum_idx;
    int32_t sum_len;
    int32_t sum_age;

    // levels
    uint16_t hist_ring[HIST_MAX];
    int32_t hist_count[HIST_BINS];
    int32_t hist_idx;
    int32_t hist_fill;
    int32_t hist_every;
    double space_amp;
    double mark_amp;
    bool signal;

    // decisions
    float envelope;
    bool raw_mark;
    bool mark;           // committed state
    int64_t run_start;   // where the committed run began
    int64_t pending;     // where a differing raw state began, -1 for none
    double run_extreme;  // of the committed run, in levels: 0 space, 1 mark
    double pending_extreme;

    // timing, in envelope samples
    double filter_unit;
    double contrast_db;  // between the mark and space levels
    timing_t t;
    bool last_dash;

    // the character being received
    int64_t char_on[CHAR_MARKS], char_off[CHAR_MARKS];  // its marks (several, after a speed-up)
    int32_t char_n;
    bool char_overflow;
    int64_t char_start, char_end;
    bool last_was_char;  // a character was printed since the last word gap

    held_element_t held[HOLD_MAX];
    int32_t held_n;
    bool holding;
    int64_t hold_since;  // end of the first mark held
    int32_t hold_sum_len;  // the filter the held marks were measured with
    int64_t cut_space = -1;  // where a space that was cut short began

    // A slower sender on trial until his next mark: the timing before, and
    // the one tried (the gap after the long mark teaches the one in use).
    bool slower_on_trial;
    timing_t before_slower, slower;
    int64_t last_mark_end;

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
    std::complex<float> raw_ring[REPLAY_LEN];  // the mixer's output, newest last
    int32_t raw_fill;
    bool locked;       // a pitch was found since the start or the last retune
    bool replay_due;
    bool rewind_due;   // the held marks are to be measured again
    bool rewinding;
    float window[FFT_LEN];
    float spectrum[FFT_LEN];
    float sort_work[FFT_LEN];
    int32_t raw_idx;
    int32_t hop_count;
    int32_t spectra;
    double offset_hz;
    float pitch_ratio;  // of the latest spectrum's peak to its neighbourhood

    float bin_amp[HIST_BINS];
    int32_t hist_len;
    int64_t env_n;  // envelope samples so far
    int64_t pushed;  // texts put in the queue

    rx_state_t rx;

    adaptive_char_t queue[QUEUE_LEN];
    int32_t queue_head, queue_len;
};

namespace {

double Unit(const adaptive_decoder_t *d)
{
    return 0.5 * (d->rx.t.dot + d->rx.t.elem_gap);
}

double Clamp_Unit(const adaptive_decoder_t *d, double u)
{
    const double lo = d->env_rate * 1.2 / ADAPTIVE_MAX_WPM;
    const double hi = d->env_rate * 1.2 / ADAPTIVE_MIN_WPM;
    return std::clamp(u, lo, hi);
}

void Set_Speed(adaptive_decoder_t *d, double unit)
{
    d->rx.t.dot = d->rx.t.elem_gap = unit;
    d->rx.t.dash = d->rx.t.char_gap = 3.0 * unit;
    d->rx.t.word_gap = 7.0 * unit;
}

double Env_Time_S(const adaptive_decoder_t *d, int64_t n)
{
    const double delay = 0.5 * d->rx.sum_len + DECIM_DELAY;
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
    d->pushed++;
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
bool Cluster_Marks(adaptive_decoder_t *d)
{
    const double lo = *std::min_element(d->rx.t.marks, d->rx.t.marks + d->rx.t.marks_n);
    const double hi = *std::max_element(d->rx.t.marks, d->rx.t.marks + d->rx.t.marks_n);
    double c[2] = {d->rx.t.dot, d->rx.t.dash};
    if (d->rx.holding) {
        c[0] = lo;
        c[1] = hi;
    }
    int count[2];
    // From where they were, and when the sender's speed has moved so far
    // that one class runs empty, from the extremes.
    for (int attempt = 0; attempt < 2 && hi > 1.8 * lo; attempt++) {
        K_Means(d->rx.t.marks, d->rx.t.marks_n, c, count, 2);
        if (count[0] > 0 && count[1] > 0 && c[1] > 1.8 * c[0] && c[1] < 5.0 * c[0]) {
            // Dots far longer than the element gaps learnt are marks run
            // together, read through a filter too long for a fast sender
            // in noise: the gaps' unit tells where dots and dashes are.
            double g[2] = {d->rx.t.elem_gap, 3.0 * d->rx.t.elem_gap};
            int g_count[2];
            if (d->rx.t.spaces_learnt >= 8 && c[0] > 2.0 * d->rx.t.elem_gap) {
                K_Means(d->rx.t.marks, d->rx.t.marks_n, g, g_count, 2);
                if (g_count[0] > 0 && g_count[1] > 0 && g[1] > 1.8 * g[0] && g[0] < 0.7 * c[0]) {
                    c[0] = g[0];
                    c[1] = g[1];
                }
            }
            d->rx.t.dot = c[0];
            d->rx.t.dash = c[1];
            return true;
        }
        c[0] = lo;
        c[1] = hi;
    }
    // All of one kind: the shortest gaps are element gaps, about a dot.
    // Without gaps yet there is nothing to tell dots from dashes.
    if (d->rx.t.spaces_n == 0)
        return false;
    const double m = std::sqrt(lo * hi);
    const double ref = *std::min_element(d->rx.t.spaces, d->rx.t.spaces + d->rx.t.spaces_n);
    if (m < 2.0 * ref) {
        d->rx.t.dot = m;
        d->rx.t.dash = 3.0 * m;
    } else {
        d->rx.t.dash = m;
        d->rx.t.dot = m / 3.0;
    }
    return true;
}

// Spaces: element gaps against the longer ones, and among those character
// gaps against word gaps where the recent spaces hold both (Farnsworth
// spacing stretches both). At the start the classes come from the unit the
// marks show; a class the recent spaces do not fill stays where it was.
void Cluster_Spaces(adaptive_decoder_t *d)
{
    const int n = d->rx.t.spaces_n;
    if (d->rx.t.spaces_learnt < 8) {
        const double u = 0.25 * (d->rx.t.dot + d->rx.t.dash);
        d->rx.t.elem_gap = u;
        d->rx.t.char_gap = 3.0 * u;
        d->rx.t.word_gap = 7.0 * u;
    }
    double c[2] = {d->rx.t.elem_gap, d->rx.t.char_gap};
    int count[2];
    K_Means(d->rx.t.spaces, n, c, count, 2);
    const double s_lo = *std::min_element(d->rx.t.spaces, d->rx.t.spaces + n);
    const double s_hi = *std::max_element(d->rx.t.spaces, d->rx.t.spaces + n);
    if ((count[0] == 0 || count[1] == 0) && s_hi > GAP_CLASSES * s_lo) {
        c[0] = s_lo;
        c[1] = s_hi;
        K_Means(d->rx.t.spaces, n, c, count, 2);
    }
    // Classes closer than that, or a longer one that is no longer than a
    // couple of the units the marks show, are one class spread by the
    // sender's hand: element gaps, or longer gaps alone.
    const bool two = count[0] > 0 && count[1] > 0 && c[1] > GAP_CLASSES * c[0] &&
                     c[1] > CHAR_GAP_UNITS * 0.25 * (d->rx.t.dot + d->rx.t.dash);
    if (two && c[0] < 2.0 * d->rx.t.dot)
        d->rx.t.elem_gap = c[0];
    const double split = std::sqrt(d->rx.t.elem_gap * std::max(two ? c[1] : 0.0, GAP_CLASSES * d->rx.t.elem_gap));
    double longer[SPACE_HISTORY];
    int nl = 0;
    for (int i = 0; i < n; i++)
        if (d->rx.t.spaces[i] >= split)
            longer[nl++] = d->rx.t.spaces[i];
    if (nl == 0)
        return;
    const double lo = *std::min_element(longer, longer + nl), hi = *std::max_element(longer, longer + nl);
    double cw[2] = {lo, hi};
    int cw_count[2] = {0, 0};
    if (hi > 1.6 * lo)
        K_Means(longer, nl, cw, cw_count, 2);
    if (cw_count[0] > 0 && cw_count[1] > 0 && cw[1] > 1.6 * cw[0]) {
        d->rx.t.char_gap = cw[0];
        d->rx.t.word_gap = cw[1];
    } else {
        // One class: character gaps unless far beyond them in units, which
        // only word gaps are (or Farnsworth character gaps, until a word
        // gap shows them for what they are).
        const double m = std::sqrt(lo * hi);
        if (m < 5.0 * d->rx.t.elem_gap || m < 0.7 * d->rx.t.word_gap) {
            d->rx.t.char_gap = m;
            d->rx.t.word_gap = std::max(d->rx.t.word_gap, 1.6 * m);
        } else {
            d->rx.t.word_gap = m;
        }
    }
    d->rx.t.char_gap = std::max(d->rx.t.char_gap, 1.6 * d->rx.t.elem_gap);
    d->rx.t.word_gap = std::max(d->rx.t.word_gap, 1.5 * d->rx.t.char_gap);
}

double Char_Threshold(const adaptive_decoder_t *d)
{
    return 0.5 * (d->rx.t.elem_gap + d->rx.t.char_gap);
}

double Word_Threshold(const adaptive_decoder_t *d)
{
    return std::max(0.5 * (d->rx.t.char_gap + d->rx.t.word_gap), 1.4 * Char_Threshold(d));
}

// The filter and the shortest run follow the unit slowly: a burst of noise
// that passes for a few short marks must not shorten the filter, which
// would let more noise through and shorten it further.
void Set_Filter_Length(adaptive_decoder_t *d)
{
    const double follow = d->rx.holding ? UNIT_FOLLOW_HOLDING : UNIT_FOLLOW;
    d->rx.filter_unit += follow * (Clamp_Unit(d, Unit(d)) - d->rx.filter_unit);
    // Until the first marks are learnt, no signal or a weak one gets the
    // filter of a moderate sender, which lifts it out of the noise and
    // keeps the noise from breaking its marks into a fast sender's dots.
    // Strong signals stand out far enough to get the short filter that a
    // fast sender's gaps need.
    if (d->rx.holding && d->rx.t.marks_n == 0)
        d->rx.filter_unit = (d->rx.signal && d->rx.contrast_db >= WEAK_START_DB ? FILTER_START_S : WEAK_START_S) *
                            d->env_rate;
    const int32_t len = std::clamp(static_cast<int32_t>(lround(FILTER_DOTS * d->rx.filter_unit)), 2, SUM_MAX);
    if (std::abs(len - d->rx.sum_len) * 10 < d->rx.sum_len)
        return;
    d->rx.sum_len = len;
    d->rx.sum_age = SUM_REFRESH;  // recomputed over the new length at the next sample
}

// --- characters -------------------------------------------------------------

// The element code of marks first .. last-1, with mark flip (if inside)
// read the other way and mark skip (if inside) left out.
uint32_t Code_Of(const adaptive_decoder_t *d, int first, int last, int flip, int skip)
{
    const double split = 0.5 * (d->rx.t.dot + d->rx.t.dash);
    uint32_t code = 1;
    for (int i = first; i < last; i++) {
        if (i == skip)
            continue;
        const double len = static_cast<double>(d->rx.char_off[i] - d->rx.char_on[i]);
        const bool dash = (len >= split) != (i == flip);
        code = dash ? code << 1 : (code << 1) | 1u;
    }
    return code;
}

void Follow_Speed_Jump(adaptive_decoder_t *d);

bool Is_Character(const char *text)
{
    return strcmp(text, "*") != 0 && strcmp(text, " ") != 0;
}

// The sender has changed his speed so far that what was learnt misleads:
// dots and dashes are taken from the marks given, which become the whole
// history (without any, the old marks are scaled to the new speed), and
// the gaps scale with them until enough are learnt again.
void Adopt_Speed(adaptive_decoder_t *d, double dot, double dash, const double *marks, int n)
{
    const double f = (dot + dash) / (d->rx.t.dot + d->rx.t.dash);
    d->rx.t.dot = dot;
    d->rx.t.dash = dash;
    d->rx.t.elem_gap *= f;
    d->rx.t.char_gap *= f;
    d->rx.t.word_gap *= f;
    if (n == 0) {
        // No marks at the new speed yet: the old ones, scaled to it.
        for (int i = 0; i < d->rx.t.marks_n; i++)
            d->rx.t.marks[i] *= f;
    } else {
        n = std::min(n, MARK_HISTORY);
        std::copy(marks, marks + n, d->rx.t.marks);
        d->rx.t.marks_n = n;
        d->rx.t.marks_idx = n % MARK_HISTORY;
    }
    d->rx.t.spaces_n = d->rx.t.spaces_idx = 0;
    d->rx.t.spaces_learnt = 0;
    d->rx.t.same_class = 0;
    d->rx.t.single_run = 0;
}

// Marks first .. last-1 read as characters by their own timing: a sender
// who has just speeded up sends several characters whose gaps all fall
// below the character gap learnt at his old speed, and dashes as short as
// the old dots. When the marks fall into two classes, dots and dashes, the
// split lies between those; the characters part where a gap is longer
// than two of the new dots. True when every part is a character; they are
// then printed.
bool Read_By_Own_Timing(adaptive_decoder_t *d, int first, int last)
{
    auto len = [d](int i) { return static_cast<double>(d->rx.char_off[i] - d->rx.char_on[i]); };
    double marks[CHAR_MARKS];
    for (int i = first; i < last; i++)
        marks[i - first] = len(i);
    const int n = last - first;
    const double lo = *std::min_element(marks, marks + n), hi = *std::max_element(marks, marks + n);
    double c[2] = {lo, hi};
    int count[2] = {0, 0};
    if (hi > 1.8 * lo)
        K_Means(marks, n, c, count, 2);
    double split = 0.5 * (d->rx.t.dot + d->rx.t.dash), dot = d->rx.t.dot;
    if (count[0] > 0 && count[1] > 0 && c[1] > 2.0 * c[0] && c[1] < 5.0 * c[0]) {
        split = std::sqrt(c[0] * c[1]);
        dot = c[0];
    } else if (hi < split) {
        dot = std::sqrt(lo * hi);  // dots alone
    }
    const char *parts[CHAR_MARKS];
    int bounds[CHAR_MARKS + 1];
    int np = 0;
    for (int i = first; i < last;) {
        int end = i + 1;
        while (end < last && static_cast<double>(d->rx.char_on[end] - d->rx.char_off[end - 1]) <= 2.0 * dot)
            end++;
        uint32_t code = 1;
        for (int k = i; k < end && end - i <= CODE_MARKS; k++)
            code = len(k) >= split ? code << 1 : (code << 1) | 1u;
        parts[np] = end - i <= CODE_MARKS ? Morse_Lookup(code) : "*";
        if (!Is_Character(parts[np]))
            return false;
        bounds[np++] = i;
        i = end;
    }
    bounds[np] = last;
    if (np < 2)
        return false;
    for (int k = 0; k < np; k++)
        Push_Text(d, parts[k], d->rx.char_on[bounds[k]], d->rx.char_off[bounds[k + 1] - 1]);
    // Dots and dashes both well below the old ones: the sender is faster now.
    if (dot < SPEED_UP * d->rx.t.dot && split < SPEED_UP * 0.5 * (d->rx.t.dot + d->rx.t.dash) && hi > split)
        Adopt_Speed(d, c[0], c[1], marks, n);
    return true;
}

// A code not in the table is most likely one misread element: the least
// certain mark the other way round, the widest gap inside it a character
// gap, or a short mark that noise made; more marks than any code has are
// characters run together by a sender who speeded up. The first of these
// that gives characters is taken; otherwise it stays "*".
bool Mend_Character(adaptive_decoder_t *d)
{
    const int n = d->rx.char_n;
    if (n > CODE_MARKS)
        return Read_By_Own_Timing(d, 0, n);
    const double split = 0.5 * (d->rx.t.dot + d->rx.t.dash);
    auto len = [d](int i) { return static_cast<double>(d->rx.char_off[i] - d->rx.char_on[i]); };
    int least = 0, shortest = 0, widest = -1;
    for (int i = 1; i < n; i++) {
        if (std::fabs(std::log(len(i) / split)) < std::fabs(std::log(len(least) / split)))
            least = i;
        if (len(i) < len(shortest))
            shortest = i;
        const double gap = static_cast<double>(d->rx.char_on[i] - d->rx.char_off[i - 1]);
        if (gap > MEND_GAP * d->rx.t.elem_gap &&
            (widest < 0 || gap > static_cast<double>(d->rx.char_on[widest + 1] - d->rx.char_off[widest])))
            widest = i - 1;
    }
    const char *flipped = Morse_Lookup(Code_Of(d, 0, n, least, -1));
    if (Is_Character(flipped)) {
        Push_Text(d, flipped, d->rx.char_on[0], d->rx.char_off[n - 1]);
        return true;
    }
    if (widest >= 0) {
        const char *left = Morse_Lookup(Code_Of(d, 0, widest + 1, -1, -1));
        const char *right = Morse_Lookup(Code_Of(d, widest + 1, n, -1, -1));
        if (Is_Character(left) && Is_Character(right)) {
            Push_Text(d, left, d->rx.char_on[0], d->rx.char_off[widest]);
            Push_Text(d, right, d->rx.char_on[widest + 1], d->rx.char_off[n - 1]);
            return true;
        }
    }
    if (n > 1 && len(shortest) < MEND_SHORT * d->rx.t.dot) {
        const char *rest = Morse_Lookup(Code_Of(d, 0, n, -1, shortest));
        if (Is_Character(rest)) {
            Push_Text(d, rest, d->rx.char_on[0], d->rx.char_off[n - 1]);
            return true;
        }
    }
    // The longest mark well beyond a dash: two elements whose gap the
    // sender's hand made too short to see, a dot and a dash either way
    // round, or two dashes.
    int longest = 0;
    for (int i = 1; i < n; i++)
        if (len(i) > len(longest))
            longest = i;
    if (n < CODE_MARKS && len(longest) > MEND_LONG * d->rx.t.dash) {
        const uint32_t before = Code_Of(d, 0, longest, -1, -1);
        const int after_n = n - longest - 1;
        const uint32_t after = Code_Of(d, longest + 1, n, -1, -1) & ((1u << after_n) - 1u);
        // Elements as the code writes them, first the higher bit: 0 a dash,
        // 1 a dot. Seven units or more are likelier two dashes.
        const bool two_dashes = len(longest) > MEND_TWO_DASHES * d->rx.t.dash;
        const uint32_t pairs[3] = {0b00, 0b10, 0b01};
        for (int k = two_dashes ? 0 : 1; k < 3; k++) {
            const uint32_t code = (((before << 2) | pairs[k]) << after_n) | after;
            const char *split_text = Morse_Lookup(code);
            if (Is_Character(split_text)) {
                Push_Text(d, split_text, d->rx.char_on[0], d->rx.char_off[n - 1]);
                return true;
            }
        }
    }
    // A short dash: two dots just as long as one with the gap between them
    // lost.
    int short_dash = -1;
    for (int i = 0; i < n; i++)
        if (len(i) >= split && (short_dash < 0 || len(i) < len(short_dash)))
            short_dash = i;
    if (n < CODE_MARKS && short_dash >= 0) {
        const int after_n = n - short_dash - 1;
        const uint32_t after = Code_Of(d, short_dash + 1, n, -1, -1) & ((1u << after_n) - 1u);
        const uint32_t code = (((Code_Of(d, 0, short_dash, -1, -1) << 2) | 0b11) << after_n) | after;
        const char *dots = Morse_Lookup(code);
        if (Is_Character(dots)) {
            Push_Text(d, dots, d->rx.char_on[0], d->rx.char_off[n - 1]);
            return true;
        }
    }
    return Read_By_Own_Timing(d, 0, n);
}

void Emit_Character(adaptive_decoder_t *d)
{
    if (d->rx.char_n == 0 && !d->rx.char_overflow)
        return;
    const int n = d->rx.char_n;
    const char *text = d->rx.char_overflow ? "*" : Morse_Lookup(Code_Of(d, 0, n, -1, -1));
    const bool mended = !d->rx.char_overflow && strcmp(text, "*") == 0 && Mend_Character(d);
    // The table's empty code is nothing to print.
    if (!mended && strcmp(text, " ") != 0)
        Push_Text(d, text, d->rx.char_start, d->rx.char_end);
    // A run of one-element characters is what a sender who slowed down
    // much looks like through gaps learnt at his old speed.
    d->rx.t.single_run = n == 1 ? d->rx.t.single_run + 1 : 0;
    if (d->rx.t.single_run >= SPEED_JUMP_SINGLES && d->rx.t.marks_n >= SPEED_JUMP_MARKS) {
        d->rx.t.single_run = 0;
        Follow_Speed_Jump(d);
    }
    d->rx.char_n = 0;
    d->rx.char_overflow = false;
    d->rx.last_was_char = true;
}

// Many marks in a row of one class: either text such as "0 0" or a sender
// who changed his speed so far that the history holds him back. When the
// recent marks alone split into dots and dashes, they are the sender now:
// the older marks go, and the gaps are learnt again from the new unit.
void Follow_Speed_Jump(adaptive_decoder_t *d)
{
    double recent[SPEED_JUMP_MARKS];
    for (int i = 0; i < SPEED_JUMP_MARKS; i++)
        recent[i] = d->rx.t.marks[(d->rx.t.marks_idx - SPEED_JUMP_MARKS + i + MARK_HISTORY) % MARK_HISTORY];
    const double lo = *std::min_element(recent, recent + SPEED_JUMP_MARKS);
    const double hi = *std::max_element(recent, recent + SPEED_JUMP_MARKS);
    double c[2] = {lo, hi};
    int count[2];
    d->rx.t.same_class = 0;
    if (!(hi > 1.8 * lo))
        return;
    K_Means(recent, SPEED_JUMP_MARKS, c, count, 2);
    if (count[0] < 2 || count[1] < 2 || c[1] < 2.2 * c[0] || c[1] > 4.5 * c[0])
        return;
    std::copy(recent, recent + SPEED_JUMP_MARKS, d->rx.t.marks);
    d->rx.t.marks_n = SPEED_JUMP_MARKS;
    d->rx.t.marks_idx = SPEED_JUMP_MARKS % MARK_HISTORY;
    d->rx.t.dot = c[0];
    d->rx.t.dash = c[1];
    d->rx.t.spaces_n = d->rx.t.spaces_idx = 0;
    d->rx.t.spaces_learnt = 0;
}

void Add_Mark(adaptive_decoder_t *d, int64_t start, int64_t end)
{
    if (d->rx.char_n == 0 && !d->rx.char_overflow)
        d->rx.char_start = start;
    if (d->rx.char_n < CHAR_MARKS) {
        d->rx.char_on[d->rx.char_n] = start;
        d->rx.char_off[d->rx.char_n++] = end;
    } else
        d->rx.char_overflow = true;
    d->rx.char_end = end;
}

// A space of length samples has passed since the last mark (or has ended
// at that length).
void Add_Space(adaptive_decoder_t *d, int64_t start, int64_t length)
{
    if ((d->rx.char_n > 0 || d->rx.char_overflow) && length > Char_Threshold(d))
        Emit_Character(d);
    if (d->rx.last_was_char && d->rx.char_n == 0 && length > Word_Threshold(d)) {
        Push_Text(d, " ", start, start + length);
        d->rx.last_was_char = false;
    }
}

// Until the sender's first marks have shown his speed, the elements wait
// here; then they are read with what was learnt, so that the first
// characters come out as right as the later ones.
void Release_Held(adaptive_decoder_t *d)
{
    for (int i = 0; i < d->rx.held_n; i++) {
        const held_element_t &e = d->rx.held[i];
        if (e.mark)
            Add_Mark(d, e.start, e.end);
        else
            Add_Space(d, e.start, e.end - e.start);
    }
    d->rx.held_n = 0;
    d->rx.holding = false;
}

// The speed is learnt. When the filter has changed much since the held
// marks were measured, and the audio since they began is still at hand,
// they are measured again through the filter that fits them (Rewind);
// otherwise they are read as they are.
void Release_Learnt(adaptive_decoder_t *d)
{
    const int64_t back = d->env_n - (d->rx.held[0].start - REWIND_MARGIN);
    if (d->rx.held_n > 0 && std::abs(d->rx.sum_len - d->rx.hold_sum_len) * 4 > d->rx.hold_sum_len &&
        back <= d->raw_fill && !d->rewinding) {
        d->rewind_due = true;
        return;
    }
    Release_Held(d);
}

void Hold(adaptive_decoder_t *d, bool mark, int64_t start, int64_t end)
{
    if (d->rx.held_n == HOLD_MAX)
        Release_Held(d);
    if (!d->rx.holding)
        return;
    d->rx.held[d->rx.held_n++] = {mark, start, end};
}

void Add_Or_Hold_Mark(adaptive_decoder_t *d, int64_t start, int64_t end)
{
    if (d->rx.holding) {
        if (d->rx.held_n == 0) {
            d->rx.hold_since = end;
            d->rx.hold_sum_len = d->rx.sum_len;
        }
        Hold(d, true, start, end);
        if (d->rx.t.marks_n >= HOLD_MARKS)
            Release_Learnt(d);
    } else {
        Add_Mark(d, start, end);
    }
}

void Mark_Ended(adaptive_decoder_t *d, int64_t start, int64_t end, bool sure)
{
    const double len = static_cast<double>(end - start);
    if (len > std::max(LONG_MARK_UNITS * Unit(d), LONG_MARK_SECONDS * d->env_rate)) {
        d->rx.char_n = 0;  // a tuning carrier: what came before it is forgotten
        d->rx.char_overflow = false;
        d->rx.held_n = 0;
        return;
    }
    const double floor = LEARN_FLOOR * Clamp_Unit(d, 0.0);  // shorter than any sender's dot
    // A slower sender on trial is confirmed when the gap before his next
    // mark is longer than an element gap at the old speed, and that mark
    // and gap fit his new speed better than the old one; otherwise the
    // long mark was two run together (a hand-keyed gap too short to see),
    // the old timing comes back and the gap is judged by it.
    if (d->rx.slower_on_trial) {
        d->rx.slower_on_trial = false;
        const timing_t &old = d->rx.before_slower, &tried = d->rx.slower;
        const double gap = static_cast<double>(start - d->rx.last_mark_end);
        auto misfit = [len, gap](double dot, double dash, double elem_gap, double char_gap, double word_gap) {
            auto off = [](double x, double c) { return std::fabs(std::log(x / c)); };
            return std::min(off(len, dot), off(len, dash)) +
                   std::min({off(gap, elem_gap), off(gap, char_gap), off(gap, word_gap)});
        };
        if (gap < SLOWER_GAP * old.elem_gap ||
            misfit(old.dot, old.dash, old.elem_gap, old.char_gap, old.word_gap) <=
            misfit(tried.dot, tried.dash, tried.elem_gap, tried.char_gap, tried.word_gap)) {
            d->rx.t = old;
            Add_Space(d, d->rx.last_mark_end, start - d->rx.last_mark_end);
        }
    }
    d->rx.last_mark_end = end;
    // A dash far longer than the dashes learnt, from a signal strong enough
    // that noise does not run marks together: the sender may have slowed
    // down, and the gap after it is judged at the new speed until his next
    // mark tells.
    if (sure && !d->rx.holding && d->rx.t.marks_n >= HOLD_MARKS && d->rx.contrast_db >= SLOW_DOWN_DB &&
        len > SLOW_DOWN * d->rx.t.dash && len / 3.0 <= Clamp_Unit(d, len)) {
        d->rx.before_slower = d->rx.t;
        d->rx.slower_on_trial = true;
        const double none[1] = {};
        Adopt_Speed(d, len / 3.0, len, none, 0);
        d->rx.slower = d->rx.t;
    }
    if (sure && len >= floor && (d->rx.holding || len >= LEARN_SHORTEST * d->rx.t.dot)) {
        d->rx.t.marks[d->rx.t.marks_idx] = len;
        d->rx.t.marks_idx = (d->rx.t.marks_idx + 1) % MARK_HISTORY;
        d->rx.t.marks_n = std::min(d->rx.t.marks_n + 1, MARK_HISTORY);
        const bool dash = len >= 0.5 * (d->rx.t.dot + d->rx.t.dash);
        d->rx.t.same_class = dash == d->rx.last_dash ? d->rx.t.same_class + 1 : 1;
        d->rx.last_dash = dash;
        if (d->rx.t.same_class >= SPEED_JUMP_MARKS)
            Follow_Speed_Jump(d);
        if (!Cluster_Marks(d))
            return Add_Or_Hold_Mark(d, start, end);
        if (d->rx.t.spaces_learnt < 8) {
            // Too few gaps yet to trust their own classes: they start from
            // the unit the marks show.
            const double u = 0.25 * (d->rx.t.dot + d->rx.t.dash);
            d->rx.t.elem_gap = u;
            d->rx.t.char_gap = 3.0 * u;
            d->rx.t.word_gap = 7.0 * u;
            if (d->rx.t.spaces_n > 0)
                Cluster_Spaces(d);
        }
        Set_Filter_Length(d);
    }
    Add_Or_Hold_Mark(d, start, end);
}

void Space_Ended(adaptive_decoder_t *d, int64_t start, int64_t end, bool sure)
{
    const double len = static_cast<double>(end - start);
    if (d->rx.holding && d->rx.held_n > 0)
        Hold(d, false, start, end);
    const double pause = std::max(PAUSE_UNITS * Unit(d), 2.5 * d->rx.t.word_gap);
    if (len > pause && len > NEW_OVER_SECONDS * d->env_rate) {
        // After a pause the next over may come from another station at
        // another speed: its first marks are held again and teach afresh,
        // starting from what was learnt so far.
        d->rx.t.marks_n = d->rx.t.marks_idx = 0;
        d->rx.t.spaces_n = d->rx.t.spaces_idx = 0;
        d->rx.t.spaces_learnt = 0;
        d->rx.holding = true;
        d->rx.held_n = 0;
        d->rx.slower_on_trial = false;
        return;
    }
    if (!sure || start == d->rx.cut_space || len > pause || len > PAUSE_SECONDS * d->env_rate || d->rx.t.marks_n == 0 ||
        len < LEARN_FLOOR * Clamp_Unit(d, 0.0) || (len < LEARN_SHORTEST * d->rx.t.elem_gap && !d->rx.holding))
        return;
    d->rx.t.spaces[d->rx.t.spaces_idx] = len;
    d->rx.t.spaces_idx = (d->rx.t.spaces_idx + 1) % SPACE_HISTORY;
    d->rx.t.spaces_n = std::min(d->rx.t.spaces_n + 1, SPACE_HISTORY);
    d->rx.t.spaces_learnt++;
    Cluster_Spaces(d);
    Set_Filter_Length(d);
}

// The space running since run_start has reached length samples.
void Space_Grows(adaptive_decoder_t *d, int64_t length)
{
    if (d->rx.holding) {
        if (d->rx.held_n == 0 || d->rx.run_start + length - d->rx.hold_since < HOLD_SECONDS * d->env_rate)
            return;
        Release_Learnt(d);
        if (d->rewind_due)
            return;
    }
    Add_Space(d, d->rx.run_start, length);
}

// --- levels -------------------------------------------------------------------

// Otsu's split of the histogram; the class means in amplitude.
void Update_Levels(adaptive_decoder_t *d)
{
    double w_total = 0, s_total = 0;
    for (int b = 0; b < HIST_BINS; b++) {
        w_total += d->rx.hist_count[b];
        s_total += d->rx.hist_count[b] * d->bin_amp[b];
    }
    if (w_total < HIST_MIN_SECONDS * d->env_rate / HIST_EVERY) {
        d->rx.signal = false;
        return;
    }
    double w0 = 0, s0 = 0, best = -1, m0_best = 0, m1_best = 0;
    for (int b = 0; b < HIST_BINS - 1; b++) {
        w0 += d->rx.hist_count[b];
        s0 += d->rx.hist_count[b] * d->bin_amp[b];
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
        d->rx.signal = false;
        return;
    }
    d->rx.space_amp = m0_best;
    d->rx.mark_amp = m1_best;
    const double contrast_db = 20.0 * std::log10(m1_best / m0_best);
    // A tone that stands out of the spectrum far beyond what noise ever
    // shows is a signal: its weaker keying is believed.
    const bool tone = d->pitch_ratio > PITCH_SURE_RATIO;
    d->rx.signal = contrast_db > (d->rx.signal ? (tone ? TONE_CLOSE_DB : SIGNAL_CLOSE_DB)
                                                : (tone ? TONE_OPEN_DB : SIGNAL_OPEN_DB));
    d->rx.contrast_db = contrast_db;
    if (d->rx.holding && d->rx.t.marks_n == 0)
        Set_Filter_Length(d);
}

void Add_To_Histogram(adaptive_decoder_t *d, float amp)
{
    const double db = 20.0 * std::log10(std::max(amp, 1e-7f));
    const int bin = std::clamp(static_cast<int>((db - HIST_LOW_DB) / HIST_STEP_DB), 0, HIST_BINS - 1);
    if (d->rx.hist_fill == d->hist_len)
        d->rx.hist_count[d->rx.hist_ring[d->rx.hist_idx]]--;
    else
        d->rx.hist_fill++;
    d->rx.hist_ring[d->rx.hist_idx] = static_cast<uint16_t>(bin);
    d->rx.hist_count[bin]++;
    d->rx.hist_idx = (d->rx.hist_idx + 1) % d->hist_len;
}

// --- pitch --------------------------------------------------------------------

void Find_Pitch(adaptive_decoder_t *d)
{
    for (int i = 0; i < FFT_LEN; i++)
        d->fft_in[i] = d->raw_ring[(d->raw_idx - FFT_LEN + i + REPLAY_LEN) % REPLAY_LEN] * d->window[i];
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
    d->pitch_ratio = power(peak) / std::max(median, 1e-30f);
    if (!(d->pitch_ratio > PITCH_PEAK_RATIO))
        return;
    // Parabola through the peak and its neighbours, in dB.
    const double l = 10 * std::log10(power(peak - 1) + 1e-30), c = 10 * std::log10(power(peak) + 1e-30),
                 r = 10 * std::log10(power(peak + 1) + 1e-30);
    const double den = l - 2 * c + r;
    const double frac = den < 0 ? std::clamp(0.5 * (l - r) / den, -0.5, 0.5) : 0.0;
    const double found = (peak + frac) * bin_hz;
    if (!d->locked || std::fabs(found - d->offset_hz) > PITCH_JUMP_HZ) {
        // Nothing printed yet: what was heard off the pitch is read again.
        d->replay_due = d->pushed == 0 && std::fabs(found - d->offset_hz) > PITCH_REPLAY_HZ;
        d->offset_hz = found;
        d->locked = true;
    } else {
        d->offset_hz += PITCH_FOLLOW * (found - d->offset_hz);
    }
    nco_crcf_set_frequency(d->fine, static_cast<float>(2.0 * M_PI * d->offset_hz / d->env_rate));
}

// Below the midpoint of the two levels: on a weak signal a mark's envelope
// spreads wider than the noise's, and the misses it causes outweigh the
// false marks a lower threshold lets through.
double Threshold(const adaptive_decoder_t *d)
{
    return d->rx.space_amp + THRESHOLD_FRACTION * (d->rx.mark_amp - d->rx.space_amp);
}

// --- one envelope sample ----------------------------------------------------------

void Reset_Rx(adaptive_decoder_t *d)
{
    d->rx = rx_state_t();
    // 30 WPM until the sender shows his speed: a filter that long still
    // passes the dots of the fastest senders.
    Set_Speed(d, Clamp_Unit(d, 0.040 * d->env_rate));
    d->rx.holding = true;
    // The filter starts short enough to keep the gaps of a 60 WPM sender
    // and long enough to let a weak signal through.
    d->rx.filter_unit = Clamp_Unit(d, FILTER_START_S * d->env_rate);
    d->rx.sum_len = std::clamp(static_cast<int32_t>(lround(FILTER_DOTS * d->rx.filter_unit)), 2, SUM_MAX);
    d->rx.pending = -1;
}

void Baseband_Sample(adaptive_decoder_t *d, std::complex<float> z);
void Rewind(adaptive_decoder_t *d);

void Envelope_Sample(adaptive_decoder_t *d, std::complex<float> z)
{
    d->raw_ring[d->raw_idx] = z;
    d->raw_idx = (d->raw_idx + 1) % REPLAY_LEN;
    d->raw_fill = std::min(d->raw_fill + 1, REPLAY_LEN);
    if (++d->hop_count == FFT_HOP) {
        d->hop_count = 0;
        Find_Pitch(d);
    }
    if (!d->replay_due) {
        Baseband_Sample(d, z);
        if (d->rewind_due)
            Rewind(d);
        return;
    }
    d->replay_due = false;
    Reset_Rx(d);
    d->env_n -= d->raw_fill - 1;
    nco_crcf_set_phase(d->fine, 0.0f);
    for (int i = d->raw_fill; i >= 1; i--)
        Baseband_Sample(d, d->raw_ring[(d->raw_idx - i + REPLAY_LEN) % REPLAY_LEN]);
}

// Measures the held marks again with the filter the learnt speed gives:
// the levels and the timing stay, the decisions start afresh where the
// first held mark began, and the audio since is read once more.
void Rewind(adaptive_decoder_t *d)
{
    d->rewind_due = false;
    const int64_t back = d->env_n - (d->rx.held[0].start - REWIND_MARGIN);
    d->env_n -= back;
    rx_state_t &rx = d->rx;
    rx.raw_mark = rx.mark = false;
    rx.pending = -1;
    rx.run_start = d->env_n;
    rx.run_extreme = rx.pending_extreme = 0.0;
    rx.char_n = 0;
    rx.char_overflow = false;
    rx.held_n = 0;
    rx.holding = false;
    // The held elements are learnt again as they are measured now: what
    // they taught through the old filter goes, the estimates stay as the
    // starting point. The space up to the first of them is cut short by
    // the rewind and teaches nothing.
    rx.t.marks_n = rx.t.marks_idx = 0;
    rx.t.spaces_n = rx.t.spaces_idx = 0;
    rx.t.spaces_learnt = 0;
    rx.cut_space = d->env_n;
    std::fill(std::begin(rx.sum_ring), std::end(rx.sum_ring), std::complex<float>());
    rx.sum = 0;
    rx.sum_age = 0;
    d->rewinding = true;
    for (int64_t i = back; i >= 1; i--)
        Baseband_Sample(d, d->raw_ring[(d->raw_idx - i + REPLAY_LEN) % REPLAY_LEN]);
    d->rewinding = false;
}

void Baseband_Sample(adaptive_decoder_t *d, std::complex<float> z)
{
    std::complex<float> y;
    nco_crcf_mix_down(d->fine, z, &y);
    nco_crcf_step(d->fine);

    // Running coherent sum over the last sum_len samples.
    const int32_t old = (d->rx.sum_idx - d->rx.sum_len + SUM_MAX) % SUM_MAX;
    d->rx.sum += std::complex<double>(y) - std::complex<double>(d->rx.sum_ring[old]);
    d->rx.sum_ring[d->rx.sum_idx] = y;
    d->rx.sum_idx = (d->rx.sum_idx + 1) % SUM_MAX;
    if (++d->rx.sum_age >= SUM_REFRESH) {
        d->rx.sum_age = 0;
        d->rx.sum = 0;
        for (int i = 1; i <= d->rx.sum_len; i++)
            d->rx.sum += std::complex<double>(d->rx.sum_ring[(d->rx.sum_idx - i + SUM_MAX) % SUM_MAX]);
    }
    const float amp = static_cast<float>(std::abs(d->rx.sum) / d->rx.sum_len);
    d->rx.envelope = amp;

    if (++d->rx.hist_every == HIST_EVERY) {
        d->rx.hist_every = 0;
        Add_To_Histogram(d, amp);
        Update_Levels(d);
    }

    const int64_t n = d->env_n++;
    const double mid = Threshold(d);
    const double hyst = HYSTERESIS * (d->rx.mark_amp - d->rx.space_amp);
    d->rx.raw_mark = d->rx.signal && amp > (d->rx.raw_mark ? mid - hyst : mid + hyst);

    // A differing state must last MIN_RUN_UNITS before it counts; then it
    // counts from where it began.
    const int64_t min_run = std::max<int64_t>(2, lround(MIN_RUN_UNITS * d->rx.filter_unit));
    // The extreme level of each run (a mark's highest, a space's lowest)
    // says how sure it is; only sure ones teach the timing.
    const double level = d->rx.mark_amp > d->rx.space_amp ? (amp - d->rx.space_amp) / (d->rx.mark_amp - d->rx.space_amp) : 0.0;
    if (d->rx.raw_mark == d->rx.mark) {
        d->rx.pending = -1;
        d->rx.run_extreme = d->rx.mark ? std::max(d->rx.run_extreme, level) : std::min(d->rx.run_extreme, level);
    } else {
        if (d->rx.pending < 0) {
            d->rx.pending = n;
            d->rx.pending_extreme = level;
        }
        d->rx.pending_extreme = d->rx.raw_mark ? std::max(d->rx.pending_extreme, level) : std::min(d->rx.pending_extreme, level);
        if (n - d->rx.pending + 1 >= min_run) {
            if (d->rx.mark)
                Mark_Ended(d, d->rx.run_start, d->rx.pending, d->rx.run_extreme >= LEARN_MARK_LEVEL);
            else
                Space_Ended(d, d->rx.run_start, d->rx.pending, d->rx.run_extreme <= LEARN_SPACE_LEVEL);
            d->rx.mark = d->rx.raw_mark;
            d->rx.run_start = d->rx.pending;
            d->rx.run_extreme = d->rx.pending_extreme;
            d->rx.pending = -1;
        }
    }
    // A mark that has begun but not yet lasted long enough to count does
    // not lengthen the space before it.
    if (!d->rx.mark)
        Space_Grows(d, (d->rx.pending >= 0 ? d->rx.pending : n + 1) - d->rx.run_start);
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

    Reset_Rx(d);
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
    if (dec->rx.mark) {
        Mark_Ended(dec, dec->rx.run_start, now, false);
        dec->rx.mark = false;
        dec->rx.run_start = now;
    }
    dec->rx.pending = -1;
    Release_Held(dec);
    Emit_Character(dec);
    if (dec->rx.last_was_char) {
        Push_Text(dec, " ", now, now);
        dec->rx.last_was_char = false;
    }
}

void Adaptive_Retune(adaptive_decoder_t *dec, double tone_hz)
{
    if (dec == nullptr || !(tone_hz >= 200.0 && tone_hz <= dec->rate_hz / 2.0 - 200.0))
        return;
    dec->tone_hz = tone_hz;
    nco_crcf_set_frequency(dec->mixer, static_cast<float>(2.0 * M_PI * tone_hz / dec->rate_hz));
    dec->offset_hz = 0.0;
    dec->locked = false;
    nco_crcf_set_frequency(dec->fine, 0.0f);
    std::fill(std::begin(dec->spectrum), std::end(dec->spectrum), 0.0f);
    dec->spectra = 0;
    dec->pitch_ratio = 0.0f;
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
    if (dec == nullptr || dec->rx.mark_amp <= 0.0)
        return t;
    t.envelope = static_cast<float>(dec->rx.envelope / dec->rx.mark_amp);
    t.threshold = static_cast<float>(Threshold(dec) / dec->rx.mark_amp);
    t.mark = dec->rx.mark;
    t.signal = dec->rx.signal;
    return t;
}
