// display/scope.h - paints the detector's trace (signal level, lead/trail
// ratio or squelch level with its threshold line) and the mode radio buttons.
#ifndef VELKADOR_DISPLAY_SCOPE_H
#define VELKADOR_DISPLAY_SCOPE_H

#include "decoder/detector.h"

void Display_Scope(cairo_t *cr);
void Display_Detector(cairo_t *cr, const scope_point_t *points);
void Display_Signal(cairo_t *cr, const scope_point_t *points);

VELKADOR_HANDLER gboolean on_scope_drawingarea_draw(GtkWidget *, cairo_t *, gpointer);
VELKADOR_HANDLER void on_signal_radiobutton_toggled(GtkToggleButton *, gpointer);
VELKADOR_HANDLER void on_level_radiobutton_toggled(GtkToggleButton *, gpointer);
VELKADOR_HANDLER void on_ratio_radiobutton_toggled(GtkToggleButton *, gpointer);
VELKADOR_HANDLER void on_stop_radiobutton_toggled(GtkToggleButton *, gpointer);

#endif
