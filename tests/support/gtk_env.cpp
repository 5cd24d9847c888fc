// tests/support/gtk_env.cpp - GTK and file helpers shared by the tests.
#include "support/gtk_env.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "core/shared.h"
#include "core/startup.h"

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
