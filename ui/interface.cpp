// ui/interface.cpp - builder loading, object look-up and the error dialog.
#include "ui/interface.h"

#include <cstdio>
#include <cstdlib>

#include "core/shared.h"
#include "core/startup.h"

GtkWidget *error_dialog = nullptr;

const char *const main_window_ids[] = {
    "freq_adjustment", "level_adjustment", "ratio_adjustment", "wpm_adjustment",
    "main_window", "rx_scrolledwindow", "rx_textview", "scope_drawingarea",
    "scope_label", "receive_togglebutton", "frequency_spinbutton", "bandwidth_combobox",
    "clear_button", "receiver_combobox", "auto_checkbutton", "wpm_spinbutton",
    "signal_radiobutton", "level_radiobutton", "ratio_radiobutton", "stop_radiobutton",
    "squelch_spinbutton", "ratio_spinbutton", "waterfall_drawingarea", nullptr};

const char *const error_dialog_ids[] = {
    "error_dialog", "error_quit_button", "error_ok_button", "error_message", nullptr};

void Load_UI_Objects(GtkBuilder **builder, const char *const *object_ids)
{
    GError *gerror = nullptr;

    *builder = gtk_builder_new();
    gtk_builder_set_translation_domain(*builder, PACKAGE);
    // The builder's interface takes a non-const id array but does not write it.
    if (!gtk_builder_add_objects_from_file(*builder, rc_data.ui_file,
                                           const_cast<gchar **>(object_ids), &gerror)) {
        fprintf(stderr, "Velkador: failed to add objects to builder:\n%s\n",
                gerror != nullptr ? gerror->message : "");
        fprintf(stderr, "Velkador: Listing Object Ids:\n");
        for (int i = 0; object_ids[i] != nullptr; i++)
            fprintf(stderr, "%s\n", object_ids[i]);
        if (gerror != nullptr)
            g_error_free(gerror);
        exit(-1);
    }

    if (!g_module_supported()) {
        fprintf(stderr, "Velkador: lib gmodule not supported\n");
        exit(-1);
    }

    gtk_builder_connect_signals(*builder, nullptr);
}

static GtkWidget *Get_Named_Window(GtkBuilder *builder, const char *id)
{
    GObject *object = gtk_builder_get_object(builder, id);
    if (object == nullptr) {
        fprintf(stderr, "!! Velkador: builder failed to get named object: %s\n", id);
        exit(-1);
    }
    return GTK_WIDGET(object);
}

// The decoded text is read all day: a larger monospaced face than the theme's.
static void Apply_Window_Style(void)
{
    static bool applied = false;
    GdkScreen *screen = gdk_screen_get_default();
    if (applied || screen == nullptr)
        return;
    GtkCssProvider *css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, ".rx-text { font-family: monospace; font-size: 13pt; }",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    applied = true;
}

GtkWidget *create_main_window(GtkBuilder **builder)
{
    Load_UI_Objects(builder, main_window_ids);
    Apply_Window_Style();
    return Get_Named_Window(*builder, "main_window");
}

GtkWidget *create_error_dialog(GtkBuilder **builder)
{
    Load_UI_Objects(builder, error_dialog_ids);
    return Get_Named_Window(*builder, "error_dialog");
}

GtkWidget *Builder_Get_Object(GtkBuilder *builder, const char *id)
{
    return Get_Named_Window(builder, id);
}

void Error_Dialog(const char *message)
{
    if (error_dialog != nullptr)
        return;
    // Without a display (velkador-decode) there is no dialog to build.
    if (gdk_display_get_default() == nullptr) {
        fprintf(stderr, "velkador: %s\n", message);
        return;
    }

    GtkBuilder *builder = nullptr;
    error_dialog = create_error_dialog(&builder);
    GtkWidget *label = Builder_Get_Object(builder, "error_message");
    gtk_label_set_text(GTK_LABEL(label), message);
    gtk_widget_show(error_dialog);
    g_object_unref(builder);
}

gboolean on_main_window_delete_event(GtkWidget *, GdkEvent *, gpointer)
{
    Cleanup();
    if (main_builder != nullptr) {
        g_object_unref(main_builder);
        main_builder = nullptr;
    }
    return FALSE;
}

void on_main_window_destroy(GtkWidget *, gpointer)
{
    gtk_main_quit();
}

void on_error_ok_button_clicked(GtkButton *, gpointer)
{
    if (error_dialog != nullptr)
        gtk_widget_destroy(error_dialog);
}

void on_error_quit_button_clicked(GtkButton *, gpointer)
{
    Cleanup();
    gtk_main_quit();
}

void on_error_dialog_destroy(GtkWidget *, gpointer)
{
    error_dialog = nullptr;
}

gboolean on_error_dialog_delete_event(GtkWidget *, GdkEvent *, gpointer)
{
    return TRUE;
}
