// tests/support/gtk_env.cpp - GTK and file helpers shared by the tests.
#include "support/gtk_env.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "core/shared.h"
#include "core/startup.h"
#include "ui/interface.h"

bool Gtk_Test_Init(void)
{
    static int state = -1;
    if (state < 0)
        state = gtk_init_check(nullptr, nullptr) ? 1 : 0;
    return state == 1;
}

GtkWidget *Build_Test_Window(void)
{
    Strlcpy(rc_data.ui_file, VELKADOR_SOURCE_DIR "/data/velkador.glade", sizeof(rc_data.ui_file));
    return Build_Main_Window();
}

void Iterate_Pending(void)
{
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

bool Iterate_Until(const std::function<bool()> &cond, int timeout_ms)
{
    gint64 end = g_get_monotonic_time() + static_cast<gint64>(timeout_ms) * 1000;
    while (!cond()) {
        if (g_get_monotonic_time() > end)
            return cond();
        if (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
        else
            g_usleep(1000);
    }
    return true;
}

std::string Make_Temp_Dir(const char *tag)
{
    const char *tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr ? tmp : "/tmp") + "/velkador-" + tag + "-XXXXXX";
    char *path = mkdtemp(templ.data());
    EXPECT_NE(path, nullptr) << "mkdtemp " << templ;
    return path != nullptr ? std::string(path) : std::string();
}

void Write_Text_File(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    ASSERT_TRUE(out.good()) << "cannot write " << path;
    out << text;
}

GtkWidget *Find_Named(GtkWidget *widget, const char *id)
{
    if (GTK_IS_BUILDABLE(widget) && g_strcmp0(gtk_buildable_get_name(GTK_BUILDABLE(widget)), id) == 0)
        return widget;
    if (!GTK_IS_CONTAINER(widget))
        return nullptr;
    GList *children = gtk_container_get_children(GTK_CONTAINER(widget));
    GtkWidget *found = nullptr;
    for (GList *l = children; l != nullptr && found == nullptr; l = l->next)
        found = Find_Named(GTK_WIDGET(l->data), id);
    g_list_free(children);
    return found;
}

std::string Read_File(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Error_Dialog_Text(void)
{
    if (error_dialog == nullptr)
        return "";
    GtkWidget *label = Find_Named(error_dialog, "error_message");
    return label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : "";
}

void Dismiss_Error_Dialog(void)
{
    if (error_dialog != nullptr)
        gtk_widget_destroy(error_dialog);
    Iterate_Pending();
}

std::string Rx_View_Text(void)
{
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(rx_text_buffer, &start, &end);
    gchar *text = gtk_text_buffer_get_text(rx_text_buffer, &start, &end, FALSE);
    std::string s(text);
    g_free(text);
    return s;
}
