// tests/test_speed.cpp - speed tracking: the one-fragment step toward the
// measured unit, its limits, the speed spin button it drives (and whose
// handler sets the unit back from the speed shown), and a real sender.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/shared.h"
#include "core/startup.h"
#include "cwgen.h"
#include "decoder/morse.h"
#include "decoder/speed.h"
#include "support/gtk_env.h"
#include "test_morse_rx.h"

namespace {

void Set_Limits(int32_t min_unit, int32_t max_unit, int32_t unit)
{
    rc_data.tone_freq = 800;
    rc_data.min_unit = min_unit;
    rc_data.max_unit = max_unit;
    rc_data.unit_elem = unit;
}

// Statistics of a character whose elements measure measured fragments a unit.
void Set_Statistics(int32_t measured)
{
    mark_frags = 4 * measured;  // a dot and a dash
    mark_units = 4;
    space_frags = measured;
    space_units = 1;
}

bool Statistics_Clear(void)
{
    return mark_frags == 0 && mark_units == 0 && space_frags == 0 && space_units == 0;
}

GtkSpinButton *Speed_Button(int min_wpm, int max_wpm, int wpm)
{
    Build_Test_Window();
    GtkSpinButton *button = GTK_SPIN_BUTTON(speed);
    gtk_spin_button_set_range(button, min_wpm, max_wpm);
    gtk_spin_button_set_value(button, wpm);
    rc_data.unit_elem = (rc_data.tone_freq * 60) / (wpm * 100);  // as the loader does
    return button;
}

} // namespace

TEST(TrackSpeed, StepsOneFragmentWithinLimits)
{
    const struct { int32_t unit, measured, min_unit, max_unit, after; } cases[] = {
        {24, 16, 8, 80, 23}, {24, 40, 8, 80, 25}, {24, 24, 8, 80, 24},
        {8, 5, 8, 80, 8},    {80, 90, 8, 80, 80}, {9, 5, 8, 80, 8}};
    Set_Flag(ADAPT_SPEED);
    for (const auto &c : cases) {
        Set_Limits(c.min_unit, c.max_unit, c.unit);
        Set_Statistics(c.measured);
        Track_Speed();
        EXPECT_EQ(rc_data.unit_elem, c.after) << "unit " << c.unit << " measured " << c.measured;
        EXPECT_TRUE(Statistics_Clear());
    }
}

TEST(TrackSpeed, NothingMovesWithoutAutoOrWithoutInnerSpaces)
{
    Set_Limits(8, 80, 24);
    Set_Statistics(16);
    Track_Speed();  // ADAPT_SPEED clear
    EXPECT_EQ(rc_data.unit_elem, 24);
    EXPECT_TRUE(Statistics_Clear());

    Set_Flag(ADAPT_SPEED);
    Set_Statistics(16);
    space_frags = space_units = 0;  // a one-element character
    Track_Speed();
    EXPECT_EQ(rc_data.unit_elem, 24);
    EXPECT_TRUE(Statistics_Clear());
}

TEST(TrackSpeed, SpeedButtonShowsAndResetsTheUnit)
{
    REQUIRE_DISPLAY();
    Set_Limits(8, 80, 24);
    GtkSpinButton *button = Speed_Button(6, 60, 20);
    ASSERT_EQ(rc_data.unit_elem, 24);
    Set_Flag(ADAPT_SPEED);

    // The stepped unit stands while the speed shown stays; when the speed
    // shown changes its handler computes the unit back from it.
    const struct { int32_t before, measured, shown, after; } cases[] = {
        {24, 10, 20, 23}, {23, 10, 21, 22}, {22, 10, 22, 21}, {24, 40, 19, 25}, {26, 40, 17, 28}};
    for (const auto &c : cases) {
        rc_data.unit_elem = c.before;
        Set_Statistics(c.measured);
        Track_Speed();
        EXPECT_EQ(gtk_spin_button_get_value_as_int(button), c.shown) << "from " << c.before;
        EXPECT_EQ(rc_data.unit_elem, c.after) << "from " << c.before;
    }

    // By hand, and the Auto check button.
    gtk_spin_button_set_value(button, 40);
    EXPECT_EQ(rc_data.unit_elem, 12);
    GtkToggleButton *autob = GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, "auto_checkbutton"));
    gtk_toggle_button_set_active(autob, TRUE);
    gtk_toggle_button_set_active(autob, FALSE);
    EXPECT_TRUE(isFlagClear(ADAPT_SPEED));
    gtk_toggle_button_set_active(autob, TRUE);
    EXPECT_TRUE(isFlagSet(ADAPT_SPEED));
}

// A sender slower than the unit set for 20 WPM, through the real path. The
// unit must step toward the sender one fragment per character, stay within
// the limits, and then hold near the sender's unit. The detector reads marks
// long (a 24-fragment dot as about 38), so the unit settles up to 15 % above
// the sender's.
// Three rounds of a short CQ from a sender at the given speed.
bool Sender_Audio(int32_t sender_wpm, std::vector<int16_t> &audio)
{
    Cw_Params p;
    p.wpm = sender_wpm;
    std::string text;
    for (int i = 0; i < 3; i++)
        text += "CQ TEST DE DL2XYZ 73 PARIS ";
    std::string error;
    bool ok = Cw_Generate(p, text, audio, error) == 1;
    EXPECT_TRUE(ok) << error;
    return ok;
}

void Follow_Sender(int32_t sender_wpm, int32_t min_wpm, bool with_window)
{
    std::vector<int16_t> audio;
    ASSERT_TRUE(Sender_Audio(sender_wpm, audio));

    Rx_Setup setup;
    setup.min_wpm = min_wpm;
    if (with_window) {
        rc_data.tone_freq = setup.tone_freq;
        Speed_Button(setup.min_wpm, setup.max_wpm, setup.wpm);
    }
    int64_t count = Start_Rx(audio, setup);
    ASSERT_EQ(rc_data.unit_elem, 24);
    Set_Flag(ADAPT_SPEED);

    const int32_t target = std::min(480 / sender_wpm, rc_data.max_unit);
    int32_t last = rc_data.unit_elem;
    int characters = 0, reached_at = -1;
    Run_Rx(count, [&](const char *) {
        characters++;
        int32_t u = rc_data.unit_elem;
        if (!with_window) {
            EXPECT_LE(std::abs(u - last), 1) << "after character " << characters;
        }
        EXPECT_GE(u, rc_data.min_unit);
        EXPECT_LE(u, rc_data.max_unit);
        if (reached_at < 0 && u >= target)
            reached_at = characters;
        // The speed button's handler rounds the unit to a whole speed,
        // which at low speeds moves it in steps of several fragments.
        if (reached_at > 0 && !with_window) {
            EXPECT_LE(u, target * 115 / 100) << "after character " << characters;
        }
        last = u;
    });
    Stop_Rx();
    EXPECT_GT(reached_at, 0) << "never reached the sender's unit " << target;
    EXPECT_LE(reached_at, 24) << "the unit should reach the sender's within 24 characters";
    if (with_window) {
        EXPECT_EQ(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(speed)), 480 / rc_data.unit_elem);
    }
}

TEST(TrackSpeedRx, FollowsSlowerSender)
{
    Follow_Sender(15, 6, false);
}

TEST(TrackSpeedRx, FollowsSlowerSenderOnTheSpeedButton)
{
    REQUIRE_DISPLAY();
    Follow_Sender(15, 6, true);
}

TEST(TrackSpeedRx, StopsAtTheSlowestUnit)
{
    Follow_Sender(12, 15, false);  // max_unit 480 / 15 = 32
}

// A faster sender within the detector's reach: its windows are one unit
// long, so a sender much faster than the unit (30 WPM against 20) has its
// elements merged before the tracker can see them; from 25 WPM the unit
// follows a 30 WPM sender down to its 16 fragments.
TEST(TrackSpeedRx, FollowsFasterSenderWithinReach)
{
    std::vector<int16_t> audio;
    ASSERT_TRUE(Sender_Audio(30, audio));

    Rx_Setup setup;
    setup.wpm = 25;
    int64_t count = Start_Rx(audio, setup);
    ASSERT_EQ(rc_data.unit_elem, 19);
    Set_Flag(ADAPT_SPEED);
    int32_t last = rc_data.unit_elem;
    int characters = 0, reached_at = -1;
    Rx_Result result = Run_Rx(count, [&](const char *) {
        characters++;
        EXPECT_LE(std::abs(rc_data.unit_elem - last), 1) << "after character " << characters;
        if (reached_at < 0 && rc_data.unit_elem <= 16)
            reached_at = characters;
        last = rc_data.unit_elem;
    });
    Stop_Rx();
    EXPECT_GT(reached_at, 0) << "never reached the sender's unit 16";
    EXPECT_LE(reached_at, 30);
    EXPECT_NE(Normalised(result.text).find("PARIS CQ TEST DE DL2XYZ 73 PARIS"), std::string::npos)
        << result.text;
}

TEST(TrackSpeedRx, AutoOffKeepsTheUnit)
{
    Cw_Params p;
    p.wpm = 15;
    std::vector<int16_t> audio;
    std::string error;
    ASSERT_EQ(Cw_Generate(p, "CQ TEST DE DL2XYZ 73 CQ TEST", audio, error), 1) << error;
    Rx_Setup setup;
    int64_t count = Start_Rx(audio, setup);
    Run_Rx(count, [](const char *) { EXPECT_EQ(rc_data.unit_elem, 24); });
    Stop_Rx();
}
