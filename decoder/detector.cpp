// decoder/detector.cpp - placeholder until the detector lands.
#include "decoder/detector.h"

scope_point_t *scope_data = nullptr;
int32_t scope_width = 0;
int32_t scope_height = 0;

int Initialize_Detector(void)
{
    return 1;
}

int Get_Fragment(void)
{
    return 0;
}

void on_squelch_spinbutton_value_changed(GtkSpinButton *, gpointer) {}
void on_ratio_spinbutton_value_changed(GtkSpinButton *, gpointer) {}
