// decoder/speed.cpp - placeholder until speed tracking lands.
#include "decoder/speed.h"

void Track_Speed(void) {}
void on_wpm_spinbutton_value_changed(GtkSpinButton *, gpointer) {}
void on_auto_checkbutton_toggled(GtkToggleButton *, gpointer) {}
