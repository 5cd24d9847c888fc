// decoder/speed.cpp - the Morse unit: set by hand from the speed spin button,
// or stepped by one fragment per character toward the sender's measured unit.
#include "decoder/speed.h"

#include "core/shared.h"
#include "core/startup.h"
#include "decoder/morse.h"

namespace {

// Words per minute and unit in fragments convert by the same formula:
// a fragment is 2 / tone_freq s and a dot 1.2 / W s.
int32_t Unit_To_Wpm(int32_t unit)
{
    return (rc_data.tone_freq * 60) / (unit * 100);
}

}  // namespace

void Track_Speed(void)
{
    if (mark_units != 0 && mark_frags != 0 && space_units != 0 && space_frags != 0 &&
        isFlagSet(ADAPT_SPEED)) {
        int32_t measured = (space_frags + mark_frags) / (space_units + mark_units);
        int32_t d = measured - rc_data.unit_elem;
        if (rc_data.unit_elem > rc_data.min_unit && d < 0)
            rc_data.unit_elem--;
        else if (rc_data.unit_elem < rc_data.max_unit && d > 0)
            rc_data.unit_elem++;

        // Runs the value-changed handler when the speed shown changes, which
        // recomputes the unit from the new speed.
        if (speed != nullptr && rc_data.unit_elem > 0)
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(speed), Unit_To_Wpm(rc_data.unit_elem));
    }
    mark_frags = mark_units = space_frags = space_units = 0;
}

void on_wpm_spinbutton_value_changed(GtkSpinButton *button, gpointer)
{
    int32_t wpm = gtk_spin_button_get_value_as_int(button);
    if (wpm > 0)
        rc_data.unit_elem = (rc_data.tone_freq * 60) / (wpm * 100);
}

void on_auto_checkbutton_toggled(GtkToggleButton *button, gpointer)
{
    if (gtk_toggle_button_get_active(button))
        Set_Flag(ADAPT_SPEED);
    else
        Clear_Flag(ADAPT_SPEED);
}
