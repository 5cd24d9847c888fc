// decoder/receive.h - the Receive button, the decoder choice, the receive
// loop (one fragment per idle call) and the text view it appends decoded
// text to. Owns the adaptive decoder of the reception under way.
#ifndef VELKADOR_DECODER_RECEIVE_H
#define VELKADOR_DECODER_RECEIVE_H

#include "ui/interface.h"

gboolean Print_Character(gpointer);

// The decoder choice's entries, known by ids that stay the same in every
// language.
constexpr const char *DECODER_CLASSIC_ID = "Classic";
constexpr const char *DECODER_ADAPTIVE_ID = "Adaptive";

// The signal now heard on the input tone is another (click-to-tune moved the
// rig): the adaptive decoder searches its pitch afresh.
void Retune_Decoder(void);

VELKADOR_HANDLER void on_receive_togglebutton_toggled(GtkToggleButton *, gpointer);
VELKADOR_HANDLER void on_clear_button_clicked(GtkButton *, gpointer);
VELKADOR_HANDLER void on_decoder_combobox_changed(GtkComboBox *, gpointer);

#endif
