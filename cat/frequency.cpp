// cat/frequency.cpp - placeholder until frequency control lands.
#include "cat/frequency.h"

int Write_Rx_Freq(int)
{
    return 1;
}

int Tune_Tcvr(double)
{
    return 1;
}

void on_frequency_spinbutton_value_changed(GtkSpinButton *, gpointer) {}

gboolean on_frequency_spinbutton_scroll_event(GtkWidget *, GdkEventScroll *, gpointer)
{
    return TRUE;
}

gboolean on_waterfall_drawingarea_button_press_event(GtkWidget *, GdkEventButton *, gpointer)
{
    return TRUE;
}
