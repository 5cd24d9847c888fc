// velkador end to end in its real window: a temporary HOME whose
// configuration names the file-backed capture device and the virtual mixer,
// generated audio of a known QSO, and the Receive button.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/config.h"
#include "core/shared.h"
#include "core/startup.h"
#include "cwgen.h"
#include "decoder/adaptive.h"
#include "decoder/detector.h"
#include "decoder/receive.h"
#include "display/waterfall.h"
#include "sound/capture.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "ui/interface.h"

namespace {

const char *const QSO =
    "CQ CQ DE DL2ABC DL2ABC K "
    "DL2ABC DE G4XYZ GM OM TNX FER CALL UR RST 579 579 NAME JOHN QTH LONDON HW? "
    "G4XYZ DE DL2ABC R FB JOHN RST 599 NAME PETER QTH BERLIN 73 <SK>";

// Upper case, runs of blanks collapsed, ends trimmed.
std::string Normalised(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (isspace(static_cast<unsigned char>(c))) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += static_cast<char>(toupper(static_cast<unsigned char>(c)));
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

size_t Count(const std::string &haystack, const std::string &needle)
{
    size_t n = 0;
    for (size_t pos = haystack.find(needle); pos != std::string::npos; pos = haystack.find(needle, pos + 1))
        n++;
    return n;
}

GtkToggleButton *Receive_Button(void)
{
    return GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, "receive_togglebutton"));
}

void Choose_Decoder(const char *id)
{
    ASSERT_TRUE(gtk_combo_box_set_active_id(GTK_COMBO_BOX(Builder_Get_Object(main_builder, "decoder_combobox")), id));
}

bool Sensitive(const char *id)
{
    return gtk_widget_get_sensitive(Builder_Get_Object(main_builder, id));
}


class Receive : public ::testing::Test {
protected:
    Alsa_Test_Env env;
    GtkWidget *window = nullptr;

    void SetUp() override
    {
        REQUIRE_DISPLAY();
        std::string dir = Make_Temp_Dir("receive");
        env = Make_Alsa_Test_Env(dir + "/audio.raw");
        ASSERT_EQ(mkdir((env.home + "/.velkador").c_str(), 0755), 0);
    }

    void Write_Config(const std::string &card, const std::string &cap_src = "Capture", int rate = 48000)
    {
        Write_Text_File(env.home + "/.velkador/velkadorrc",
                        "# test receiver\n" + card + "\n" + std::to_string(rate) + "\nFRONT_LEFT\n" + cap_src +
                            "\nCapture\n50\n40\n10\n20\n/dev/null\nNONE\n0\n800\n");
    }

    void Write_Audio(const std::string &text, double wpm)
    {
        Cw_Params params;
        params.wpm = wpm;
        params.trail_ms = 2000.0;
        std::vector<int16_t> audio;
        std::string error;
        ASSERT_TRUE(Cw_Generate(params, text, audio, error)) << error;
        Write_Raw_Samples(env.infile, audio);
    }

    // The program's own start: the window, then the loader once idle.
    void Start_Program(void)
    {
        window = Build_Test_Window();
        ASSERT_TRUE(Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) > 1; }));
        g_idle_add(Load_Config, nullptr);
        Iterate_Until([] { return isFlagSet(RCCONFIG_OK) || error_dialog != nullptr; });
    }

    // Runs the main loop until cond holds and stops reception right then:
    // the device delivers audio (and silence after its end) as fast as it is
    // read, so only an event, never a time, says how much of it was used.
    bool Receive_Until(const std::function<bool()> &cond, int timeout_ms)
    {
        bool held = Iterate_Until(cond, timeout_ms);
        gtk_toggle_button_set_active(Receive_Button(), FALSE);
        return held;
    }

    // With reception stopped: the window redrawn, then its picture saved.
    void Save_Screenshot(const char *name)
    {
        bool drawn = false;
        gulong id = g_signal_connect_after(window, "draw", G_CALLBACK(+[](GtkWidget *, cairo_t *, gpointer done) {
                                               *static_cast<bool *>(done) = true;
                                               return FALSE;
                                           }),
                                           &drawn);
        gtk_widget_queue_draw(window);
        EXPECT_TRUE(Iterate_Until([&] { return drawn; }, 20000));
        g_signal_handler_disconnect(window, id);
        gdk_display_sync(gdk_display_get_default());
        GdkWindow *gdk_window = gtk_widget_get_window(window);
        GdkPixbuf *shot = gdk_pixbuf_get_from_window(gdk_window, 0, 0, gdk_window_get_width(gdk_window),
                                                     gdk_window_get_height(gdk_window));
        ASSERT_NE(shot, nullptr);
        std::string path = std::string(VELKADOR_TEST_OUTPUT_DIR) + "/" + name;
        EXPECT_TRUE(gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr));
        g_object_unref(shot);
    }
};

TEST_F(Receive, DecodesAKnownQsoIntoTheTextViewWithItsWaterfallTrace)
{
    Write_Config(env.device);
    Write_Audio(QSO, 20.0);
    Start_Program();
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY)) << Error_Dialog_Text();

    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    ASSERT_NE(pcm_handle, nullptr);
    const std::string expected = Normalised(QSO);
    Receive_Until([&] { return Normalised(Rx_View_Text()).size() >= expected.size(); }, 120000);
    EXPECT_EQ(Normalised(Rx_View_Text()), expected);
    EXPECT_EQ(error_dialog, nullptr) << Error_Dialog_Text();

    // The keyed tone lies in the middle of the waterfall: bins beside the
    // tone's (the white mark covers column 256) are bright, far bins dark.
    int near = 0, far = 0, far_pixels = 0, rows = wfall_height - 3;
    for (int row = 2; row < wfall_height - 1; row++) {
        const guchar *line = wfall_pixels + row * wfall_rowstride;
        for (int col : {255, 257})
            near += line[col * wfall_n_channels] + line[col * wfall_n_channels + 1];
        for (int col = 1; col < wfall_width; col++) {
            if (col > 220 && col < 292)
                continue;
            far += line[col * wfall_n_channels] + line[col * wfall_n_channels + 1];
            far_pixels++;
        }
        const guchar *mark = line + 256 * wfall_n_channels;
        ASSERT_EQ(mark[0] + mark[1] + mark[2], 3 * 255) << "tone mark, row " << row;
    }
    EXPECT_GT(near / (2 * rows), 40) << "mean red+green beside the tone";
    EXPECT_LT(far / far_pixels, 10) << "mean red+green away from the tone";
    Save_Screenshot("receive-decoding.png");
}

TEST_F(Receive, TheAdaptiveDecoderCopiesAKnownQsoIntoTheTextView)
{
    Write_Config(env.device);
    Write_Audio(QSO, 20.0);
    Start_Program();
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY)) << Error_Dialog_Text();
    Choose_Decoder(DECODER_ADAPTIVE_ID);

    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    // It finds the speed within the first characters: the end of the QSO
    // must be copied whole.
    const std::string ending = "NAME PETER QTH BERLIN 73 <SK>";
    Receive_Until([&] { return Normalised(Rx_View_Text()).find(ending) != std::string::npos; }, 120000);
    const std::string expected = Normalised(QSO), got = Normalised(Rx_View_Text());
    EXPECT_NE(got.find(ending), std::string::npos) << got;
    printf("adaptive decoder in the window: %zu of %zu characters wrong\n", Edit_Distance(got, expected),
           expected.size());
    EXPECT_EQ(error_dialog, nullptr) << Error_Dialog_Text();
    Save_Screenshot("receive-adaptive.png");
}

TEST_F(Receive, ChoosingTheDecoderDuringReceptionSwapsItsControls)
{
    Write_Config(env.device);
    Write_Audio("VVV VVV " + std::string(QSO), 20.0);
    Start_Program();
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY));
    // A classic speed the adaptive decoder would not show on this signal.
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(speed), 15);
    const int32_t classic_unit = rc_data.unit_elem;
    ASSERT_EQ(classic_unit, 32);

    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    ASSERT_TRUE(Iterate_Until([] { return !Rx_View_Text().empty(); }, 60000));
    Choose_Decoder(DECODER_ADAPTIVE_ID);
    for (const char *id : {"squelch_spinbutton", "ratio_spinbutton", "auto_checkbutton", "wpm_spinbutton",
                           "level_radiobutton", "ratio_radiobutton"})
        EXPECT_FALSE(Sensitive(id)) << id;
    EXPECT_TRUE(Sensitive("signal_radiobutton"));
    // A whole trace and speed from the adaptive decoder.
    Clear_Flag(DRAW_SCOPE);
    ASSERT_TRUE(Iterate_Until([] { return isFlagSet(DRAW_SCOPE); }, 60000));
    EXPECT_TRUE(isFlagSet(ADAPTIVE_TRACE));
    const int shown = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(speed));
    EXPECT_NE(shown, 15);
    EXPECT_GE(shown, ADAPTIVE_MIN_WPM);
    EXPECT_LE(shown, ADAPTIVE_MAX_WPM);
    EXPECT_EQ(rc_data.unit_elem, classic_unit) << "the classic unit stays as it was";

    // Back to Classic: the controls and the classic speed return, and the
    // classic decoder prints again.
    Choose_Decoder(DECODER_CLASSIC_ID);
    for (const char *id : {"squelch_spinbutton", "ratio_spinbutton", "auto_checkbutton", "wpm_spinbutton",
                           "level_radiobutton", "ratio_radiobutton"})
        EXPECT_TRUE(Sensitive(id)) << id;
    EXPECT_TRUE(isFlagClear(ADAPTIVE_TRACE));
    EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(speed)), 15);
    EXPECT_EQ(rc_data.unit_elem, classic_unit);
    double lower = 0.0, upper = 0.0;
    gtk_spin_button_get_range(GTK_SPIN_BUTTON(speed), &lower, &upper);
    EXPECT_EQ(lower, 10.0);
    EXPECT_EQ(upper, 40.0);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(speed), 20);
    const size_t before = Rx_View_Text().size();
    EXPECT_TRUE(Receive_Until([&] { return Rx_View_Text().size() >= before + 10; }, 60000)) << Rx_View_Text();
}

TEST_F(Receive, AnAdaptiveDecoderThatCannotRunIsReportedAndClassicGoesOn)
{
    Write_Config(env.device, "Capture", 2 * ADAPTIVE_MAX_RATE);
    Write_Audio("E", 20.0);
    Start_Program();
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY)) << Error_Dialog_Text();
    Choose_Decoder(DECODER_ADAPTIVE_ID);
    EXPECT_FALSE(Sensitive("squelch_spinbutton"));

    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    EXPECT_EQ(Error_Dialog_Text().rfind("The adaptive decoder cannot run: sample rate 768000 Hz", 0), 0u)
        << Error_Dialog_Text();
    GtkComboBox *choice = GTK_COMBO_BOX(Builder_Get_Object(main_builder, "decoder_combobox"));
    EXPECT_STREQ(gtk_combo_box_get_active_id(choice), DECODER_CLASSIC_ID);
    EXPECT_TRUE(Sensitive("squelch_spinbutton"));
    EXPECT_NE(pcm_handle, nullptr) << "reception goes on with the classic decoder";
    gtk_toggle_button_set_active(Receive_Button(), FALSE);
}

TEST_F(Receive, StopAndStartAgainResumes)
{
    Write_Config(env.device);
    Write_Audio("VVV TEST DE VELKADOR", 20.0);
    Start_Program();
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY));

    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    ASSERT_TRUE(Receive_Until([] { return Normalised(Rx_View_Text()) == "VVV TEST DE VELKADOR"; }, 60000))
        << Rx_View_Text();
    EXPECT_EQ(pcm_handle, nullptr);
    std::string stopped = Rx_View_Text();
    Iterate_Pending();  // ends only because no receive step is left in the loop
    EXPECT_EQ(Rx_View_Text(), stopped) << "nothing is decoded while stopped";

    // A new start opens the device anew (the file from its start) and the
    // decoder carries on from where it was.
    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    ASSERT_TRUE(Iterate_Until([] { return Count(Normalised(Rx_View_Text()), "VELKADOR") == 2; }, 60000))
        << Rx_View_Text();

    // Clear empties the view; reception goes on into the empty buffer.
    gtk_button_clicked(GTK_BUTTON(Builder_Get_Object(main_builder, "clear_button")));
    EXPECT_EQ(Rx_View_Text(), "");
    gtk_toggle_button_set_active(Receive_Button(), FALSE);
}

TEST_F(Receive, AWordGapAfterAThousandCharactersOfALineStartsANewLine)
{
    // Hours of copy in one paragraph would make every insert lay out all of
    // it again; a long line ends at its next word gap.
    Write_Config(env.device);
    Write_Audio("VVV TEST DE VELKADOR", 20.0);
    Start_Program();
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY));
    const std::string earlier(999, 'E');
    gtk_text_buffer_set_text(rx_text_buffer, earlier.c_str(), -1);

    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    ASSERT_TRUE(Receive_Until([] { return Rx_View_Text().find("VELKADOR") != std::string::npos; }, 60000))
        << Rx_View_Text().substr(earlier.size());
    EXPECT_EQ(Rx_View_Text().substr(earlier.size()), "VVV\nTEST DE VELKADOR");
}

TEST_F(Receive, HoldFreezesTheScopeTraceWhileReceiving)
{
    Write_Config(env.device);
    Write_Audio("PARIS PARIS PARIS", 20.0);
    Start_Program();
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY));

    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    ASSERT_TRUE(Iterate_Until([] { return scope_data != nullptr && isFlagSet(DRAW_SCOPE); }));
    gtk_toggle_button_set_active(
        GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, "stop_radiobutton")), TRUE);
    std::vector<scope_point_t> frozen(scope_data, scope_data + scope_width);
    Clear_Flag(DRAW_SCOPE);
    EXPECT_TRUE(Iterate_Until([] { return Normalised(Rx_View_Text()).find("PARIS PARIS") != std::string::npos; }, 60000));
    EXPECT_TRUE(isFlagClear(DRAW_SCOPE));
    for (int i = 0; i < scope_width; i++) {
        ASSERT_EQ(scope_data[i].x, frozen[i].x);
        ASSERT_EQ(scope_data[i].y, frozen[i].y);
    }

    gtk_toggle_button_set_active(
        GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, "signal_radiobutton")), TRUE);
    EXPECT_TRUE(Iterate_Until([] { return isFlagSet(DRAW_SCOPE); }, 10000));
    gtk_toggle_button_set_active(Receive_Button(), FALSE);
}

TEST_F(Receive, TogglingBeforeTheConfigurationIsLoadedDoesNothing)
{
    Write_Config(env.device);
    window = Build_Test_Window();
    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    EXPECT_EQ(pcm_handle, nullptr);
    EXPECT_EQ(error_dialog, nullptr);
    gtk_toggle_button_set_active(Receive_Button(), FALSE);
    EXPECT_EQ(error_dialog, nullptr);
    Iterate_Pending();
    EXPECT_EQ(Rx_View_Text(), "");
}

TEST_F(Receive, ASoundSetUpFailureCarriesTheLibraryTextOnlyWhenThereIsOne)
{
    Write_Config("velkador_no_such_device");
    Write_Audio("E", 20.0);
    Start_Program();
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY));
    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    std::string text = Error_Dialog_Text();
    EXPECT_EQ(text.rfind("Cannot open audio device: velkador_no_such_device\nError: ", 0), 0u) << text;
    EXPECT_GT(text.size(), strlen("Cannot open audio device: velkador_no_such_device\nError: "));
    EXPECT_EQ(pcm_handle, nullptr);
    EXPECT_TRUE(gtk_toggle_button_get_active(Receive_Button())) << "the button stays as the user left it";

    // Off and on again retries from scratch; the first dialog is still up,
    // so the second report is dropped.
    gtk_toggle_button_set_active(Receive_Button(), FALSE);
    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    EXPECT_EQ(Error_Dialog_Text(), text);
}

TEST_F(Receive, AMissingCaptureElementIsReportedWithoutLibraryText)
{
    Write_Config(env.device, "NoSuchElement");
    Write_Audio("E", 20.0);
    Start_Program();
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY));
    gtk_toggle_button_set_active(Receive_Button(), TRUE);
    EXPECT_EQ(Error_Dialog_Text(), "Cannot find capture element: NoSuchElement");
    EXPECT_EQ(pcm_handle, nullptr) << "Cleanup closed the device";
}

}  // namespace
