// The scope painter into a real cairo image, and the mode buttons of the
// real window.
#include <cstdlib>

#include <gtest/gtest.h>

#include "core/shared.h"
#include "core/startup.h"
#include "display/scope.h"
#include "support/gtk_env.h"

namespace {

struct Rgb {
    int r, g, b;
};

class Scope_Paint : public ::testing::Test {
protected:
    cairo_surface_t *surface = nullptr;
    cairo_t *cr = nullptr;

    void SetUp() override
    {
        scope_width = 100;
        scope_height = 60;
        ASSERT_TRUE(mem_alloc(&scope_data, scope_width * sizeof(scope_point_t)));
        // A flat trace near the bottom, away from the threshold lines below.
        for (int i = 0; i < scope_width; i++)
            scope_data[i] = {i, scope_height - 1};
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, scope_width + 2, scope_height + 2);
        cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1.0, 0.0, 1.0);  // magenta: anything left unpainted shows
        cairo_paint(cr);
    }

    void TearDown() override
    {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }

    Rgb Pixel(int x, int y)
    {
        cairo_surface_flush(surface);
        const unsigned char *row = cairo_image_surface_get_data(surface) +
                                   y * cairo_image_surface_get_stride(surface);
        uint32_t px = reinterpret_cast<const uint32_t *>(row)[x];
        return {static_cast<int>((px >> 16) & 0xff), static_cast<int>((px >> 8) & 0xff),
                static_cast<int>(px & 0xff)};
    }

    bool Row_Has_White(int y)
    {
        for (int x = 0; x < scope_width; x++) {
            Rgb p = Pixel(x, y);
            if (p.r > 150 && p.g > 150 && p.b > 150)  // antialiased white
                return true;
        }
        return false;
    }

    int Count_Colour(bool (*match)(Rgb))
    {
        int n = 0;
        for (int y = 0; y < scope_height + 2; y++)
            for (int x = 0; x < scope_width + 2; x++)
                n += match(Pixel(x, y)) ? 1 : 0;
        return n;
    }
};

bool Is_Background(Rgb p)
{
    return p.r == 0 && p.g == 51 && p.b == 0;
}

bool Is_Trace(Rgb p)
{
    return p.r < 50 && p.g > 150 && p.b < 50;
}

TEST_F(Scope_Paint, NothingNewPaintsOnlyTheBackground)
{
    flags = DISPLAY_RATIO;
    Display_Scope(cr);
    EXPECT_EQ(Count_Colour(Is_Background), (scope_width + 2) * (scope_height + 2));
}

TEST_F(Scope_Paint, RatioAndLevelTracesCarryTheThresholdLine)
{
    for (int32_t mode : {DISPLAY_RATIO, DISPLAY_LEVEL}) {
        flags = mode | DRAW_SCOPE;
        rc_data.det_thld = 30;
        Display_Scope(cr);
        EXPECT_TRUE(Row_Has_White(scope_height - 30)) << "mode " << mode;
        EXPECT_GT(Count_Colour(Is_Trace), scope_width / 2);
        EXPECT_TRUE(isFlagClear(DRAW_SCOPE));
    }
}

TEST_F(Scope_Paint, TheSignalTraceHasNoThresholdLine)
{
    flags = DISPLAY_SIGNAL | DRAW_SCOPE;
    rc_data.det_thld = 30;
    Display_Scope(cr);
    EXPECT_FALSE(Row_Has_White(scope_height - 30));
    EXPECT_GT(Count_Colour(Is_Trace), scope_width / 2);
    EXPECT_TRUE(isFlagClear(DRAW_SCOPE));

    // The trace is painted once: the next draw without a new one is plain.
    Display_Scope(cr);
    EXPECT_EQ(Count_Colour(Is_Trace), 0);
}

TEST_F(Scope_Paint, TheAdaptiveDecodersSignalTraceCarriesItsThreshold)
{
    flags = DISPLAY_SIGNAL | DRAW_SCOPE | ADAPTIVE_TRACE;
    rc_data.det_thld = 30;
    Display_Scope(cr);
    EXPECT_TRUE(Row_Has_White(scope_height - 30));
    EXPECT_GT(Count_Colour(Is_Trace), scope_width / 2);
}

TEST_F(Scope_Paint, AHeldTraceIsNotPaintedButConsumed)
{
    flags = HOLD_SCOPE | DRAW_SCOPE;
    Display_Scope(cr);
    EXPECT_EQ(Count_Colour(Is_Background), 0) << "nothing at all is painted";
    EXPECT_TRUE(isFlagClear(DRAW_SCOPE));
}

TEST(Scope_Modes, RadioButtonsSetTheLabelAndTheFlags)
{
    REQUIRE_DISPLAY();
    Build_Test_Window();
    auto button = [](const char *id) { return GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, id)); };
    auto label = [] { return std::string(gtk_label_get_text(GTK_LABEL(scope_label))); };
    const int32_t modes = DISPLAY_SIGNAL | DISPLAY_RATIO | DISPLAY_LEVEL | HOLD_SCOPE;

    gtk_toggle_button_set_active(button("ratio_radiobutton"), TRUE);
    EXPECT_EQ(label(), "Lead/Trail Ratio");
    EXPECT_EQ(flags & modes, DISPLAY_RATIO);

    gtk_toggle_button_set_active(button("level_radiobutton"), TRUE);
    EXPECT_EQ(label(), "Squelch Level");
    EXPECT_EQ(flags & modes, DISPLAY_LEVEL);

    gtk_toggle_button_set_active(button("stop_radiobutton"), TRUE);
    EXPECT_EQ(label(), "Hold Display");
    EXPECT_EQ(flags & modes, HOLD_SCOPE);

    // Leaving Hold clears it (the stop button's handler) while the chosen
    // button sets its own mode.
    gtk_toggle_button_set_active(button("signal_radiobutton"), TRUE);
    EXPECT_EQ(label(), "Signal Detector");
    EXPECT_EQ(flags & modes, DISPLAY_SIGNAL);
}

}  // namespace
