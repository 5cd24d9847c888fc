// core/startup.h - the process's entry and exit: options, the working
// directory bootstrap, building the window, signals and Cleanup.
// Owns main_builder and the widget globals that other modules reach.
#ifndef VELKADOR_CORE_STARTUP_H
#define VELKADOR_CORE_STARTUP_H

#include <gtk/gtk.h>

extern GtkBuilder *main_builder;
extern GtkTextBuffer *rx_text_buffer;
extern GtkWidget *rx_scrolledwindow;
extern GtkWidget *scope;
extern GtkWidget *waterfall;
extern GtkWidget *scope_label;
extern GtkWidget *receiver_combobox;
extern GtkWidget *frequency;
extern GtkWidget *speed;
extern GtkWidget *squelch;
extern GtkWidget *ratio;

// The whole program; main() only calls this.
int Velkador_Main(int argc, char *argv[]);

void Usage(void);
void Cleanup(void);
[[noreturn]] void Signal_Handler(int signum);

// After GTK has set the locale: lets LANGUAGE choose the messages' language
// where the locale is "C" only because none is set.
void Select_Message_Locale(void);

// The directory of the message catalogues for bindtextdomain.
const char *Locale_Dir(void);

// Home directory: $HOME, else the password database's entry; null when
// neither exists.
const char *Home_Directory(void);

// Start-up steps 7 to 11, shared with the tests that build the real window:
// builds the main window from rc_data.ui_file, looks up the widget globals,
// takes the first settings from the controls and shows the window.
GtkWidget *Build_Main_Window(void);

#endif
