// decoder/speed.h - the Morse unit: set from the speed spin button, and moved
// toward the sender's measured unit after each character when Auto is on.
// Without a window the speed is shown in an adjustment kept here instead.
#ifndef VELKADOR_DECODER_SPEED_H
#define VELKADOR_DECODER_SPEED_H

#include "ui/interface.h"

void Track_Speed(void);

// unit_elem from a speed in words per minute, as the speed button sets it.
void Set_Unit_From_Wpm(int32_t wpm);

// For a decoder without the window: the speed is shown in an adjustment
// with the speed button's range and change rule, whose changes set the unit
// as the button's handler does. Also sets unit_elem from wpm. Used only
// while the speed button does not exist.
void Show_Speed_Without_Window(int32_t min_wpm, int32_t max_wpm, int32_t wpm);

// The speed shown: on the speed button, else in the adjustment; 0 for none.
int32_t Shown_Speed(void);

// Another engine's speed on the speed button: from Begin_Engine_Speed to
// End_Engine_Speed the button spans min_wpm .. max_wpm, shows what
// Show_Engine_Speed gives, and leaves unit_elem alone; End puts back the
// range and the speed it showed before, so the classic decoder resumes
// where it was.
void Begin_Engine_Speed(int32_t min_wpm, int32_t max_wpm);
void Show_Engine_Speed(int32_t wpm);
void End_Engine_Speed(void);

VELKADOR_HANDLER void on_wpm_spinbutton_value_changed(GtkSpinButton *, gpointer);
VELKADOR_HANDLER void on_auto_checkbutton_toggled(GtkToggleButton *, gpointer);

#endif
