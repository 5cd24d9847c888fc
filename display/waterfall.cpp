// display/waterfall.cpp - the scrolling spectrum image. The intake averages
// groups of ifft_decimate samples into ifft_data; each full block becomes one
// line at row 1 while the older lines move down a row. Column k shows bin k;
// the input tone is bin N/2, marked white in column wfall_width / 2 + 1.
//
// Small drawing areas: the FFT needs wfall_width + 1 to be a power of two, so
// widths 1 and 3 are the narrowest that work. Whatever the size, bin_ave and
// the levels are kept; the mark is drawn only if its column exists, row 1
// only if the image has a second row, and the scroll only from 3 rows up.
#include "display/waterfall.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/shared.h"
#include "core/startup.h"
#include "display/fft.h"

GdkPixbuf *wfall_pixbuf = nullptr;
guchar *wfall_pixels = nullptr;
int32_t wfall_rowstride = 0;
int32_t wfall_n_channels = 0;
int32_t wfall_width = 0;
int32_t wfall_height = 0;
int32_t *bin_ave = nullptr;

namespace {

int32_t decim_sum = 0;
int32_t decim_count = 0;
int32_t ifft_index = 0;   // averaged values stored in the block; < ifft_data_length
int32_t bin_level = 0;    // smoothed level, carried across bins and lines
int32_t level_max = 0;
int32_t level_norm = 1000;

void Release_Pixbuf(void)
{
    if (wfall_pixbuf != nullptr)
        g_object_unref(wfall_pixbuf);
    wfall_pixbuf = nullptr;
    wfall_pixels = nullptr;
    wfall_width = wfall_height = 0;
    wfall_rowstride = wfall_n_channels = 0;
}

// A partly collected block is completed if it still fits the (new) block
// length and dropped otherwise; the audio stays contiguous either way.
void Bound_Block_Index(void)
{
    if (ifft_index >= ifft_data_length)
        ifft_index = 0;
}

}  // namespace

void Level_Colour(int32_t v, guchar *pixel)
{
    if (v < 64) {
        pixel[0] = 0;
        pixel[1] = 0;
        pixel[2] = static_cast<guchar>(4 * v + 3);
    } else if (v < 128) {
        pixel[0] = 0;
        pixel[1] = static_cast<guchar>(4 * (v - 64) + 3);
        pixel[2] = static_cast<guchar>(255 - 4 * (v - 64));
    } else if (v < 192) {
        pixel[0] = static_cast<guchar>(4 * (v - 128) + 3);
        pixel[1] = 255;
        pixel[2] = 0;
    } else {
        const int32_t c = v > 255 ? 255 : v;
        pixel[0] = 255;
        pixel[1] = static_cast<guchar>(255 - 3 * (c - 192));
        pixel[2] = 0;
    }
}

void IFFT_Data(int16_t sample)
{
    if (!ifft_ready)
        return;

    // A configuration that never derived the factor averages nothing
    // rather than dividing by zero.
    const int32_t decimate = rc_data.ifft_decimate > 0 ? rc_data.ifft_decimate : 1;
    decim_sum += sample;
    decim_count++;
    if (decim_count < decimate)
        return;

    // Pairs are stored swapped: the first value of a pair is the imaginary
    // part, the second the real part, which is how the transform reads them.
    const int16_t value = static_cast<int16_t>(decim_sum / decimate);
    if (ifft_index % 2 == 0)
        ifft_data[ifft_index + 1] = value;
    else
        ifft_data[ifft_index - 1] = value;

    if (++ifft_index >= ifft_data_length) {
        Display_Waterfall();
        ifft_index = 0;
    }
    decim_sum = 0;
    decim_count = 0;
}

void Display_Waterfall(void)
{
    if (!ifft_ready || wfall_pixels == nullptr || bin_ave == nullptr)
        return;

    const int32_t stride = wfall_rowstride;
    const int32_t nch = wfall_n_channels;
    const bool has_row1 = wfall_height >= 2;

    // The mark goes into row 1 before the scroll: it moves down with the
    // image, and row 1 is then painted over by the new line.
    const int32_t mark_col = wfall_width / 2 + 1;
    if (has_row1 && mark_col < wfall_width) {
        guchar *p = wfall_pixels + stride + mark_col * nch;
        p[0] = p[1] = p[2] = 255;
    }

    // Rows 1 .. height-2 move down one row, columns 1 .. width-1 only: row 0,
    // the last row and column 0 stay black from the configure-time fill.
    if (wfall_height >= 3 && wfall_width >= 2) {
        const size_t span = static_cast<size_t>(wfall_width - 1) * static_cast<size_t>(nch);
        for (int32_t r = wfall_height - 2; r >= 1; r--) {
            guchar *dst = wfall_pixels + static_cast<size_t>(r) * stride + nch;
            memcpy(dst, dst - stride, span);
        }
    }

    IFFT_Real(ifft_data);

    // Levels: (re/64)^2 + (im/64)^2, smoothed 2:1 with the bin to the left
    // (the first bin with the previous line's last), scaled to 0 .. 255 by
    // the previous line's largest level.
    const int32_t n_bins = ifft_data_length / 2;
    const int32_t last_bin = n_bins - 1 < wfall_width ? n_bins - 1 : wfall_width;
    int32_t level = bin_level;
    int32_t max = level_max;
    guchar *row1 = wfall_pixels + stride;
    for (int32_t k = 1; k <= last_bin; k++) {
        const int32_t re = ifft_data[2 * k] / 64;
        const int32_t im = ifft_data[2 * k + 1] / 64;
        level = (2 * level + re * re + im * im) / 3;
        if (level > max)
            max = level;
        const int32_t v = 255 * level / level_norm;
        bin_ave[k - 1] = v > 255 ? 255 : v;
        // Bin N-1 lands one past the last column: level only, no pixel.
        if (has_row1 && k < wfall_width)
            Level_Colour(v, row1 + k * nch);
    }
    bin_level = level;
    level_norm = max > 0 ? max : 1;
    level_max = 0;

    if (waterfall != nullptr)
        gtk_widget_queue_draw(waterfall);
}

int Waterfall_Configure_Event(int width, int height)
{
    Release_Pixbuf();

    // gdk_pixbuf_new refuses empty sizes with a warning of its own.
    if (width > 0 && height > 0)
        wfall_pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (wfall_pixbuf == nullptr) {
        fprintf(stderr, "velkador: cannot create a %d x %d waterfall pixbuf\n", width, height);
        Error_Dialog(_("Failed to create pixbuf for waterfall"));
        ifft_ready = 0;
        return 0;
    }

    wfall_pixels = gdk_pixbuf_get_pixels(wfall_pixbuf);
    wfall_width = gdk_pixbuf_get_width(wfall_pixbuf);
    wfall_height = gdk_pixbuf_get_height(wfall_pixbuf);
    wfall_rowstride = gdk_pixbuf_get_rowstride(wfall_pixbuf);
    wfall_n_channels = gdk_pixbuf_get_n_channels(wfall_pixbuf);
    gdk_pixbuf_fill(wfall_pixbuf, 0);

    // On failure bin_ave is gone and the image with it, so that nothing
    // (click-to-tune included) indexes entries that no longer exist.
    void *bins = realloc(bin_ave, sizeof(int32_t) * static_cast<size_t>(wfall_width));
    if (bins == nullptr) {
        perror("velkador: realloc():");
        Error_Dialog(_("A memory re-allocation failed\nPlease quit velkador and correct"));
        free(bin_ave);
        bin_ave = nullptr;
        Release_Pixbuf();
        ifft_ready = 0;
        return 0;
    }
    bin_ave = static_cast<int32_t *>(bins);
    memset(bin_ave, 0, sizeof(int32_t) * static_cast<size_t>(wfall_width));

    // Wider areas than 32766 would wrap the 16-bit size, possibly onto a
    // valid power of two; 32767 is refused by the FFT's own check.
    const int fft_size = wfall_width + 1 > INT16_MAX ? INT16_MAX : wfall_width + 1;
    const int ok = Initialize_IFFT(static_cast<int16_t>(fft_size));
    Bound_Block_Index();
    return ok;
}

gboolean on_waterfall_drawingarea_configure_event(GtkWidget *, GdkEventConfigure *event, gpointer)
{
    // The area is told of every new layout of the window, also when only
    // another widget changed (a line of text wrapping, a wider label): at
    // the same size the picture and the FFT carry on.
    if (wfall_pixbuf != nullptr && event->width == wfall_width && event->height == wfall_height)
        return TRUE;
    Waterfall_Configure_Event(event->width, event->height);
    return TRUE;
}

gboolean on_waterfall_drawingarea_draw(GtkWidget *, cairo_t *cr, gpointer)
{
    if (wfall_pixbuf != nullptr) {
        gdk_cairo_set_source_pixbuf(cr, wfall_pixbuf, 0, 0);
        cairo_paint(cr);
    }
    return TRUE;
}
