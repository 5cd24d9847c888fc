// decoder/speed.cpp - the Morse unit: set by hand from the speed spin button,
// or stepped by one fragment per character toward the sender's measured unit.
#include "decoder/speed.h"

#include <cmath>

#include "core/shared.h"
#include "core/startup.h"
#include "decoder/morse.h"

namespace {

// Stands in for the speed button's adjustment when there is no window: the
// toolkit's own clamping to the range and its change-only notification.
GtkAdjustment *speed_adjustment = nullptr;

void On_Speed_Adjustment_Changed(GtkAdjustment *adjustment, gpointer)
{
    // As gtk_spin_button_get_value_as_int rounds the button's value.
    Set_Unit_From_Wpm(static_cast<int32_t>(std::lround(gtk_adjustment_get_value(adjustment))));
}

// Set while another engine shows its speed on the button; the classic
// speed and range it replaced, to be put back.
bool engine_speed = false;
double classic_wpm = 0.0, classic_min_wpm = 0.0, classic_max_wpm = 0.0;

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
        if (rc_data.unit_elem > 0) {
            if (speed != nullptr)
                gtk_spin_button_set_value(GTK_SPIN_BUTTON(speed), Unit_To_Wpm(rc_data.unit_elem));
            else if (speed_adjustment != nullptr)
                gtk_adjustment_set_value(speed_adjustment, Unit_To_Wpm(rc_data.unit_elem));
        }
    }
    mark_frags = mark_units = space_frags = space_units = 0;
}

void Set_Unit_From_Wpm(int32_t wpm)
{
    // In 64 bits: a damaged file's absurd Minimum WPM reaches the button's
    // range, and so this handler, before the Initial WPM check refuses it.
    if (wpm > 0)
        rc_data.unit_elem = static_cast<int32_t>((int64_t{rc_data.tone_freq} * 60) / (int64_t{wpm} * 100));
}

void Show_Speed_Without_Window(int32_t min_wpm, int32_t max_wpm, int32_t wpm)
{
    if (speed_adjustment == nullptr) {
        speed_adjustment = GTK_ADJUSTMENT(g_object_ref_sink(gtk_adjustment_new(wpm, min_wpm, max_wpm, 1, 5, 0)));
        g_signal_connect(speed_adjustment, "value-changed", G_CALLBACK(On_Speed_Adjustment_Changed), nullptr);
    } else {
        gtk_adjustment_configure(speed_adjustment, wpm, min_wpm, max_wpm, 1, 5, 0);
    }
    Set_Unit_From_Wpm(wpm);
}

int32_t Shown_Speed(void)
{
    if (speed != nullptr)
        return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(speed));
    if (speed_adjustment != nullptr)
        return static_cast<int32_t>(std::lround(gtk_adjustment_get_value(speed_adjustment)));
    return 0;
}

void Begin_Engine_Speed(int32_t min_wpm, int32_t max_wpm)
{
    if (engine_speed || speed == nullptr)
        return;
    GtkSpinButton *button = GTK_SPIN_BUTTON(speed);
    classic_wpm = gtk_spin_button_get_value(button);
    gtk_spin_button_get_range(button, &classic_min_wpm, &classic_max_wpm);
    engine_speed = true;
    gtk_spin_button_set_range(button, min_wpm, max_wpm);
}

void Show_Engine_Speed(int32_t wpm)
{
    if (engine_speed)
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(speed), wpm);
}

void End_Engine_Speed(void)
{
    if (!engine_speed)
        return;
    GtkSpinButton *button = GTK_SPIN_BUTTON(speed);
    gtk_spin_button_set_range(button, classic_min_wpm, classic_max_wpm);
    gtk_spin_button_set_value(button, classic_wpm);
    engine_speed = false;
}

void on_wpm_spinbutton_value_changed(GtkSpinButton *button, gpointer)
{
    if (engine_speed)
        return;
    Set_Unit_From_Wpm(gtk_spin_button_get_value_as_int(button));
}

void on_auto_checkbutton_toggled(GtkToggleButton *button, gpointer)
{
    if (gtk_toggle_button_get_active(button))
        Set_Flag(ADAPT_SPEED);
    else
        Clear_Flag(ADAPT_SPEED);
}
