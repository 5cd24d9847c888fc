// display/scope.cpp - placeholder until the scope lands.
#include "display/scope.h"

void Display_Scope(cairo_t *) {}
void Display_Detector(cairo_t *, const scope_point_t *) {}
void Display_Signal(cairo_t *, const scope_point_t *) {}

gboolean on_scope_drawingarea_draw(GtkWidget *, cairo_t *, gpointer)
{
    return TRUE;
}

void on_signal_radiobutton_toggled(GtkToggleButton *, gpointer) {}
void on_level_radiobutton_toggled(GtkToggleButton *, gpointer) {}
void on_ratio_radiobutton_toggled(GtkToggleButton *, gpointer) {}
void on_stop_radiobutton_toggled(GtkToggleButton *, gpointer) {}
