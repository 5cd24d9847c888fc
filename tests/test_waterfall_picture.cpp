// A keyed CW tone on the input tone, through the intake into a real pixbuf
// as the receiver sees it: 48000 Hz, tone 800 Hz, decimate 15, 511 px wide.
// Saves the image for a look and checks the trace by pixel values. The
// binary counts heap calls too: after set-up, drawing lines allocates nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "core/shared.h"
#include "display/fft.h"
#include "display/waterfall.h"

namespace {

constexpr int RATE = 48000, TONE = 800, DECIMATE = 15, WIDTH = 511, HEIGHT = 160;
constexpr int LINE_SAMPLES = 2 * (WIDTH + 1) * DECIMATE;  // 15360: 0.32 s
constexpr int LINES_PER_UNIT = 2;

// "CQ CQ" as key-down (1) / key-up (0) units, then a word gap.
std::vector<int> Keying(void)
{
    const char *code[] = {"-.-.", "--.-", " ", "-.-.", "--.-"};
    std::vector<int> units;
    for (const char *letter : code) {
        if (letter[0] == ' ') {
            units.insert(units.end(), 4, 0);  // 3 after the letter + 4 = word gap
            continue;
        }
        for (const char *e = letter; *e != '\0'; e++) {
            units.insert(units.end(), *e == '-' ? 3 : 1, 1);
            units.push_back(0);
        }
        units.insert(units.end(), 2, 0);
    }
    units.insert(units.end(), 7, 0);
    return units;
}

// The tone keyed per unit, with 5 ms raised-cosine edges inside key-down
// stretches, so whole lines are either keyed or silent.
std::vector<int16_t> Keyed_Tone(const std::vector<int> &units, double amplitude)
{
    const int unit_len = LINES_PER_UNIT * LINE_SAMPLES, edge = RATE / 200;
    std::vector<int16_t> audio(units.size() * unit_len, 0);
    for (size_t u = 0; u < units.size(); u++) {
        if (!units[u])
            continue;
        const bool rise = u == 0 || !units[u - 1];
        const bool fall = u + 1 == units.size() || !units[u + 1];
        for (int i = 0; i < unit_len; i++) {
            double env = 1.0;
            if (rise && i < edge)
                env = 0.5 - 0.5 * cos(M_PI * i / edge);
            if (fall && unit_len - 1 - i < edge)
                env = 0.5 - 0.5 * cos(M_PI * (unit_len - 1 - i) / edge);
            const long t = static_cast<long>(u) * unit_len + i;
            audio[t] = static_cast<int16_t>(std::lround(amplitude * env * sin(2.0 * M_PI * TONE * t / RATE)));
        }
    }
    return audio;
}

bool Dark(const guchar *p)
{
    return p[0] == 0 && p[1] == 0 && p[2] < 64;
}

}  // namespace

TEST(WaterfallPicture, KeyedToneDrawsItsTraceInTheToneColumn)
{
    rc_data.dsp_rate = RATE;
    rc_data.tone_freq = TONE;
    rc_data.ifft_decimate = DECIMATE;
    ASSERT_EQ(Waterfall_Configure_Event(WIDTH, HEIGHT), 1);
    const int tone_col = WIDTH / 2 + 1;
    ASSERT_EQ(tone_col * RATE / DECIMATE / (2 * (WIDTH + 1)), TONE);

    const std::vector<int> units = Keying();
    const std::vector<int16_t> audio = Keyed_Tone(units, 12000.0);
    const int lines = static_cast<int>(audio.size() / LINE_SAMPLES);
    ASSERT_LE(lines, HEIGHT - 2);

    const long calls_before = Allocation_Count();
    for (int line = 0; line < lines; line++) {
        for (int i = 0; i < LINE_SAMPLES; i++)
            IFFT_Data(audio[static_cast<size_t>(line) * LINE_SAMPLES + i]);
        // The newest levels: peaked on the tone's entry while keyed, all 0 in gaps.
        const bool keyed = units[line / LINES_PER_UNIT];
        const int32_t *peak = std::max_element(bin_ave, bin_ave + WIDTH);
        if (keyed)
            EXPECT_EQ(peak - bin_ave, tone_col - 1) << "line " << line;
        else
            EXPECT_EQ(*peak, 0) << "line " << line;
    }
    EXPECT_EQ(Allocation_Count() - calls_before, 0) << "heap calls while drawing lines";

    const std::string path = VELKADOR_TEST_OUTPUT_DIR "/waterfall_cq.png";
    GError *error = nullptr;
    EXPECT_TRUE(gdk_pixbuf_save(wfall_pixbuf, path.c_str(), "png", &error, nullptr)) << path;
    if (error != nullptr)
        g_error_free(error);

    // Row r holds the line drawn r - 1 lines before the newest. Column
    // tone_col is the white mark from row 2 on. The smoothing carries a level
    // rightwards, two thirds of it per column, and nothing leftwards: a keyed
    // line scaled by the previous keyed line is dark again within 8 columns;
    // the first keyed line after silence is scaled by 1 (the silent line's
    // norm), so every level of 1 or more saturates: (2/3)^m * 9400 >= 1 for
    // about 23 columns, plus the key edge's splatter.
    auto pixel = [](int row, int col) { return wfall_pixels + row * wfall_rowstride + col * wfall_n_channels; };
    for (int row = 1; row <= lines; row++) {
        const int line = lines - row;
        const bool keyed = units[line / LINES_PER_UNIT];
        const bool after_silence = keyed && (line == 0 || !units[(line - 1) / LINES_PER_UNIT]);
        SCOPED_TRACE(testing::Message() << "row " << row << (keyed ? " keyed" : " gap"));
        if (row == 1)
            EXPECT_EQ(pixel(1, tone_col)[0] >= 128, keyed);
        else
            EXPECT_EQ(pixel(row, tone_col)[0] + pixel(row, tone_col)[1] + pixel(row, tone_col)[2], 3 * 255);
        EXPECT_EQ(pixel(row, tone_col + 1)[0] >= 128, keyed);
        const int reach = after_silence ? 32 : 8;
        for (int col = 1; col < WIDTH; col++) {
            if (col < tone_col || col > tone_col + reach) {
                ASSERT_TRUE(Dark(pixel(row, col))) << "col " << col;
            }
        }
    }
}
