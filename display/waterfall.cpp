// display/waterfall.cpp - placeholder until the waterfall lands.
#include "display/waterfall.h"

GdkPixbuf *wfall_pixbuf = nullptr;
guchar *wfall_pixels = nullptr;
int32_t wfall_rowstride = 0;
int32_t wfall_n_channels = 0;
int32_t wfall_width = 0;
int32_t wfall_height = 0;
int32_t *bin_ave = nullptr;

void IFFT_Data(int16_t) {}
void Display_Waterfall(void) {}

int Waterfall_Configure_Event(int, int)
{
    return 0;
}

gboolean on_waterfall_drawingarea_configure_event(GtkWidget *, GdkEventConfigure *, gpointer)
{
    return TRUE;
}

gboolean on_waterfall_drawingarea_draw(GtkWidget *, cairo_t *, gpointer)
{
    return TRUE;
}
