// decoder/speed.h - the Morse unit: set from the speed spin button, and moved
// toward the sender's measured unit after each character when Auto is on.
#ifndef VELKADOR_DECODER_SPEED_H
#define VELKADOR_DECODER_SPEED_H

#include "ui/interface.h"

void Track_Speed(void);

VELKADOR_HANDLER void on_wpm_spinbutton_value_changed(GtkSpinButton *, gpointer);
VELKADOR_HANDLER void on_auto_checkbutton_toggled(GtkToggleButton *, gpointer);

#endif
