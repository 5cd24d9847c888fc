// ui/interface.h - builds the main window and the error dialog from the UI
// description file, binds every handler by name, looks objects up, and shows
// one error dialog at a time. Owns error_dialog; main_builder lives in core/.
#ifndef VELKADOR_UI_INTERFACE_H
#define VELKADOR_UI_INTERFACE_H

#include <gtk/gtk.h>

// GtkBuilder finds handlers by symbol name: C linkage, exported.
#define VELKADOR_HANDLER extern "C" G_MODULE_EXPORT

extern GtkWidget *error_dialog;

// Object ids handed to the builder, null-terminated.
extern const char *const main_window_ids[];
extern const char *const error_dialog_ids[];

void Load_UI_Objects(GtkBuilder **builder, const char *const *object_ids);
GtkWidget *create_main_window(GtkBuilder **builder);
GtkWidget *create_error_dialog(GtkBuilder **builder);
GtkWidget *Builder_Get_Object(GtkBuilder *builder, const char *id);
void Error_Dialog(const char *message);

VELKADOR_HANDLER gboolean on_main_window_delete_event(GtkWidget *, GdkEvent *, gpointer);
VELKADOR_HANDLER void on_main_window_destroy(GtkWidget *, gpointer);
VELKADOR_HANDLER void on_error_ok_button_clicked(GtkButton *, gpointer);
VELKADOR_HANDLER void on_error_quit_button_clicked(GtkButton *, gpointer);
VELKADOR_HANDLER void on_error_dialog_destroy(GtkWidget *, gpointer);
VELKADOR_HANDLER gboolean on_error_dialog_delete_event(GtkWidget *, GdkEvent *, gpointer);

#endif
