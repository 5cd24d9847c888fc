// decoder/detector.h - turns audio fragments (two tone cycles) into mark/space
// decisions. Owns the sample, level and tone rings and the scope trace points.
// Runs on the main loop only; settings come from rc_data.
#ifndef VELKADOR_DECODER_DETECTOR_H
#define VELKADOR_DECODER_DETECTOR_H

#include <cstdint>

#include "ui/interface.h"

struct scope_point_t {
    int32_t x;
    int32_t y;
};

extern scope_point_t *scope_data;  // scope_width points, written here, painted by the scope
extern int32_t scope_width;        // drawing size in pixels, set by the configuration loader
extern int32_t scope_height;

int Initialize_Detector(void);
int Get_Fragment(void);

// One point of the scope trace from another engine's step, in pixels above
// the trace's bottom, with the height of its threshold line: advanced and
// held as the detector's own trace. 0 when the trace cannot be allocated.
int Add_Trace_Point(int32_t v, int32_t thld);

// For a decoder that has its audio ahead of it (velkador-decode): read up to
// fragments fragments ahead and measure them together, which gives the very
// same levels faster. The window keeps 1 (none), which Initialize_Detector
// sets. 1 on success, 0 when the buffer cannot be allocated.
int Set_Detector_Lookahead(int32_t fragments);

// The newest level, for the tests that pin the detector's arithmetic.
int32_t Detector_Level(void);

// The decision rules of one detector step, kept apart so that their edges can
// be checked without audio. Get_Fragment calls exactly these.

// Tone level of a Goertzel state after n samples: the square root of the
// normalised power, truncated; 0 where rounding leaves the power below zero.
int32_t Goertzel_Level(double s1, double s2, double coeff, int32_t n);

// Lead/trail test: the new raw tone state. Above the squelch (sum of the two
// means > squelch * 150) a rise by more than the ratio turns it on and a fall
// by more than the ratio turns it off; otherwise it keeps its value.
bool Ratio_Decision(int32_t lead_mean, int32_t trail_mean, int32_t squelch,
                    double ratio, bool tone_state);

// Hysteresis over the last unit: tone_sum is the sum of the last unit_len raw
// decisions stored as 20 or 0. Returns 1 for mark, 0 for space, -1 to keep
// the published decision.
int Hysteresis_Decision(int32_t tone_sum, int32_t unit_len);

VELKADOR_HANDLER void on_squelch_spinbutton_value_changed(GtkSpinButton *, gpointer);
VELKADOR_HANDLER void on_ratio_spinbutton_value_changed(GtkSpinButton *, gpointer);

#endif
