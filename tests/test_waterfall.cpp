// The waterfall: intake and decimation, levels and their scaling, colours,
// configure and draw handlers, on real pixbufs (and the real window where a
// dialog or widget is involved).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/shared.h"
#include "core/startup.h"
#include "display/fft.h"
#include "display/waterfall.h"
#include "support/gtk_env.h"
#include "ui/interface.h"

namespace {

const guchar *Pixel(int row, int col)
{
    return wfall_pixels + row * wfall_rowstride + col * wfall_n_channels;
}

bool Row_Is_Black(int row)
{
    for (int c = 0; c < wfall_width; c++)
        if (Pixel(row, c)[0] != 0 || Pixel(row, c)[1] != 0 || Pixel(row, c)[2] != 0)
            return false;
    return true;
}

// Feeds averaged values at decimate 1: a tone on the given bin (or silence).
void Feed(int count, int bin = 0, double amplitude = 0.0)
{
    static long t = 0;
    const int two_n = ifft_data_length;
    for (int i = 0; i < count; i++, t++)
        IFFT_Data(static_cast<int16_t>(std::lround(amplitude * cos(M_PI * bin * t / (two_n / 2)))));
}

// Levels of the line now in ifft_data (already transformed), as the test
// sees the rule: smoothed 2:1 from bin to bin, scaled by norm.
std::vector<int32_t> Expected_Bins(int32_t &level, int32_t norm, int32_t &max)
{
    std::vector<int32_t> bins;
    max = 0;
    for (int k = 1; k < ifft_data_length / 2; k++) {
        const int32_t re = ifft_data[2 * k] / 64, im = ifft_data[2 * k + 1] / 64;
        level = (2 * level + re * re + im * im) / 3;
        max = std::max(max, level);
        bins.push_back(std::min(255 * level / norm, 255));
    }
    return bins;
}

void Use_Ui_File(void)
{
    Strlcpy(rc_data.ui_file, VELKADOR_SOURCE_DIR "/data/velkador.glade", sizeof(rc_data.ui_file));
}

}  // namespace

TEST(WaterfallColour, MapAtTheLevelsOfTheScale)
{
    struct Case { int v; guchar r, g, b; };
    for (Case c : {Case{0, 0, 0, 3}, Case{63, 0, 0, 255}, Case{64, 0, 3, 255}, Case{127, 0, 255, 3},
                   Case{128, 3, 255, 0}, Case{191, 255, 255, 0}, Case{192, 255, 255, 0},
                   Case{255, 255, 66, 0}, Case{256, 255, 66, 0}, Case{100000, 255, 66, 0}}) {
        guchar px[3];
        Level_Colour(c.v, px);
        EXPECT_EQ((std::vector<int>{px[0], px[1], px[2]}), (std::vector<int>{c.r, c.g, c.b})) << "level " << c.v;
    }
}

TEST(WaterfallIntake, AveragesAndStoresPairsSwapped)
{
    rc_data.ifft_decimate = 3;
    ASSERT_EQ(Initialize_IFFT(4), 1);
    for (int16_t s : {1, 2, 3, -3, -4, 0, 7, 7})
        IFFT_Data(s);
    EXPECT_EQ(ifft_data[1], 2);
    EXPECT_EQ(ifft_data[0], -2);  // -7 / 3 truncates toward zero
    // Two samples of the next group wait for the third: nothing stored yet.
    ifft_data[3] = 99;
    IFFT_Data(1);
    EXPECT_EQ(ifft_data[3], 5);
}

TEST(WaterfallIntake, IgnoresSamplesUntilReadyAndSurvivesAnUnsetFactor)
{
    rc_data.ifft_decimate = 1;
    ASSERT_EQ(Initialize_IFFT(4), 1);
    ifft_data[1] = 0;
    ifft_ready = 0;
    IFFT_Data(500);
    EXPECT_EQ(ifft_data[1], 0);
    ifft_ready = 1;
    rc_data.ifft_decimate = 0;  // never derived: taken as 1, no division by zero
    IFFT_Data(500);
    EXPECT_EQ(ifft_data[1], 500);
}

TEST(WaterfallConfigure, Width511GivesN512AndTheMarkInColumn256)
{
    rc_data.ifft_decimate = 1;
    ASSERT_EQ(Waterfall_Configure_Event(511, 40), 1);
    EXPECT_EQ(ifft_size, 512);
    EXPECT_EQ(ifft_data_length, 1024);
    EXPECT_EQ(wfall_width, 511);
    EXPECT_EQ(wfall_n_channels, 3);
    Feed(3 * 1024);
    // Silence lines are (0, 0, 3); the mark of older lines shows from row 2.
    EXPECT_EQ(Pixel(1, 256)[2], 3);
    for (int row : {2, 3})
        for (int col = 0; col < wfall_width; col++) {
            const guchar *p = Pixel(row, col);
            const int expect_blue = col == 256 ? 255 : col == 0 ? 0 : 3;
            ASSERT_EQ(p[2], expect_blue) << "row " << row << " col " << col;
            ASSERT_EQ(p[0], col == 256 ? 255 : 0);
        }
    // Three lines so far: the mark runs one row ahead of them, set on row 1
    // before each scroll.
    EXPECT_TRUE(Row_Is_Black(0));
    for (int col = 0; col < wfall_width; col++)
        ASSERT_EQ(Pixel(4, col)[1], col == 256 ? 255 : 0) << "col " << col;
    EXPECT_TRUE(Row_Is_Black(5));
    EXPECT_TRUE(Row_Is_Black(wfall_height - 1));
}

TEST(WaterfallConfigure, WidthNotOneLessThanAPowerOfTwoDrawsNothing)
{
    REQUIRE_DISPLAY();
    Use_Ui_File();
    rc_data.ifft_decimate = 1;
    ASSERT_EQ(Waterfall_Configure_Event(511, 20), 1);
    EXPECT_EQ(Waterfall_Configure_Event(500, 20), 0);
    EXPECT_EQ(Error_Dialog_Text(), "FFT size is not a power of 2");
    Dismiss_Error_Dialog();
    Feed(4 * 1024, 100, 8000.0);
    for (int row = 0; row < wfall_height; row++)
        EXPECT_TRUE(Row_Is_Black(row)) << "row " << row;
    for (int i = 0; i < wfall_width; i++)
        ASSERT_EQ(bin_ave[i], 0);

    // Back to a valid width: ready again, image black, no dialog.
    ASSERT_EQ(Waterfall_Configure_Event(255, 20), 1);
    EXPECT_EQ(error_dialog, nullptr);
    EXPECT_TRUE(Row_Is_Black(1));
    Feed(512);
    EXPECT_FALSE(Row_Is_Black(1));
}

TEST(WaterfallConfigure, NewValidSizeClearsToBlackWithoutADialog)
{
    REQUIRE_DISPLAY();
    Use_Ui_File();
    rc_data.ifft_decimate = 1;
    ASSERT_EQ(Waterfall_Configure_Event(127, 30), 1);
    Feed(5 * 256, 20, 5000.0);
    ASSERT_FALSE(Row_Is_Black(3));
    for (auto [w, h] : {std::pair{127, 30}, std::pair{63, 50}}) {
        ASSERT_EQ(Waterfall_Configure_Event(w, h), 1);
        EXPECT_EQ(error_dialog, nullptr);
        EXPECT_EQ(wfall_width, w);
        EXPECT_EQ(wfall_height, h);
        for (int row = 0; row < h; row++)
            ASSERT_TRUE(Row_Is_Black(row)) << "row " << row;
        for (int i = 0; i < w; i++)
            ASSERT_EQ(bin_ave[i], 0);
    }
}

TEST(WaterfallConfigure, PartialBlockIsCompletedIfItFitsAndDroppedIfNot)
{
    rc_data.ifft_decimate = 1;
    // 300 values collected at N = 1024 still fit N = 512: 724 more finish it.
    ASSERT_EQ(Waterfall_Configure_Event(1023, 10), 1);
    Feed(300);
    ASSERT_EQ(Waterfall_Configure_Event(511, 10), 1);
    Feed(723);
    EXPECT_TRUE(Row_Is_Black(1));
    Feed(1);
    EXPECT_FALSE(Row_Is_Black(1));

    // 1500 values do not fit 1024: the block starts again at 0.
    ASSERT_EQ(Waterfall_Configure_Event(1023, 10), 1);
    Feed(1500);
    ASSERT_EQ(Waterfall_Configure_Event(511, 10), 1);
    Feed(1023);
    EXPECT_TRUE(Row_Is_Black(1));
    Feed(1);
    EXPECT_FALSE(Row_Is_Black(1));
}

TEST(WaterfallConfigure, PixbufFailureLeavesNoImageAndNothingToIndex)
{
    REQUIRE_DISPLAY();
    Use_Ui_File();
    ASSERT_EQ(Waterfall_Configure_Event(511, 10), 1);
    EXPECT_EQ(Waterfall_Configure_Event(0, 10), 0);
    EXPECT_EQ(Error_Dialog_Text(), "Failed to create pixbuf for waterfall");
    Dismiss_Error_Dialog();
    EXPECT_EQ(wfall_pixbuf, nullptr);
    EXPECT_EQ(wfall_pixels, nullptr);
    EXPECT_EQ(wfall_width, 0);
    EXPECT_EQ(ifft_ready, 0);
    Display_Waterfall();  // a stray call finds nothing to draw into
}

TEST(WaterfallConfigure, TinyAreasStayInBounds)
{
    rc_data.ifft_decimate = 1;
    // Width 1 (N = 2): no column for the mark. Height 1: no row 1.
    // Height 2: row 1 is redrawn in place, never scrolled.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 5}, std::pair{3, 1}, std::pair{3, 2}, std::pair{7, 2}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        ASSERT_EQ(Waterfall_Configure_Event(w, h), 1);
        Feed(10 * ifft_data_length, 1, 3000.0);
        EXPECT_TRUE(Row_Is_Black(0));
        if (h >= 2 && w >= 3) {
            EXPECT_FALSE(Row_Is_Black(1));
            EXPECT_EQ(Pixel(1, 0)[2], 0);
        }
        for (int i = 0; i < w; i++)
            EXPECT_LE(bin_ave[i], 255);
    }
}

TEST(WaterfallLevels, FirstLineByThousandThenByThePreviousMaximum)
{
    rc_data.ifft_decimate = 1;
    ASSERT_EQ(Waterfall_Configure_Event(63, 10), 1);
    int32_t level = 0, max = 0, norm = 1000;
    for (int line = 0; line < 4; line++) {
        SCOPED_TRACE(line);
        Feed(128, 9 + line, 1500.0 + 4000.0 * line);
        std::vector<int32_t> expect = Expected_Bins(level, norm, max);
        EXPECT_EQ(std::vector<int32_t>(bin_ave, bin_ave + 63), expect);
        // The first, weakest line stays well below full scale at 1000; each
        // stronger one reaches it against the previous line's maximum.
        const int32_t peak = *std::max_element(bin_ave, bin_ave + 63);
        if (line == 0)
            EXPECT_LT(peak, 128);
        else
            EXPECT_EQ(peak, 255);
        norm = max;
    }
}

TEST(WaterfallLevels, AllZeroLineSetsTheNormToOne)
{
    rc_data.ifft_decimate = 1;
    ASSERT_EQ(Waterfall_Configure_Event(63, 10), 1);
    Feed(128);
    for (int i = 0; i < 63; i++)
        ASSERT_EQ(bin_ave[i], 0);
    // Next line: any level of 1 or more maps to 255 and paints orange.
    Feed(128, 20, 400.0);
    int32_t level = 0, max = 0;
    std::vector<int32_t> expect = Expected_Bins(level, 1, max);
    EXPECT_EQ(std::vector<int32_t>(bin_ave, bin_ave + 63), expect);
    EXPECT_EQ(bin_ave[19], 255);
    EXPECT_EQ(Pixel(1, 20)[0], 255);
    EXPECT_EQ(Pixel(1, 20)[1], 66);
}

TEST(WaterfallDraw, PaintsThePixbufOnlyWhenThereIsOne)
{
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 15, 4);
    cairo_t *cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.0, 1.0, 0.0);
    cairo_paint(cr);
    auto green = [&](int x, int y) {
        cairo_surface_flush(surface);
        const unsigned char *d = cairo_image_surface_get_data(surface);
        return d[y * cairo_image_surface_get_stride(surface) + 4 * x + 1];
    };

    EXPECT_EQ(wfall_pixbuf, nullptr);
    EXPECT_TRUE(on_waterfall_drawingarea_draw(nullptr, cr, nullptr));
    EXPECT_EQ(green(3, 2), 255);

    ASSERT_EQ(Waterfall_Configure_Event(15, 4), 1);
    EXPECT_TRUE(on_waterfall_drawingarea_draw(nullptr, cr, nullptr));
    EXPECT_EQ(green(3, 2), 0);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

TEST(WaterfallWindow, RealAreaIsConfiguredThroughItsHandler)
{
    REQUIRE_DISPLAY();
    GtkWidget *window = Build_Test_Window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(Iterate_Until([] { return wfall_width == 511 && ifft_ready; }));
    EXPECT_EQ(wfall_height, gtk_widget_get_allocated_height(waterfall));
    EXPECT_EQ(ifft_size, 512);
    EXPECT_EQ(error_dialog, nullptr);
}
