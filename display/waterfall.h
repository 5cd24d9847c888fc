// display/waterfall.h - the scrolling spectrum image: collects decimated
// samples, draws one line per FFT block, keeps the newest line's levels in
// bin_ave for click-to-tune. Owns the pixbuf and bin_ave.
#ifndef VELKADOR_DISPLAY_WATERFALL_H
#define VELKADOR_DISPLAY_WATERFALL_H

#include <cstdint>

#include "ui/interface.h"

extern GdkPixbuf *wfall_pixbuf;
extern guchar *wfall_pixels;
extern int32_t wfall_rowstride;
extern int32_t wfall_n_channels;
extern int32_t wfall_width;
extern int32_t wfall_height;
extern int32_t *bin_ave;

void IFFT_Data(int16_t sample);
void Display_Waterfall(void);
int Waterfall_Configure_Event(int width, int height);

// Colour of level v (0 up) as red, green, blue bytes: near-black through
// blue, green and yellow to orange at 255 and above.
void Level_Colour(int32_t v, guchar *pixel);

VELKADOR_HANDLER gboolean on_waterfall_drawingarea_configure_event(GtkWidget *, GdkEventConfigure *, gpointer);
VELKADOR_HANDLER gboolean on_waterfall_drawingarea_draw(GtkWidget *, cairo_t *, gpointer);

#endif
