// tests/test_startup_window.cpp - the real UI file binds every handler of the
// program to the right object and signal, and closing the main window runs
// Cleanup and ends the main loop.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/shared.h"
#include "core/startup.h"
#include "sound/capture.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "ui/interface.h"

namespace {

// Warnings and criticals logged by GLib, GTK and the program, while on.
std::vector<std::string> logged_problems;

GLogWriterOutput Capture_Writer(GLogLevelFlags level, const GLogField *fields, gsize n_fields, gpointer)
{
    if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0) {
        std::string text;
        for (gsize i = 0; i < n_fields; i++) {
            if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0 && fields[i].length < 0)
                text = std::string(static_cast<const char *>(fields[i].value)) + ": " + text;
            if (g_strcmp0(fields[i].key, "MESSAGE") == 0 && fields[i].length < 0)
                text += static_cast<const char *>(fields[i].value);
        }
        logged_problems.push_back(text);
    }
    return g_log_writer_default(level, fields, n_fields, nullptr);
}

void Capture_Log(void)
{
    static bool installed = false;
    if (!installed)
        g_log_set_writer_func(Capture_Writer, nullptr, nullptr);
    installed = true;
    logged_problems.clear();
}

std::string Joined(const std::vector<std::string> &lines)
{
    std::string all;
    for (const auto &l : lines)
        all += l + "\n";
    return all;
}

struct Binding {
    const char *object;
    const char *signal;
    const char *handler;
    bool in_dialog;
};

// Every handler of the program with the object and signal it serves.
const Binding bindings[] = {
    {"main_window", "destroy", "on_main_window_destroy", false},
    {"main_window", "delete-event", "on_main_window_delete_event", false},
    {"error_ok_button", "clicked", "on_error_ok_button_clicked", true},
    {"error_quit_button", "clicked", "on_error_quit_button_clicked", true},
    {"error_dialog", "destroy", "on_error_dialog_destroy", true},
    {"error_dialog", "delete-event", "on_error_dialog_delete_event", true},
    {"squelch_spinbutton", "value-changed", "on_squelch_spinbutton_value_changed", false},
    {"ratio_spinbutton", "value-changed", "on_ratio_spinbutton_value_changed", false},
    {"wpm_spinbutton", "value-changed", "on_wpm_spinbutton_value_changed", false},
    {"auto_checkbutton", "toggled", "on_auto_checkbutton_toggled", false},
    {"receive_togglebutton", "toggled", "on_receive_togglebutton_toggled", false},
    {"clear_button", "clicked", "on_clear_button_clicked", false},
    {"scope_drawingarea", "draw", "on_scope_drawingarea_draw", false},
    {"signal_radiobutton", "toggled", "on_signal_radiobutton_toggled", false},
    {"level_radiobutton", "toggled", "on_level_radiobutton_toggled", false},
    {"ratio_radiobutton", "toggled", "on_ratio_radiobutton_toggled", false},
    {"stop_radiobutton", "toggled", "on_stop_radiobutton_toggled", false},
    {"waterfall_drawingarea", "draw", "on_waterfall_drawingarea_draw", false},
    {"waterfall_drawingarea", "configure-event", "on_waterfall_drawingarea_configure_event", false},
    {"receiver_combobox", "changed", "on_receiver_combobox_changed", false},
    {"decoder_combobox", "changed", "on_decoder_combobox_changed", false},
    {"frequency_spinbutton", "value-changed", "on_frequency_spinbutton_value_changed", false},
    {"frequency_spinbutton", "scroll-event", "on_frequency_spinbutton_scroll_event", false},
    {"waterfall_drawingarea", "button-press-event", "on_waterfall_drawingarea_button_press_event", false},
};

void Use_Source_Ui_File(void)
{
    Strlcpy(rc_data.ui_file, VELKADOR_SOURCE_DIR "/data/velkador.glade", sizeof(rc_data.ui_file));
}

gboolean Send_Delete(gpointer widget)
{
    GdkEvent *event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(widget))));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
    return G_SOURCE_REMOVE;
}

gboolean Give_Up(gpointer timed_out)
{
    *static_cast<bool *>(timed_out) = true;
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

void Note_Destroyed(GtkWidget *, gpointer destroyed)
{
    *static_cast<bool *>(destroyed) = true;
}

} // namespace

TEST(UiFile, EveryHandlerBindsWithoutWarnings)
{
    REQUIRE_DISPLAY();
    Capture_Log();
    Use_Source_Ui_File();
    Build_Test_Window();
    GtkBuilder *dialog_builder = nullptr;
    GtkWidget *dialog = create_error_dialog(&dialog_builder);
    ASSERT_NE(dialog, nullptr);
    Iterate_Pending();
    EXPECT_TRUE(logged_problems.empty()) << Joined(logged_problems);

    GModule *self = g_module_open(nullptr, G_MODULE_BIND_LAZY);
    ASSERT_NE(self, nullptr);
    for (const auto &b : bindings) {
        GtkBuilder *builder = b.in_dialog ? dialog_builder : main_builder;
        GObject *object = gtk_builder_get_object(builder, b.object);
        ASSERT_NE(object, nullptr) << b.object;
        gpointer handler = nullptr;
        ASSERT_TRUE(g_module_symbol(self, b.handler, &handler)) << b.handler << " is not exported";
        guint signal_id = g_signal_lookup(b.signal, G_OBJECT_TYPE(object));
        ASSERT_NE(signal_id, 0u) << b.object << " has no signal " << b.signal;
        gulong id = g_signal_handler_find(object, static_cast<GSignalMatchType>(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_FUNC),
                                          signal_id, 0, nullptr, handler, nullptr);
        EXPECT_NE(id, 0u) << b.handler << " is not bound to " << b.object << " " << b.signal;
    }
    g_module_close(self);
    gtk_widget_destroy(dialog);
    g_object_unref(dialog_builder);
}

TEST(UiFile, AHandlerThatTheProgramLacksIsReported)
{
    REQUIRE_DISPLAY();
    std::string ui = Read_File(VELKADOR_SOURCE_DIR "/data/velkador.glade");
    const std::string handler = "handler=\"on_clear_button_clicked\"";
    size_t at = ui.find(handler);
    ASSERT_NE(at, std::string::npos);
    ui.replace(at, handler.size(), "handler=\"on_clear_button_pressed\"");
    std::string path = Make_Temp_Dir("handler") + "/velkador.glade";
    Write_Text_File(path, ui);
    Strlcpy(rc_data.ui_file, path.c_str(), sizeof(rc_data.ui_file));

    Capture_Log();
    GtkBuilder *builder = nullptr;
    GtkWidget *window = create_main_window(&builder);
    ASSERT_NE(window, nullptr);
    EXPECT_NE(Joined(logged_problems).find("on_clear_button_pressed"), std::string::npos)
        << Joined(logged_problems);
    gtk_widget_destroy(window);
    g_object_unref(builder);
}

TEST(MainWindow, CloseRunsCleanupAndEndsTheMainLoop)
{
    REQUIRE_DISPLAY();
    Open_Silent_Capture();

    Use_Source_Ui_File();
    GtkWidget *window = Build_Test_Window();
    bool destroyed = false;
    g_signal_connect(window, "destroy", G_CALLBACK(Note_Destroyed), &destroyed);
    ASSERT_TRUE(Iterate_Until([window] { return gtk_widget_get_mapped(window); }, 20000));

    bool timed_out = false;
    guint guard = g_timeout_add(10000, Give_Up, &timed_out);
    g_timeout_add(0, Send_Delete, window);
    gtk_main();
    if (!timed_out)
        g_source_remove(guard);
    EXPECT_FALSE(timed_out) << "closing the window did not leave the main loop";
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(main_builder, nullptr);
    EXPECT_EQ(pcm_handle, nullptr) << "closing the window did not run Cleanup";
}
