// cat/rigs.cpp - placeholder until the rig command sets land.
#include "cat/rigs.h"

int Tcvr_Startup(void)
{
    return 1;
}

void Tcvr_Closedown(void) {}
void on_receiver_combobox_changed(GtkComboBox *, gpointer) {}
