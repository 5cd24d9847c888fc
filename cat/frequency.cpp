// cat/frequency.cpp - frequency control. rx_freq follows the spin button;
// every change of the button's value goes to the rig, and click-to-tune
// goes through the button too, so there is one path to the rig.
#include "cat/frequency.h"

#include <cmath>
#include <cstdio>

#include "cat/hamlib.h"
#include "cat/rigs.h"
#include "cat/serial.h"
#include "core/shared.h"
#include "core/startup.h"
#include "decoder/receive.h"
#include "display/waterfall.h"

namespace {

// Entries searched below the click's entry (that one included) and above it
// (that one excluded).
constexpr int TUNE_WINDOW = 20;
// The click's x is taken 1.5 entries to the right before truncation.
constexpr double TUNE_X_OFFSET = 1.5;

// Hands a new receive frequency to the spin button, whose value-changed
// handler sends it; without a window it is sent from here.
void Show_Rx_Freq(int32_t freq_hz)
{
    if (frequency == nullptr) {
        int32_t old_hz = rc_data.rx_freq;
        rc_data.rx_freq = freq_hz;
        if (freq_hz != old_hz)
            Write_Rx_Freq(freq_hz);
        return;
    }
    GtkSpinButton *spin = GTK_SPIN_BUTTON(frequency);
    gtk_spin_button_set_value(spin, freq_hz);
    // The button clamps to its range and then fires no change: keep rx_freq
    // on what it shows.
    rc_data.rx_freq = gtk_spin_button_get_value_as_int(spin);
}

}  // namespace

int Write_Rx_Freq(int freq)
{
    if (isFlagClear(TCVR_SERIAL_OK))
        return 1;

    unsigned char cmd[FA_CMD_LEN];
    size_t len;
    int built;
    switch (rc_data.tcvr_type) {
    case TCVR_K2:
    case TCVR_K3:
        built = Build_Fa_Freq_Command(freq, cmd);
        len = FA_CMD_LEN;
        break;
    case TCVR_FT847:
    case TCVR_FT857:
        built = Build_Bcd_Freq_Command(freq, cmd);
        len = BCD_CMD_LEN;
        break;
    case TCVR_HAMLIB:
        return Hamlib_Set_Freq(freq);
    default:
        return 1;
    }
    if (!built) {
        fprintf(stderr, "velkador: %d Hz is outside the rig's frequency range: not sent\n", freq);
        return 0;
    }
    return Write_Tcvr_Serial(cmd, len);
}

int Tune_Peak_Entry(double x)
{
    int centre = static_cast<int>(x + TUNE_X_OFFSET);
    int lo = centre - TUNE_WINDOW > 0 ? centre - TUNE_WINDOW : 0;
    int hi = centre + TUNE_WINDOW < wfall_width - 1 ? centre + TUNE_WINDOW : wfall_width - 1;

    int peak = centre;
    int32_t max = 0;
    if (bin_ave == nullptr)
        return peak;
    for (int k = lo; k < hi; k++) {
        if (bin_ave[k] > max) {
            max = bin_ave[k];
            peak = k;
        }
    }
    return peak;
}

int Tune_Tcvr(double x)
{
    if (isFlagClear(TCVR_SERIAL_OK))
        return 1;
    // Nothing to tune to before the waterfall has a line; a click far off
    // the drawing area is no click on a signal.
    if (bin_ave == nullptr || wfall_width < 1 || !(std::fabs(x) < 1.0e6))
        return 1;

    int64_t peak = Tune_Peak_Entry(x);
    int64_t peak_hz = (2 * peak + 2) * rc_data.tone_freq / (wfall_width + 1);

    int64_t base_hz;
    if (rc_data.tcvr_type == TCVR_PERSEUS)
        base_hz = rc_data.rx_freq;
    else if (!Read_Tcvr_Freq(&base_hz))
        return 0;

    int64_t new_hz = base_hz + peak_hz - rc_data.tone_freq;
    // A Hamlib rig gets no frequency other than the one the click asks for.
    if (rc_data.tcvr_type == TCVR_HAMLIB && (new_hz < 0 || new_hz > MAX_BCD_FREQ)) {
        fprintf(stderr, "velkador: %lld Hz is outside the rig's frequency range: not sent\n",
                static_cast<long long>(new_hz));
        return 0;
    }
    // A rig near either end of the dial may put the signal outside what
    // the commands carry: stop at the ends instead of wrapping.
    if (new_hz < 0)
        new_hz = 0;
    if (new_hz > MAX_BCD_FREQ)
        new_hz = MAX_BCD_FREQ;
    Show_Rx_Freq(static_cast<int32_t>(new_hz));
    Retune_Decoder();
    return 1;
}

void on_frequency_spinbutton_value_changed(GtkSpinButton *spin_button, gpointer)
{
    rc_data.rx_freq = gtk_spin_button_get_value_as_int(spin_button);
    Write_Rx_Freq(rc_data.rx_freq);
}

gboolean on_frequency_spinbutton_scroll_event(GtkWidget *, GdkEventScroll *event, gpointer)
{
    int32_t freq_hz = rc_data.rx_freq;
    if (event->direction == GDK_SCROLL_UP)
        freq_hz++;
    else if (event->direction == GDK_SCROLL_DOWN)
        freq_hz--;
    Show_Rx_Freq(freq_hz);
    return TRUE;
}

gboolean on_waterfall_drawingarea_button_press_event(GtkWidget *, GdkEventButton *event, gpointer)
{
    if (event->button == 1 && isFlagSet(TCVR_SERIAL_OK))
        Tune_Tcvr(event->x);
    return TRUE;
}
