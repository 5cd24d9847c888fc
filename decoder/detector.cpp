// decoder/detector.cpp - the tone detector: a Goertzel filter over the newest
// half unit of audio, a lead/trail ratio test on the levels, and a hysteresis
// over the last unit of raw decisions, one step per fragment (two tone cycles).
#include "decoder/detector.h"

#include <cmath>

#include "core/shared.h"
#include "core/startup.h"
#include "sound/intake.h"

scope_point_t *scope_data = nullptr;
int32_t scope_width = 0;
int32_t scope_height = 0;

namespace {

constexpr double TWO_PI = 6.283185307179586;

// Raw decisions are stored as 20 (tone) or 0 so that the hysteresis compares
// the sum of one unit against 11 * u (55 %) and 9 * u (45 %).
constexpr uint8_t TONE_ON = 20;

// The level sum is compared with the squelch setting scaled by this factor.
constexpr int32_t SQUELCH_SCALE = 150;

// Signal mode draws the level scaled down by this to fit the scope.
constexpr int32_t SIGNAL_SCALE = 45;

int32_t frag_len = 0;
double goertzel_coeff = 0.0;

int16_t *sample_ring = nullptr;
int32_t sample_ring_len = 0;
int32_t sample_idx = 0;

int32_t *level_ring = nullptr;
int32_t level_ring_len = 0;
int32_t level_idx = 0;

uint8_t *tone_ring = nullptr;
int32_t tone_ring_len = 0;
int32_t tone_idx = 0;

// Look-ahead (velkador-decode only; the window measures one fragment per
// step): up to LOOKAHEAD_MAX fragments are read before the first of them is
// decided, and their Goertzel recursions run side by side. Each keeps its own
// order of operations, so every level is the one a lone step gives; a unit
// change between steps has the pending levels measured again.
constexpr int32_t LOOKAHEAD_MAX = 8;  // the chains Measure_Pending runs
int32_t lookahead = 1;
double *lookahead_span = nullptr;        // the pending windows' samples in order
int32_t pending_end[LOOKAHEAD_MAX];      // sample_idx after each pending fragment
int32_t pending_level[LOOKAHEAD_MAX];
int32_t pending_count = 0;
int32_t pending_next = 0;
int32_t pending_unit = 0;                // the unit the pending levels were measured for

bool tone_state = false;
int32_t signal_level = 0;
int32_t lead_trail_sum = 0;
int32_t lead_trail_ratio = 0;
int32_t scope_x = 0;

// Sum of count ring entries, newest first, walking back from newest.
template <typename T> int32_t Sum_Back(const T *ring, int32_t len, int32_t newest, int32_t count)
{
    int32_t sum = 0;
    int32_t idx = newest;
    for (int32_t i = 0; i < count; i++) {
        sum += ring[idx];
        if (--idx < 0)
            idx = len - 1;
    }
    return sum;
}

int32_t Scope_Value(int32_t lead_mean, int32_t trail_mean)
{
    lead_trail_ratio = 1;
    if (lead_mean > trail_mean && trail_mean != 0)
        lead_trail_ratio = (20 * lead_mean) / trail_mean;
    else if (lead_mean != 0)
        lead_trail_ratio = (20 * trail_mean) / lead_mean;

    if (isFlagSet(DISPLAY_RATIO)) {
        rc_data.det_thld = static_cast<int32_t>(20.0 * rc_data.det_ratio);
        return lead_trail_ratio;
    }
    if (isFlagSet(DISPLAY_LEVEL)) {
        rc_data.det_thld = rc_data.det_squelch;
        return lead_trail_sum / SQUELCH_SCALE;
    }
    if (isFlagSet(DISPLAY_SIGNAL))
        return signal_level / SIGNAL_SCALE;
    return 0;
}

void Add_Scope_Point(int32_t v)
{
    // A scope without drawing area has no trace to fill.
    if (scope_width < 1 || scope_data == nullptr)
        return;
    int32_t y = scope_height - 1 - v;
    if (y <= 0)
        y = 1;
    if (y >= scope_height)
        y = scope_height - 1;
    scope_data[scope_x].x = scope_x;
    scope_data[scope_x].y = y;
    if (++scope_x >= scope_width) {
        Set_Flag(DRAW_SCOPE);
        if (scope != nullptr)
            gtk_widget_queue_draw(scope);
        scope_x = 0;
    }
}

// Takes one fragment's samples into the sample ring; 0 when the intake failed
// (the samples already taken stay).
int Read_Fragment(void)
{
    for (int32_t i = 0; i < frag_len; i++) {
        if (!Signal_Sample(&sample_ring[sample_idx]))
            return 0;
        if (++sample_idx >= sample_ring_len)
            sample_idx = 0;
    }
    return 1;
}

// The level of the n samples that end just before ring position end.
int32_t Fragment_Level(int32_t end, int32_t n)
{
    int32_t idx = end - n;
    if (idx < 0)
        idx += sample_ring_len;

    double s1 = 0.0, s2 = 0.0;
    const double coeff = goertzel_coeff;
    for (int32_t i = 0; i < n; i++) {
        double s = sample_ring[idx] + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
        if (++idx >= sample_ring_len)
            idx = 0;
    }
    return Goertzel_Level(s1, s2, coeff, n);
}

// Levels of the pending fragments from first on, over n samples each. The
// recursions of LOOKAHEAD_MAX fragments run interleaved: independent chains
// keep the processor busy where one chain waits on its own previous result.
void Measure_Pending(int32_t first, int32_t n)
{
    const int32_t count = pending_count - first;
    int32_t idx = pending_end[first] - n;
    if (idx < 0)
        idx += sample_ring_len;
    const int32_t span = n + (count - 1) * frag_len;
    const int32_t before_wrap = span < sample_ring_len - idx ? span : sample_ring_len - idx;
    for (int32_t i = 0; i < before_wrap; i++)
        lookahead_span[i] = sample_ring[idx + i];
    for (int32_t i = before_wrap; i < span; i++)
        lookahead_span[i] = sample_ring[i - before_wrap];

    // Chains past the pending ones repeat the last of them; their results
    // go unused. Eight plain locals, so that the states stay in registers.
    int32_t off[LOOKAHEAD_MAX];
    for (int32_t j = 0; j < LOOKAHEAD_MAX; j++)
        off[j] = (j < count ? j : count - 1) * frag_len;
    const double *x0 = lookahead_span + off[0], *x1 = lookahead_span + off[1];
    const double *x2 = lookahead_span + off[2], *x3 = lookahead_span + off[3];
    const double *x4 = lookahead_span + off[4], *x5 = lookahead_span + off[5];
    const double *x6 = lookahead_span + off[6], *x7 = lookahead_span + off[7];
    double a1 = 0.0, a2 = 0.0, b1 = 0.0, b2 = 0.0, c1 = 0.0, c2 = 0.0, d1 = 0.0, d2 = 0.0;
    double e1 = 0.0, e2 = 0.0, f1 = 0.0, f2 = 0.0, g1 = 0.0, g2 = 0.0, h1 = 0.0, h2 = 0.0;
    const double coeff = goertzel_coeff;
    for (int32_t i = 0; i < n; i++) {
        double a = x0[i] + coeff * a1 - a2;
        double b = x1[i] + coeff * b1 - b2;
        double c = x2[i] + coeff * c1 - c2;
        double d = x3[i] + coeff * d1 - d2;
        double e = x4[i] + coeff * e1 - e2;
        double f = x5[i] + coeff * f1 - f2;
        double g = x6[i] + coeff * g1 - g2;
        double h = x7[i] + coeff * h1 - h2;
        a2 = a1, a1 = a, b2 = b1, b1 = b, c2 = c1, c1 = c, d2 = d1, d1 = d;
        e2 = e1, e1 = e, f2 = f1, f1 = f, g2 = g1, g1 = g, h2 = h1, h1 = h;
    }
    const double s1[LOOKAHEAD_MAX] = {a1, b1, c1, d1, e1, f1, g1, h1};
    const double s2[LOOKAHEAD_MAX] = {a2, b2, c2, d2, e2, f2, g2, h2};
    for (int32_t j = 0; j < count; j++)
        pending_level[first + j] = Goertzel_Level(s1[j], s2[j], coeff, n);
}

// The level of the next fragment, read ahead with the ones after it.
// 0 when no whole fragment is left to read.
int Lookahead_Level(int32_t n, int32_t u, int32_t *level)
{
    if (pending_next >= pending_count) {
        pending_count = pending_next = 0;
        while (pending_count < lookahead && Read_Fragment())
            pending_end[pending_count++] = sample_idx;
        if (pending_count == 0)
            return 0;
        Measure_Pending(0, n);
        pending_unit = u;
    } else if (u != pending_unit) {
        Measure_Pending(pending_next, n);
        pending_unit = u;
    }
    *level = pending_level[pending_next++];
    return 1;
}

}  // namespace

int32_t Goertzel_Level(double s1, double s2, double coeff, int32_t n)
{
    double q1 = s1 / n;
    double q2 = s2 / n;
    double power = q1 * q1 + q2 * q2 - coeff * q1 * q2;
    // Exactly this is never negative; rounding can make it a hair below zero
    // when q1 and q2 are nearly equal, and the root of that is no level.
    if (!(power > 0.0))
        return 0;
    return static_cast<int32_t>(std::sqrt(power));
}

bool Ratio_Decision(int32_t lead_mean, int32_t trail_mean, int32_t squelch,
                    double ratio, bool state)
{
    if (static_cast<int64_t>(lead_mean) + trail_mean <= static_cast<int64_t>(squelch) * SQUELCH_SCALE)
        return state;
    int64_t r = static_cast<int64_t>(20.0 * ratio);
    if (20 * static_cast<int64_t>(lead_mean) > r * trail_mean)
        return true;
    if (20 * static_cast<int64_t>(trail_mean) > r * lead_mean)
        return false;
    return state;
}

int Hysteresis_Decision(int32_t tone_sum, int32_t unit_len)
{
    if (tone_sum > 11 * unit_len)
        return 1;
    if (tone_sum < 9 * unit_len)
        return 0;
    return -1;
}

int Initialize_Detector(void)
{
    double w = rc_data.tone_freq * TWO_PI / rc_data.dsp_rate;
    goertzel_coeff = 2.0 * cos(w);
    sample_idx = level_idx = tone_idx = 0;

    frag_len = (2 * rc_data.dsp_rate) / rc_data.tone_freq;
    // The product is formed in 64 bits: it passes 2^31 long before the
    // quotient (about a fifth of the rate) does.
    sample_ring_len = static_cast<int32_t>((2 * static_cast<int64_t>(rc_data.dsp_rate) * rc_data.max_unit) /
                                           rc_data.tone_freq);

    if (!mem_alloc(&sample_ring, sizeof(int16_t) * static_cast<size_t>(sample_ring_len)))
        return 0;
    if (!mem_alloc(&level_ring, sizeof(int32_t) * static_cast<size_t>(rc_data.max_unit_x2)))
        return 0;
    if (!mem_alloc(&tone_ring, static_cast<size_t>(rc_data.max_unit)))
        return 0;
    level_ring_len = rc_data.max_unit_x2;
    tone_ring_len = rc_data.max_unit;
    lookahead = 1;
    pending_count = pending_next = 0;
    return 1;
}

int Set_Detector_Lookahead(int32_t fragments)
{
    // The oldest pending window and the fragments read after it, with a
    // partly read one, must fit the sample ring.
    const int32_t widest = (frag_len * tone_ring_len) / 2;
    int32_t fit = frag_len > 0 ? (sample_ring_len - widest) / frag_len - 1 : 1;
    int32_t want = fragments < LOOKAHEAD_MAX ? fragments : LOOKAHEAD_MAX;
    if (want > fit)
        want = fit;
    if (want <= 1 || sample_ring == nullptr) {
        lookahead = 1;
        return 1;
    }
    if (!mem_alloc(&lookahead_span, sizeof(double) * static_cast<size_t>(sample_ring_len)))
        return 0;
    lookahead = want;
    pending_count = pending_next = 0;
    return 1;
}

int Add_Trace_Point(int32_t v, int32_t thld)
{
    if (scope_data == nullptr && scope_width >= 1 &&
        !mem_alloc(&scope_data, sizeof(scope_point_t) * static_cast<size_t>(scope_width)))
        return 0;
    rc_data.det_thld = thld;
    if (isFlagClear(HOLD_SCOPE))
        Add_Scope_Point(v);
    return 1;
}

int Get_Fragment(void)
{
    if (scope_data == nullptr && scope_width >= 1 &&
        !mem_alloc(&scope_data, sizeof(scope_point_t) * static_cast<size_t>(scope_width)))
        return 0;

    if (lookahead == 1 && !Read_Fragment())
        return 0;

    // The windows below must fit the rings, which are sized for max_unit.
    int32_t u = rc_data.unit_elem;
    if (u > tone_ring_len)
        u = tone_ring_len;
    if (u < 1)
        u = 1;

    int32_t n = (frag_len * u) / 2;
    if (n < 1)
        n = 1;
    if (lookahead == 1)
        signal_level = Fragment_Level(sample_idx, n);
    else if (!Lookahead_Level(n, u, &signal_level))
        return 0;
    if (++level_idx >= level_ring_len)
        level_idx = 0;
    level_ring[level_idx] = signal_level;

    int32_t trail_newest = level_idx - u;
    if (trail_newest < 0)
        trail_newest += level_ring_len;
    int32_t lead_mean = Sum_Back(level_ring, level_ring_len, level_idx, u) / u;
    int32_t trail_mean = Sum_Back(level_ring, level_ring_len, trail_newest, u) / u;
    lead_trail_sum = lead_mean + trail_mean;

    if (++tone_idx >= tone_ring_len)
        tone_idx = 0;
    tone_state = Ratio_Decision(lead_mean, trail_mean, rc_data.det_squelch, rc_data.det_ratio, tone_state);
    tone_ring[tone_idx] = tone_state ? TONE_ON : 0;

    switch (Hysteresis_Decision(Sum_Back(tone_ring, tone_ring_len, tone_idx, u), u)) {
    case 1:
        Set_Flag(MARK_TONE);
        Clear_Flag(SPACE_TONE);
        break;
    case 0:
        Clear_Flag(MARK_TONE);
        Set_Flag(SPACE_TONE);
        break;
    default:
        break;
    }

    int32_t v = Scope_Value(lead_mean, trail_mean);
    if (isFlagSet(HOLD_SCOPE))
        return 1;
    Add_Scope_Point(v);
    return 1;
}

void on_squelch_spinbutton_value_changed(GtkSpinButton *button, gpointer)
{
    rc_data.det_squelch = gtk_spin_button_get_value_as_int(button);
}

void on_ratio_spinbutton_value_changed(GtkSpinButton *button, gpointer)
{
    rc_data.det_ratio = gtk_spin_button_get_value(button);
}

int32_t Detector_Level(void)
{
    return signal_level;
}
