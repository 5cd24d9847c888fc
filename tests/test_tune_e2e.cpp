// Click-to-tune end to end in the real window: the configuration names a
// simulated K2, the capture device plays a tone with a second signal 200 Hz
// above it, and a click on that signal's waterfall column retunes the rig.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cat/frequency.h"
#include "cat/serial.h"
#include "core/config.h"
#include "core/shared.h"
#include "core/startup.h"
#include "cwgen.h"
#include "display/waterfall.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "support/rig_sim.h"
#include "ui/interface.h"

namespace {

// The waterfall entry of 1000 Hz with an 800 Hz tone across 511 columns:
// (2k + 2) * 800 / 512 = 1000.
constexpr int SECOND_ENTRY = 319;

gboolean Click_Waterfall(double x)
{
    GdkEvent *event = gdk_event_new(GDK_BUTTON_PRESS);
    event->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(waterfall)));
    event->button.send_event = TRUE;
    event->button.button = 1;
    event->button.x = x;
    event->button.y = 20;
    gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    gboolean handled = gtk_widget_event(waterfall, event);
    gdk_event_free(event);
    return handled;
}

}  // namespace

TEST(TuneEndToEnd, ClickOnASecondSignalBringsItOntoTheTone)
{
    REQUIRE_DISPLAY();
    Rig_Sim sim(TCVR_K2, 14060000);
    std::string dir = Make_Temp_Dir("tune");
    Alsa_Test_Env env = Make_Alsa_Test_Env(dir + "/audio.raw");
    ASSERT_EQ(mkdir((env.home + "/.velkador").c_str(), 0755), 0);
    Write_Text_File(env.home + "/.velkador/velkadorrc",
                    "# click-to-tune\n" + env.device + "\n48000\nFRONT_LEFT\nCapture\nCapture\n50\n40\n10\n20\n" +
                        sim.Path() + "\nK2\n0\n800\n");

    // Long dashes 200 Hz above a slower signal on the tone, for a minute.
    Cw_Params params;
    params.wpm = 12.0;
    params.second_text = std::string(60, 'T');
    params.second_tone_hz = 1000.0;
    params.second_wpm = 6.0;
    std::vector<int16_t> audio;
    std::string error;
    ASSERT_TRUE(Cw_Generate(params, "TEST DE VELKADOR", audio, error)) << error;
    Write_Raw_Samples(env.infile, audio);

    GtkWidget *window = Build_Test_Window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) > 1; }));
    g_idle_add(Load_Config, nullptr);
    ASSERT_TRUE(Iterate_Until([] { return isFlagSet(RCCONFIG_OK) || error_dialog != nullptr; }));
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY | ENABLE_CAT)) << Error_Dialog_Text();
    ASSERT_EQ(rc_data.tcvr_type, TCVR_K2);
    ASSERT_EQ(rc_data.tone_freq, 800);
    ASSERT_EQ(wfall_width, 511);

    GtkToggleButton *receive = GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, "receive_togglebutton"));
    gtk_toggle_button_set_active(receive, TRUE);
    ASSERT_TRUE(isFlagSet(TCVR_SERIAL_OK)) << Error_Dialog_Text();
    ASSERT_TRUE(sim.Wait_For_Bytes(7));
    EXPECT_EQ(Hex_Bytes(sim.Received()), Hex_Bytes(Text_Bytes("FA;MD7;")));
    sim.Clear_Received();

    // Click while the second signal is keyed down in the newest line, a
    // column beside its own: the peak search finds it.
    ASSERT_TRUE(Iterate_Until(
        [] { return bin_ave != nullptr && bin_ave[SECOND_ENTRY] > 64 && Tune_Peak_Entry(SECOND_ENTRY - 3) == SECOND_ENTRY; },
        30000))
        << "no line with the second signal at its column";
    EXPECT_TRUE(Click_Waterfall(SECOND_ENTRY - 3));

    EXPECT_EQ(rc_data.rx_freq, 14060200);
    ASSERT_TRUE(sim.Wait_For_Bytes(17));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(sim.Received().data()), 17), "FA;FA00014060200;");
    EXPECT_EQ(sim.Freq(), 14060200);
    EXPECT_EQ(error_dialog, nullptr) << Error_Dialog_Text();

    gtk_toggle_button_set_active(receive, FALSE);
    EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK));
    EXPECT_EQ(Tcvr_Serial_Fd(), 0);
}
