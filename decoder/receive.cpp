// decoder/receive.cpp - the Receive button, the decoder choice and the
// receive loop: one step of the chosen decoder per idle call, decoded text
// appended to the text view.
#include "decoder/receive.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "cat/serial.h"
#include "core/shared.h"
#include "core/startup.h"
#include "decoder/adaptive.h"
#include "decoder/detector.h"
#include "decoder/morse.h"
#include "decoder/speed.h"
#include "sound/capture.h"
#include "sound/intake.h"

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

// The loop is registered: a decoder chosen now takes over at once.
bool receiving = false;

bool adaptive_chosen = false;

// The adaptive decoder of the reception under way, fed one classic
// fragment's samples per step so that the scope advances as it does with
// the classic decoder.
adaptive_decoder_t *adaptive = nullptr;
int32_t adaptive_step_len = 0;
int32_t adaptive_tone_hz = 0;
int32_t adaptive_wpm_shown = 0;

// Samples go to the decoder in pieces of this many; the piece is the
// loop's only buffer and is made once, with the program.
constexpr int32_t FEED_LEN = 512;
int16_t feed_piece[FEED_LEN];

// The decoder's mark level on the scope, at three fifths of its height:
// room above it for a signal that rises before the level follows.
constexpr double ADAPTIVE_TRACE_HEIGHT = 0.6;

// Appends one decoded string at the end of the text and keeps the end in view.
void Insert_Text(const char *text)
{
    GtkTextIter end;
    gtk_text_buffer_get_iter_at_offset(rx_text_buffer, &end,
                                       gtk_text_buffer_get_char_count(rx_text_buffer));
    if (strcmp(text, " ") == 0 && gtk_text_iter_get_line_offset(&end) >= PARAGRAPH_CHARS)
        text = "\n";
    gtk_text_buffer_insert(rx_text_buffer, &end, text, -1);

    // While the text fits, upper equals the page size stored last time and
    // the view is left alone; once it overflows, every string shows the end.
    GtkAdjustment *adj =
        gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(rx_scrolledwindow));
    double upper = gtk_adjustment_get_upper(adj);
    double page = gtk_adjustment_get_page_size(adj);
    if (upper == scroll_ref)
        return;
    gtk_adjustment_set_value(adj, upper - page);
    scroll_ref = page;
}

void Print_Adaptive_Characters(void)
{
    adaptive_char_t c;
    while (Adaptive_Next(adaptive, &c))
        Insert_Text(c.text);
}

// What it still holds is printed: the character being received ends here.
void Destroy_Adaptive(void)
{
    if (adaptive == nullptr)
        return;
    Adaptive_Finish(adaptive);
    Print_Adaptive_Characters();
    Adaptive_Destroy(adaptive);
    adaptive = nullptr;
}

// 1 with the adaptive decoder set up for the reception under way; 0 after
// reporting why it cannot run.
int Create_Adaptive(void)
{
    Destroy_Adaptive();
    adaptive_settings_t settings;
    settings.rate_hz = rc_data.dsp_rate;
    settings.tone_hz = rc_data.tone_freq;
    char reason[MESG_LEN] = "";
    adaptive = Adaptive_Create(settings, reason, sizeof(reason));
    if (adaptive == nullptr) {
        fprintf(stderr, "velkador: adaptive decoder: %s\n", reason);
        char mesg[MESG_LEN];
        Strlcpy(mesg, _("The adaptive decoder cannot run: "), sizeof(mesg));
        Strlcat(mesg, reason, sizeof(mesg));
        Strlcat(mesg, _("\nThe classic decoder is used."), sizeof(mesg));
        Error_Dialog(mesg);
        return 0;
    }
    adaptive_step_len = (2 * rc_data.dsp_rate) / rc_data.tone_freq;
    adaptive_tone_hz = rc_data.tone_freq;
    adaptive_wpm_shown = 0;
    return 1;
}

// One step of the adaptive decoder: a fragment's samples from the intake
// (so the waterfall gets each of them), the text it yields, its envelope on
// the scope and its speed on the speed button. 0 when the intake failed.
int Adaptive_Step(void)
{
    if (rc_data.tone_freq != adaptive_tone_hz) {
        adaptive_tone_hz = rc_data.tone_freq;
        Adaptive_Retune(adaptive, adaptive_tone_hz);
    }
    int32_t left = adaptive_step_len;
    while (left > 0) {
        int32_t n = left < FEED_LEN ? left : FEED_LEN;
        for (int32_t i = 0; i < n; i++) {
            if (!Signal_Sample(&feed_piece[i])) {
                Adaptive_Feed(adaptive, feed_piece, i, 1);
                return 0;
            }
        }
        Adaptive_Feed(adaptive, feed_piece, n, 1);
        left -= n;
    }
    Print_Adaptive_Characters();

    adaptive_trace_t trace = Adaptive_Trace(adaptive);
    const double scale = ADAPTIVE_TRACE_HEIGHT * scope_height;
    if (!Add_Trace_Point(static_cast<int32_t>(std::lround(trace.envelope * scale)),
                         static_cast<int32_t>(std::lround(trace.threshold * scale))))
        return 0;

    int32_t wpm = Adaptive_Wpm(adaptive);
    if (wpm != adaptive_wpm_shown) {
        adaptive_wpm_shown = wpm;
        Show_Engine_Speed(wpm);
    }
    return 1;
}

void Set_Sensitive(GtkWidget *widget, bool sensitive)
{
    if (widget != nullptr)
        gtk_widget_set_sensitive(widget, sensitive ? TRUE : FALSE);
}

GtkWidget *Window_Object(const char *id)
{
    return main_builder != nullptr ? GTK_WIDGET(gtk_builder_get_object(main_builder, id)) : nullptr;
}

// The controls of the classic decoder mean nothing to the adaptive one;
// its speed shows on the speed button, and the scope's ratio and level
// modes, which are the classic detector's, give way to its signal mode.
void Show_Decoder_Controls(void)
{
    const bool classic = !adaptive_chosen;
    Set_Sensitive(squelch, classic);
    Set_Sensitive(ratio, classic);
    Set_Sensitive(speed, classic);
    Set_Sensitive(Window_Object("auto_checkbutton"), classic);
    Set_Sensitive(Window_Object("ratio_radiobutton"), classic);
    Set_Sensitive(Window_Object("level_radiobutton"), classic);
    if (classic) {
        Clear_Flag(ADAPTIVE_TRACE);
        End_Engine_Speed();
        return;
    }
    Set_Flag(ADAPTIVE_TRACE);
    Begin_Engine_Speed(ADAPTIVE_MIN_WPM, ADAPTIVE_MAX_WPM);
    GtkWidget *signal = Window_Object("signal_radiobutton");
    if (signal != nullptr && (isFlagSet(DISPLAY_RATIO) || isFlagSet(DISPLAY_LEVEL)))
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(signal), TRUE);
}

// An adaptive decoder that cannot run leaves the choice on Classic.
void Fall_Back_To_Classic(void)
{
    adaptive_chosen = false;
    Show_Decoder_Controls();
    GtkWidget *choice = Window_Object("decoder_combobox");
    if (choice != nullptr)
        gtk_combo_box_set_active_id(GTK_COMBO_BOX(choice), DECODER_CLASSIC_ID);
}

void Select_Decoder(bool adaptive_wanted)
{
    if (adaptive_wanted == adaptive_chosen)
        return;
    if (!adaptive_wanted) {
        Destroy_Adaptive();
    } else if (receiving && !Create_Adaptive()) {
        Fall_Back_To_Classic();
        return;
    }
    adaptive_chosen = adaptive_wanted;
    Show_Decoder_Controls();
}

}  // namespace

void Retune_Decoder(void)
{
    if (adaptive != nullptr)
        Adaptive_Retune(adaptive, rc_data.tone_freq);
}

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
                if (adaptive_chosen && !Create_Adaptive())
                    Fall_Back_To_Classic();
                if (isFlagSet(ENABLE_CAT))
                    Open_Tcvr_Serial();
                g_idle_add(Print_Character, Rx_Tag());
                receiving = true;
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
        receiving = false;
        Destroy_Adaptive();
        if (isFlagSet(ENABLE_CAT))
            Close_Tcvr_Serial();
        Close_PCM_Handle();
    }
}

gboolean Print_Character(gpointer)
{
    if (adaptive != nullptr) {
        if (Adaptive_Step())
            return TRUE;
        receiving = false;
        return FALSE;
    }

    char text[5];
    text[0] = '\0';
    if (!Get_Character(text)) {
        receiving = false;
        return FALSE;
    }
    if (text[0] != '\0')
        Insert_Text(text);
    return TRUE;
}

void on_clear_button_clicked(GtkButton *, gpointer)
{
    gtk_text_buffer_set_text(rx_text_buffer, "", -1);
}

void on_decoder_combobox_changed(GtkComboBox *combobox, gpointer)
{
    const gchar *id = gtk_combo_box_get_active_id(combobox);
    Select_Decoder(id != nullptr && strcmp(id, DECODER_ADAPTIVE_ID) == 0);
}
