// decoder/receive.h - the Receive button, the receive loop (one fragment per
// idle call) and the text view it appends decoded text to.
#ifndef VELKADOR_DECODER_RECEIVE_H
#define VELKADOR_DECODER_RECEIVE_H

#include "ui/interface.h"

gboolean Print_Character(gpointer);

VELKADOR_HANDLER void on_receive_togglebutton_toggled(GtkToggleButton *, gpointer);
VELKADOR_HANDLER void on_clear_button_clicked(GtkButton *, gpointer);

#endif
