// cat/frequency.h - the frequency spin button, its 1 Hz mouse wheel, and
// click-to-tune from the waterfall.
#ifndef VELKADOR_CAT_FREQUENCY_H
#define VELKADOR_CAT_FREQUENCY_H

#include "ui/interface.h"

int Write_Rx_Freq(int freq);
int Tune_Tcvr(double x);

// The bin_ave entry that a click at x tunes to: the strongest within the
// window around the click (lowest index among equals), else the click's own.
int Tune_Peak_Entry(double x);

VELKADOR_HANDLER void on_frequency_spinbutton_value_changed(GtkSpinButton *, gpointer);
VELKADOR_HANDLER gboolean on_frequency_spinbutton_scroll_event(GtkWidget *, GdkEventScroll *, gpointer);
VELKADOR_HANDLER gboolean on_waterfall_drawingarea_button_press_event(GtkWidget *, GdkEventButton *, gpointer);

#endif
