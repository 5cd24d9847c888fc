// decoder/receive.cpp - placeholder until the receive loop lands.
#include "decoder/receive.h"

gboolean Print_Character(gpointer)
{
    return FALSE;
}

void on_receive_togglebutton_toggled(GtkToggleButton *, gpointer) {}
void on_clear_button_clicked(GtkButton *, gpointer) {}
