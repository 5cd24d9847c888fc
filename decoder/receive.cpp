// decoder/receive.cpp - the Receive button and the receive loop: one detector
// and decoder step per idle call, decoded text appended to the text view.
#include "decoder/receive.h"

#include <cstring>

#include "cat/serial.h"
#include "core/shared.h"
#include "core/startup.h"
#include "decoder/morse.h"
#include "sound/capture.h"

namespace {

// Identifies the loop's idle source for removal (matched by address).
constexpr char RX_TAG[] = "RX";
constexpr size_t MESG_LEN = 128;

double scroll_ref = 0.0;

// The text view lays a paragraph out anew at every insert, so a paragraph
// that grows for hours makes each character cost more (about 7 ms each at
// 20 000 characters, against 0.4 ms in short paragraphs) until the loop
// cannot keep up with the sound device. A word gap once the last line holds
// this many characters starts a new line instead.
constexpr int PARAGRAPH_CHARS = 1000;

gpointer Rx_Tag(void)
{
    return const_cast<char *>(RX_TAG);
}

}  // namespace

void on_receive_togglebutton_toggled(GtkToggleButton *togglebutton, gpointer)
{
    if (gtk_toggle_button_get_active(togglebutton) && isFlagSet(RCCONFIG_OK)) {
        char mesg[MESG_LEN] = "";
        int error = 0;

        // A device left open by a start with the detector not ready is
        // closed first rather than opened a second time on top of it.
        Close_PCM_Handle();
        if (Setup_Sound_Card(mesg, &error)) {
            if (isFlagSet(DETECTOR_READY)) {
                if (isFlagSet(ENABLE_CAT))
                    Open_Tcvr_Serial();
                g_idle_add(Print_Character, Rx_Tag());
            } else {
                Error_Dialog(_("Failed to initialize signal detector"));
            }
        } else {
            if (error != 0) {
                Strlcat(mesg, _("\nError: "), sizeof(mesg));
                Strlcat(mesg, snd_strerror(error), sizeof(mesg));
            }
            Cleanup();
            Error_Dialog(mesg);
        }
    } else if (isFlagSet(DETECTOR_READY)) {
        g_idle_remove_by_data(Rx_Tag());
        if (isFlagSet(ENABLE_CAT))
            Close_Tcvr_Serial();
        Close_PCM_Handle();
    }
}

gboolean Print_Character(gpointer)
{
    char text[5];
    text[0] = '\0';
    if (!Get_Character(text))
        return FALSE;
    if (text[0] == '\0')
        return TRUE;

    GtkTextIter end;
    gtk_text_buffer_get_iter_at_offset(rx_text_buffer, &end,
                                       gtk_text_buffer_get_char_count(rx_text_buffer));
    if (strcmp(text, " ") == 0 && gtk_text_iter_get_line_offset(&end) >= PARAGRAPH_CHARS)
        Strlcpy(text, "\n", sizeof(text));
    gtk_text_buffer_insert(rx_text_buffer, &end, text, -1);

    // While the text fits, upper equals the page size stored last time and
    // the view is left alone; once it overflows, every string shows the end.
    GtkAdjustment *adj =
        gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(rx_scrolledwindow));
    double upper = gtk_adjustment_get_upper(adj);
    double page = gtk_adjustment_get_page_size(adj);
    if (upper == scroll_ref)
        return TRUE;
    gtk_adjustment_set_value(adj, upper - page);
    scroll_ref = page;
    return TRUE;
}

void on_clear_button_clicked(GtkButton *, gpointer)
{
    gtk_text_buffer_set_text(rx_text_buffer, "", -1);
}
