// tests/support/gtk_env.h - GTK for tests: one init per process, the real
// main window from the source tree's UI file, and bounded main-loop runs.
#ifndef VELKADOR_TESTS_GTK_ENV_H
#define VELKADOR_TESTS_GTK_ENV_H

#include <functional>
#include <string>

#include <gtk/gtk.h>

// gtk_init_check once per process; false when there is no display.
bool Gtk_Test_Init(void);

// Skips the calling test when no display is available.
#define REQUIRE_DISPLAY()                                   \
    do {                                                    \
        if (!Gtk_Test_Init())                               \
            GTEST_SKIP() << "no display (run under xvfb-run)"; \
    } while (0)

// Points rc_data.ui_file at data/velkador.glade of the source tree and runs
// the program's own window construction (widget globals, first settings).
GtkWidget *Build_Test_Window(void);

// Runs main-loop iterations until cond() holds or timeout_ms passes;
// returns cond()'s last value.
bool Iterate_Until(const std::function<bool()> &cond, int timeout_ms = 20000);

// Handles every pending event without blocking.
void Iterate_Pending(void);

// The widget built from the UI file's object `id` inside widget (itself
// included), or null.
GtkWidget *Find_Named(GtkWidget *widget, const char *id);

// Everything the window's text view holds.
std::string Rx_View_Text(void);

// The whole content of a file ("" when it cannot be read).
std::string Read_File(const std::string &path);

// The message of the error dialog on screen, or "" when none is shown.
std::string Error_Dialog_Text(void);

// Destroys the error dialog on screen (as its OK button does), if any.
void Dismiss_Error_Dialog(void);

// A fresh directory under $TMPDIR (or /tmp); removed by the caller if wanted.
std::string Make_Temp_Dir(const char *tag);

// Writes text to path; fails the test on error.
void Write_Text_File(const std::string &path, const std::string &text);

#endif
