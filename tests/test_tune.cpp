// Frequency control and click-to-tune against simulated rigs, driven through
// the real spin button and waterfall of the main window.
#include <cstdlib>
#include <cstring>
#include <utility>

#include <gtest/gtest.h>

#include "cat/frequency.h"
#include "cat/rigs.h"
#include "cat/serial.h"
#include "core/shared.h"
#include "core/startup.h"
#include "display/waterfall.h"
#include "support/gtk_env.h"
#include "support/rig_sim.h"

namespace {

constexpr int WIDTH = 511;
constexpr int TONE_HZ = 800;
// The entry that stands for the tone: (2k + 2) * 800 / 512 = 800.
constexpr int TONE_ENTRY = 255;

// The newest waterfall line: zero but for the given (entry, level) pairs.
void Set_Levels(std::initializer_list<std::pair<int, int>> levels)
{
    if (bin_ave == nullptr || wfall_width != WIDTH) {
        wfall_width = WIDTH;
        bin_ave = static_cast<int32_t *>(calloc(WIDTH, sizeof(int32_t)));
    }
    memset(bin_ave, 0, WIDTH * sizeof(int32_t));
    for (const auto &l : levels)
        bin_ave[l.first] = l.second;
}

class Tune : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        ASSERT_NE(Build_Test_Window(), nullptr);
        Iterate_Until([] { return gtk_widget_get_realized(waterfall); });
        Iterate_Pending();
        rc_data.tone_freq = TONE_HZ;
    }

    // With the link down, so nothing is sent.
    static void Show(int hz)
    {
        ASSERT_TRUE(isFlagClear(TCVR_SERIAL_OK));
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(frequency), hz);
        ASSERT_EQ(rc_data.rx_freq, hz);
    }

    static int Shown(void) { return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(frequency)); }

    // Opens the link to sim and forgets its start-up bytes.
    static void Open(Rig_Sim &sim, int tcvr_type)
    {
        Point_Cat_At(sim, tcvr_type);
        ASSERT_EQ(Open_Tcvr_Serial(), 1);
        ASSERT_TRUE(sim.Sync());
        sim.Clear_Received();
    }
};

// Everything the rig received from what the program wrote so far.
std::string Received(Rig_Sim &sim)
{
    EXPECT_TRUE(sim.Sync());
    std::vector<uint8_t> bytes = sim.Received();
    bool text = !bytes.empty() && bytes[0] >= 'A';
    return text ? std::string(bytes.begin(), bytes.end()) : Hex_Bytes(bytes);
}

void Send_Event(GtkWidget *widget, GdkEvent *event)
{
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    event->any.send_event = TRUE;
    gtk_widget_event(widget, event);
    gdk_event_free(event);
}

void Scroll(GdkScrollDirection direction)
{
    GdkEvent *event = gdk_event_new(GDK_SCROLL);
    event->scroll.direction = direction;
    gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    Send_Event(frequency, event);
}

gboolean Click(guint button, double x)
{
    GdkEvent *event = gdk_event_new(GDK_BUTTON_PRESS);
    event->button.button = button;
    event->button.x = x;
    event->button.y = 10;
    gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
    gboolean handled = on_waterfall_drawingarea_button_press_event(waterfall, &event->button, nullptr);
    gdk_event_free(event);
    return handled;
}

}  // namespace

TEST_F(Tune, EveryChangeOfTheSpinButtonGoesToTheRig)
{
    const struct {
        int hz;
        const char *fa;
        const char *bcd;
    } cases[] = {{14060000, "FA00014060000;", "01 40 60 00 01"},
                 {7030125, "FA00007030125;", "00 70 30 12 01"},
                 {144050000, "FA00144050000;", "14 40 50 00 01"}};
    for (int tcvr_type : {TCVR_K2, TCVR_FT857}) {
        Rig_Sim sim(tcvr_type, 3500000);
        Open(sim, tcvr_type);
        for (const auto &c : cases) {
            SCOPED_TRACE(c.hz);
            sim.Clear_Received();
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(frequency), c.hz);
            EXPECT_EQ(rc_data.rx_freq, c.hz);
            EXPECT_EQ(Received(sim), tcvr_type == TCVR_K2 ? c.fa : c.bcd);
        }
        Close_Tcvr_Serial();
    }
}

TEST_F(Tune, FrequenciesTheCommandCannotCarryAreNotSent)
{
    Rig_Sim sim(TCVR_FT857, 7030000);
    Open(sim, TCVR_FT857);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Write_Rx_Freq(-5), 0);
    EXPECT_EQ(Write_Rx_Freq(1000000000), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("not sent"), std::string::npos);
    EXPECT_EQ(Received(sim), "");
    EXPECT_TRUE(isFlagSet(TCVR_SERIAL_OK));
    EXPECT_EQ(error_dialog, nullptr);
}

TEST_F(Tune, NothingIsSentWithoutALinkOrToAPerseus)
{
    Rig_Sim sim(TCVR_PERSEUS, 7030000);
    EXPECT_EQ(Write_Rx_Freq(14060000), 1);  // link down
    Open(sim, TCVR_PERSEUS);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(frequency), 14060000);
    EXPECT_EQ(rc_data.rx_freq, 14060000);
    EXPECT_EQ(Received(sim), "");
}

TEST_F(Tune, OneWheelNotchIsOneHertz)
{
    const struct {
        int tcvr_type;
        const char *up;    // from 7.030000 MHz
        const char *down;  // back again
    } cases[] = {{TCVR_K2, "FA00007030001;", "FA00007030000;"},
                 {TCVR_FT857, "00 70 30 00 01", "00 70 30 00 01"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tcvr_type);
        Show(7030000);
        Rig_Sim sim(c.tcvr_type, 7030000);
        Open(sim, c.tcvr_type);

        Scroll(GDK_SCROLL_UP);
        EXPECT_EQ(rc_data.rx_freq, 7030001);
        EXPECT_EQ(Shown(), 7030001);
        EXPECT_EQ(Received(sim), c.up);

        sim.Clear_Received();
        Scroll(GDK_SCROLL_LEFT);
        EXPECT_EQ(rc_data.rx_freq, 7030001);
        EXPECT_EQ(Received(sim), "");

        Scroll(GDK_SCROLL_DOWN);
        EXPECT_EQ(rc_data.rx_freq, 7030000);
        EXPECT_EQ(Received(sim), c.down);
        Close_Tcvr_Serial();
    }

    // The wheel follows the button's range: rx_freq never leaves it.
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(frequency), 999999999);
    Scroll(GDK_SCROLL_UP);
    EXPECT_EQ(rc_data.rx_freq, 999999999);
}

TEST(TunePeak, SearchesTwentyEntriesBelowAndNineteenAboveTheClick)
{
    const struct {
        const char *what;
        double x;
        std::initializer_list<std::pair<int, int>> levels;
        int peak;
    } cases[] = {
        {"strongest wins", 318.0, {{310, 50}, {319, 200}, {330, 100}}, 319},
        {"x + 1.5 truncated", 317.4, {}, 318},
        {"lowest entry included", 99.0, {{80, 1}}, 80},
        {"below the window", 99.0, {{79, 250}}, 100},
        {"highest entry included", 99.0, {{119, 1}}, 119},
        {"above the window", 99.0, {{120, 250}}, 100},
        {"ties take the lower index", 300.0, {{290, 7}, {305, 7}}, 290},
        {"near the left edge", 10.0, {{0, 3}, {30, 2}, {31, 99}}, 0},
        {"last entry never searched", 505.0, {{510, 99}, {509, 1}}, 509},
        {"no signal: the click's entry", 200.0, {}, 201},
        {"empty window: the click's entry", 600.0, {{510, 99}}, 601},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Set_Levels(c.levels);
        EXPECT_EQ(Tune_Peak_Entry(c.x), c.peak);
    }
}

TEST_F(Tune, ClickPutsTheSignalOnTheTone)
{
    const struct {
        const char *what;
        int tcvr_type;
        int64_t rig_hz;
        int peak;
        int new_hz;
        const char *sent;
    } cases[] = {
        {"K2 +200 Hz", TCVR_K2, 14060000, 319, 14060200, "FA;FA00014060200;"},
        {"K3 +200 Hz", TCVR_K3, 14060000, 319, 14060200, "FA;FA00014060200;"},
        {"FT857 +200 Hz", TCVR_FT857, 14060000, 319, 14060200, "00 00 00 00 03 01 40 60 20 01"},
        {"FT847 reads 10 Hz steps", TCVR_FT847, 7030125, TONE_ENTRY, 7030120,
         "00 00 00 00 03 00 70 30 12 01"},
        {"on the tone and shown: no command", TCVR_K2, 7030000, TONE_ENTRY, 7030000, "FA;"},
        {"stops at 0 Hz", TCVR_K2, 100, 0, 0, "FA;FA00000000000;"},
        {"stops at the top", TCVR_K2, 99999999999LL, 319, 999999999, "FA;FA00999999999;"},
        {"BCD stops at the top", TCVR_FT857, 999999990, 319, 999999999,
         "00 00 00 00 03 99 99 99 99 01"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Show(7030000);
        Set_Levels({{c.peak, 180}});
        Rig_Sim sim(c.tcvr_type, c.rig_hz);
        Open(sim, c.tcvr_type);

        EXPECT_EQ(Click(1, c.peak - 1.0), TRUE);
        EXPECT_EQ(rc_data.rx_freq, c.new_hz);
        EXPECT_EQ(Shown(), c.new_hz);
        EXPECT_EQ(Received(sim), c.sent);
        EXPECT_TRUE(isFlagSet(TCVR_SERIAL_OK));
        Close_Tcvr_Serial();
    }
    EXPECT_EQ(error_dialog, nullptr);
}

TEST_F(Tune, OnlyTheFirstButtonWithALinkTunes)
{
    Show(7030000);
    Set_Levels({{319, 180}});
    Rig_Sim sim(TCVR_K2, 14060000);
    EXPECT_EQ(Click(1, 318.0), TRUE);  // link down
    EXPECT_EQ(rc_data.rx_freq, 7030000);
    Open(sim, TCVR_K2);
    EXPECT_EQ(Click(3, 318.0), TRUE);
    EXPECT_EQ(rc_data.rx_freq, 7030000);
    EXPECT_EQ(Received(sim), "");
}

TEST_F(Tune, PerseusClickMovesOnlyTheFrequencyShown)
{
    Show(7030000);
    Set_Levels({{319, 180}});
    Rig_Sim sim(TCVR_PERSEUS, 0);
    Open(sim, TCVR_PERSEUS);
    EXPECT_EQ(Tune_Tcvr(318.0), 1);
    EXPECT_EQ(rc_data.rx_freq, 7030200);
    EXPECT_EQ(Shown(), 7030200);
    EXPECT_EQ(Received(sim), "");
}

TEST_F(Tune, FailedFrequencyReadDropsTheLinkAndKeepsTheFrequency)
{
    const struct {
        int tcvr_type;
        Rig_Fault fault;
        const char *sent;
    } cases[] = {{TCVR_K2, Rig_Fault::GARBAGE_DIGITS, "FA;"},
                 {TCVR_K3, Rig_Fault::NO_ANSWER, "FA;"},
                 {TCVR_FT847, Rig_Fault::GARBAGE_DIGITS, "00 00 00 00 03"},
                 {TCVR_FT857, Rig_Fault::ECHO_FIRST, "00 00 00 00 03"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sent);
        Dismiss_Error_Dialog();
        Show(7030000);
        Set_Levels({{319, 180}});
        Rig_Sim sim(c.tcvr_type, 14060000);
        Open(sim, c.tcvr_type);
        sim.Set_Fault(c.fault);

        EXPECT_EQ(Tune_Tcvr(318.0), 0);
        EXPECT_EQ(rc_data.rx_freq, 7030000);
        EXPECT_EQ(Shown(), 7030000);
        EXPECT_EQ(Received(sim), c.sent);
        EXPECT_EQ(Error_Dialog_Text(), "Failed to Establish Transceiver CAT");
        EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
        EXPECT_EQ(Tcvr_Serial_Fd(), 0);
    }
}
