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
    return 1;
}

int Get_Fragment(void)
{
    if (scope_data == nullptr && scope_width >= 1 &&
        !mem_alloc(&scope_data, sizeof(scope_point_t) * static_cast<size_t>(scope_width)))
        return 0;

    for (int32_t i = 0; i < frag_len; i++) {
        if (!Signal_Sample(&sample_ring[sample_idx]))
            return 0;
        if (++sample_idx >= sample_ring_len)
            sample_idx = 0;
    }

    // The windows below must fit the rings, which are sized for max_unit.
    int32_t u = rc_data.unit_elem;
    if (u > tone_ring_len)
        u = tone_ring_len;
    if (u < 1)
        u = 1;

    int32_t n = (frag_len * u) / 2;
    if (n < 1)
        n = 1;
    int32_t idx = sample_idx - n;
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

    signal_level = Goertzel_Level(s1, s2, coeff, n);
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
