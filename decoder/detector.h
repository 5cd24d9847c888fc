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

VELKADOR_HANDLER void on_squelch_spinbutton_value_changed(GtkSpinButton *, gpointer);
VELKADOR_HANDLER void on_ratio_spinbutton_value_changed(GtkSpinButton *, gpointer);

#endif
