// display/scope.cpp - paints the detector's trace and handles the four
// scope mode buttons. The detector fills scope_data and sets DRAW_SCOPE.
#include "display/scope.h"

#include "core/shared.h"
#include "core/startup.h"

namespace {

constexpr double LINE_WIDTH = 1.5;

void Paint_Background(cairo_t *cr)
{
    cairo_set_source_rgb(cr, 0.0, 0.2, 0.0);
    cairo_rectangle(cr, 0.0, 0.0, scope_width + 2, scope_height + 2);
    cairo_fill(cr);
}

void Paint_Trace(cairo_t *cr, const scope_point_t *points)
{
    cairo_set_source_rgb(cr, 0.0, 1.0, 0.0);
    cairo_set_line_width(cr, LINE_WIDTH);
    cairo_move_to(cr, points[0].x, points[0].y);
    for (int i = 1; i < scope_width; i++)
        cairo_line_to(cr, points[i].x, points[i].y);
    cairo_stroke(cr);
}

void Set_Scope_Label(const char *text)
{
    if (scope_label != nullptr)
        gtk_label_set_text(GTK_LABEL(scope_label), text);
}

}  // namespace

void Display_Signal(cairo_t *cr, const scope_point_t *points)
{
    Paint_Background(cr);
    Paint_Trace(cr, points);
}

void Display_Detector(cairo_t *cr, const scope_point_t *points)
{
    Paint_Background(cr);
    Paint_Trace(cr, points);

    double y = scope_height - rc_data.det_thld;
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_move_to(cr, 0.0, y);
    cairo_line_to(cr, scope_width, y);
    cairo_stroke(cr);
}

void Display_Scope(cairo_t *cr)
{
    if (isFlagClear(DRAW_SCOPE) || scope_data == nullptr || scope_width < 1) {
        Paint_Background(cr);
        return;
    }
    // The adaptive decoder's envelope means little without the threshold
    // it is decided against.
    if (isFlagSet(DISPLAY_RATIO) || isFlagSet(DISPLAY_LEVEL) ||
        (isFlagSet(DISPLAY_SIGNAL) && isFlagSet(ADAPTIVE_TRACE)))
        Display_Detector(cr, scope_data);
    else if (isFlagSet(DISPLAY_SIGNAL))
        Display_Signal(cr, scope_data);
    Clear_Flag(DRAW_SCOPE);
}

gboolean on_scope_drawingarea_draw(GtkWidget *widget, cairo_t *cr, gpointer)
{
    // Until the configuration gives the scope its size, show the empty
    // screen over the whole area rather than a speck in its corner.
    if (scope_width <= 0) {
        cairo_set_source_rgb(cr, 0.0, 0.2, 0.0);
        cairo_rectangle(cr, 0.0, 0.0, gtk_widget_get_allocated_width(widget),
                        gtk_widget_get_allocated_height(widget));
        cairo_fill(cr);
        return TRUE;
    }
    Display_Scope(cr);
    return TRUE;
}

void on_signal_radiobutton_toggled(GtkToggleButton *button, gpointer)
{
    if (!gtk_toggle_button_get_active(button))
        return;
    Set_Scope_Label(_("Signal Detector"));
    Clear_Flag(DISPLAY_LEVEL | DISPLAY_RATIO);
    Set_Flag(DISPLAY_SIGNAL);
}

void on_level_radiobutton_toggled(GtkToggleButton *button, gpointer)
{
    if (!gtk_toggle_button_get_active(button))
        return;
    Set_Scope_Label(_("Squelch Level"));
    Set_Flag(DISPLAY_LEVEL);
    Clear_Flag(DISPLAY_SIGNAL | DISPLAY_RATIO);
}

void on_ratio_radiobutton_toggled(GtkToggleButton *button, gpointer)
{
    if (!gtk_toggle_button_get_active(button))
        return;
    Set_Scope_Label(_("Lead/Trail Ratio"));
    Clear_Flag(DISPLAY_LEVEL | DISPLAY_SIGNAL);
    Set_Flag(DISPLAY_RATIO);
}

void on_stop_radiobutton_toggled(GtkToggleButton *button, gpointer)
{
    if (gtk_toggle_button_get_active(button)) {
        Set_Scope_Label(_("Hold Display"));
        Clear_Flag(DISPLAY_LEVEL | DISPLAY_RATIO | DISPLAY_SIGNAL);
        Set_Flag(HOLD_SCOPE);
    } else {
        Clear_Flag(HOLD_SCOPE);
    }
}
