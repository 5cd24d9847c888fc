// Rigs through Hamlib, in the real window: a real rigctld serving Hamlib's
// dummy rig (checked with rigctl), Hamlib's in-process dummy, rigs that
// cannot be reached, and the receiver selector's "Hamlib" entry.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cat/frequency.h"
#include "cat/hamlib.h"
#include "cat/rigs.h"
#include "cat/serial.h"
#include "core/config.h"
#include "core/shared.h"
#include "core/startup.h"
#include "cwgen.h"
#include "display/waterfall.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "support/rig_sim.h"
#include "support/rigctld.h"
#include "ui/interface.h"

namespace {

// With an 800 Hz tone across 511 columns, entry 319 stands for 1000 Hz:
// (2k + 2) * 800 / 512.
constexpr int SECOND_ENTRY = 319;
constexpr const char *DROPPED = "Failed to Establish Transceiver CAT\nHamlib: ";

// Threads that carry the program's own name: GLib names the threads it
// starts on demand, a library thread started without a name does not.
int Unnamed_Threads(void)
{
    std::string own = Read_File("/proc/self/comm");
    int n = 0;
    DIR *dir = opendir("/proc/self/task");
    while (const struct dirent *e = readdir(dir)) {
        if (e->d_name[0] != '.' && std::to_string(getpid()) != e->d_name)
            n += Read_File(std::string("/proc/self/task/") + e->d_name + "/comm") == own;
    }
    closedir(dir);
    return n;
}

void Send_Event(GtkWidget *widget, GdkEvent *event)
{
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    event->any.send_event = TRUE;
    gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    gtk_widget_event(widget, event);
    gdk_event_free(event);
}

void Scroll(GdkScrollDirection direction)
{
    GdkEvent *event = gdk_event_new(GDK_SCROLL);
    event->scroll.direction = direction;
    Send_Event(frequency, event);
}

void Click_Waterfall(double x)
{
    GdkEvent *event = gdk_event_new(GDK_BUTTON_PRESS);
    event->button.button = 1;
    event->button.x = x;
    event->button.y = 20;
    Send_Event(waterfall, event);
}

void Set_Frequency(int hz)
{
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(frequency), hz);
}

// The first line of rigctl's answer: the frequency of "f", the mode of "m".
std::string Rig_Answer(const Rigctld &daemon, const std::vector<std::string> &args)
{
    std::string out = Rigctl(daemon, args);
    return out.substr(0, out.find('\n'));
}

// A newest waterfall line with one signal at entry.
void Set_Signal(int entry)
{
    if (bin_ave == nullptr || wfall_width != 511) {
        wfall_width = 511;
        bin_ave = static_cast<int32_t *>(realloc(bin_ave, wfall_width * sizeof(int32_t)));
    }
    memset(bin_ave, 0, wfall_width * sizeof(int32_t));
    bin_ave[entry] = 200;
}

class Hamlib : public ::testing::Test {
protected:
    std::string dir;
    Alsa_Test_Env env;

    void SetUp() override
    {
        REQUIRE_DISPLAY();
        dir = Make_Temp_Dir("hamlib");
        env = Make_Alsa_Test_Env(dir + "/audio.raw");
        ASSERT_EQ(mkdir((env.home + "/.velkador").c_str(), 0755), 0);
        ASSERT_NE(Build_Test_Window(), nullptr);
        ASSERT_TRUE(Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) > 1; }));
    }

    // Loads a configuration naming the rig; "" or the dialog's text.
    std::string Load(const std::string &port, const std::string &type)
    {
        Write_Text_File(env.home + "/.velkador/velkadorrc",
                        env.device + "\n48000\nFRONT_LEFT\nCapture\nCapture\n50\n40\n10\n20\n" + port +
                            "\n" + type + "\n0\n800\n");
        Load_Config(nullptr);
        return Error_Dialog_Text();
    }

    static void Receive(bool on)
    {
        GtkWidget *receive = Builder_Get_Object(main_builder, "receive_togglebutton");
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(receive), on);
    }
};

}  // namespace

TEST_F(Hamlib, RigctldsRigIsPutInCwReverseTunedAndRetunedByAClick)
{
    Rigctld daemon;
    std::string why;
    ASSERT_TRUE(Start_Rigctld(daemon, &why)) << why;
    ASSERT_EQ(Rig_Answer(daemon, {"M", "USB", "0"}), "");
    ASSERT_EQ(Rig_Answer(daemon, {"m"}), "USB");

    // Long dashes 200 Hz above a slower signal on the tone.
    Cw_Params params;
    params.wpm = 12.0;
    params.second_text = std::string(60, 'T');
    params.second_tone_hz = 1000.0;
    params.second_wpm = 6.0;
    std::vector<int16_t> audio;
    ASSERT_TRUE(Cw_Generate(params, "TEST DE VELKADOR", audio, why)) << why;
    Write_Raw_Samples(env.infile, audio);

    ASSERT_EQ(Load(daemon.address, "HAMLIB 2"), "");
    ASSERT_EQ(rc_data.tcvr_type, TCVR_HAMLIB);
    ASSERT_EQ(rc_data.tone_freq, 800);
    Receive(true);
    ASSERT_TRUE(isFlagSet(TCVR_SERIAL_OK)) << Error_Dialog_Text();
    EXPECT_EQ(Rig_Answer(daemon, {"m"}), "CWR");

    Set_Frequency(7025000);
    EXPECT_EQ(Rig_Answer(daemon, {"f"}), "7025000");
    Scroll(GDK_SCROLL_UP);
    EXPECT_EQ(Rig_Answer(daemon, {"f"}), "7025001");

    // Someone else moves the rig; the click starts from where it stands.
    ASSERT_EQ(Rig_Answer(daemon, {"F", "14060000"}), "");
    ASSERT_TRUE(Iterate_Until(
        [] { return bin_ave != nullptr && bin_ave[SECOND_ENTRY] > 64 && Tune_Peak_Entry(SECOND_ENTRY - 3) == SECOND_ENTRY; },
        30000))
        << "no line with the second signal at its column";
    Click_Waterfall(SECOND_ENTRY - 3);
    EXPECT_EQ(rc_data.rx_freq, 14060200);
    EXPECT_EQ(Rig_Answer(daemon, {"f"}), "14060200");

    Receive(false);
    EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
    EXPECT_EQ(error_dialog, nullptr) << Error_Dialog_Text();
}

// The first exchange after the daemon dies drops the link with one dialog;
// later changes and clicks find the link down and send nothing, and no
// thread is left behind to poll the dead daemon.
TEST_F(Hamlib, DaemonKilledMidSessionDropsTheLinkOnce)
{
    const int threads = Unnamed_Threads();
    for (bool by_click : {false, true}) {
        SCOPED_TRACE(by_click ? "click-to-tune" : "frequency change");
        Rigctld daemon;
        std::string why;
        ASSERT_TRUE(Start_Rigctld(daemon, &why)) << why;
        Strlcpy(rc_data.cat_serial, daemon.address.c_str(), sizeof(rc_data.cat_serial));
        rc_data.tcvr_type = TCVR_HAMLIB;
        rc_data.hamlib_model = HAMLIB_NET_MODEL;
        rc_data.tone_freq = 800;
        Set_Signal(SECOND_ENTRY);
        Set_Frequency(7030000);
        ASSERT_EQ(Open_Tcvr_Serial(), 1) << Error_Dialog_Text();

        Signal_Process(*daemon.child, SIGKILL);
        ASSERT_TRUE(Wait_Process(*daemon.child, 10000));
        testing::internal::CaptureStderr();
        if (by_click)
            Click_Waterfall(SECOND_ENTRY);
        else
            Set_Frequency(7030100);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
        EXPECT_EQ(Error_Dialog_Text().rfind(DROPPED, 0), 0u) << Error_Dialog_Text();
        EXPECT_EQ(err.rfind("velkador: Hamlib: ", 0), 0u) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
        // A failed read leaves the frequency shown where it was.
        EXPECT_EQ(rc_data.rx_freq, by_click ? 7030000 : 7030100);

        Dismiss_Error_Dialog();
        testing::internal::CaptureStderr();
        Set_Frequency(7030200);
        Click_Waterfall(SECOND_ENTRY);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(error_dialog, nullptr);
        EXPECT_EQ(Unnamed_Threads(), threads);
        Close_Tcvr_Serial();
    }
}

TEST_F(Hamlib, InProcessDummyRigEndToEndInTheWindow)
{
    Write_Raw_Samples(env.infile, std::vector<int16_t>(48000 * 2 * 20, 0));
    ASSERT_EQ(Load("/dev/null", "HAMLIB 1"), "");
    Receive(true);
    ASSERT_TRUE(isFlagSet(TCVR_SERIAL_OK)) << Error_Dialog_Text();

    int64_t hz = 0;
    Set_Frequency(3560000);
    ASSERT_EQ(Read_Tcvr_Freq(&hz), 1);
    EXPECT_EQ(hz, 3560000);
    Scroll(GDK_SCROLL_DOWN);
    ASSERT_EQ(Read_Tcvr_Freq(&hz), 1);
    EXPECT_EQ(hz, 3559999);

    Set_Signal(SECOND_ENTRY);
    Click_Waterfall(SECOND_ENTRY);
    ASSERT_EQ(Read_Tcvr_Freq(&hz), 1);
    EXPECT_EQ(hz, 3560199);

    // Never a wrong frequency: what the range cannot hold is not sent.
    testing::internal::CaptureStderr();
    EXPECT_EQ(Write_Rx_Freq(1000000000), 0);
    EXPECT_EQ(Write_Rx_Freq(-1), 0);
    Set_Frequency(999999900);
    Click_Waterfall(SECOND_ENTRY);  // +200 Hz would pass the top
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("velkador: 1000000000 Hz is outside the rig's frequency range: not sent\n"), std::string::npos);
    EXPECT_NE(err.find("velkador: -1 Hz is outside"), std::string::npos);
    EXPECT_NE(err.find("velkador: 1000000100 Hz is outside"), std::string::npos);
    ASSERT_EQ(Read_Tcvr_Freq(&hz), 1);
    EXPECT_EQ(hz, 999999900);
    EXPECT_TRUE(isFlagSet(TCVR_SERIAL_OK));

    Receive(false);
    EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
    EXPECT_EQ(Read_Tcvr_Freq(&hz), 0);
    EXPECT_EQ(error_dialog, nullptr) << Error_Dialog_Text();
}

TEST_F(Hamlib, RigsThatCannotBeReachedAreReportedAndLeaveTheLinkDown)
{
    Rig_Sim silent(TCVR_K2, 7030000);
    silent.Set_Fault(Rig_Fault::NO_ANSWER);
    const struct {
        int model;
        std::string path;
        std::string dialog;
    } cases[] = {
        {HAMLIB_NET_MODEL, "127.0.0.1:" + std::to_string(Free_Loopback_Port()), std::string(DROPPED) + "IO error"},
        {3073, "/nonexistent/ttyCAT", "Failed to open /nonexistent/ttyCAT\nTransceiver CAT not setup"},
        {3073, silent.Path(), std::string(DROPPED) + "Communication timed out"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        Strlcpy(rc_data.cat_serial, c.path.c_str(), sizeof(rc_data.cat_serial));
        rc_data.tcvr_type = TCVR_HAMLIB;
        rc_data.hamlib_model = c.model;
        testing::internal::CaptureStderr();
        EXPECT_EQ(Open_Tcvr_Serial(), 0);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Error_Dialog_Text(), c.dialog);
        EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
        int64_t hz;
        EXPECT_EQ(Read_Tcvr_Freq(&hz), 0);
        EXPECT_NE(err.find(c.path), std::string::npos) << err;
        Dismiss_Error_Dialog();
    }
}

TEST_F(Hamlib, SelectorEntryUsesTheConfiguredRigElseRigctldsDefault)
{
    GtkComboBox *combo = GTK_COMBO_BOX(receiver_combobox);
    ASSERT_EQ(Load("/dev/ttyUSB3", "K2"), "");
    gtk_combo_box_set_active(combo, 6);
    gchar *text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo));
    EXPECT_STREQ(text, "Hamlib");
    g_free(text);
    EXPECT_EQ(rc_data.tcvr_type, TCVR_HAMLIB);
    EXPECT_EQ(rc_data.snd_mode, MODE_CAPTURE);
    EXPECT_TRUE(isFlagSet(ENABLE_CAT));
    Hamlib_Target target = Hamlib_Rig_Target();
    EXPECT_EQ(target.model, 2);
    EXPECT_EQ(target.baud, 0);
    EXPECT_STREQ(target.path, "localhost:4532");
    EXPECT_STREQ(rc_data.cat_serial, "/dev/ttyUSB3");  // still the K2's

    ASSERT_EQ(Load("/dev/ttyUSB3", "HAMLIB 3073 19200"), "");
    EXPECT_EQ(gtk_combo_box_get_active(combo), 6);
    gtk_combo_box_set_active(combo, 3);
    EXPECT_EQ(rc_data.tcvr_type, TCVR_K2);
    gtk_combo_box_set_active(combo, 6);
    EXPECT_EQ(rc_data.tcvr_type, TCVR_HAMLIB);
    target = Hamlib_Rig_Target();
    EXPECT_EQ(target.model, 3073);
    EXPECT_EQ(target.baud, 19200);
    EXPECT_STREQ(target.path, "/dev/ttyUSB3");
}
