// cat/rigs.h - the rigs' command sets: start-up and close-down exchanges,
// the frequency command encodings, and the receiver selector.
#ifndef VELKADOR_CAT_RIGS_H
#define VELKADOR_CAT_RIGS_H

#include "ui/interface.h"

// Run with CAT_SETUP set; 1 when the rig answered as expected. On failure
// the link has been dropped.
int Tcvr_Startup(void);
// Run while TCVR_SERIAL_OK is set, before the port is closed.
void Tcvr_Closedown(void);

VELKADOR_HANDLER void on_receiver_combobox_changed(GtkComboBox *, gpointer);

#endif
