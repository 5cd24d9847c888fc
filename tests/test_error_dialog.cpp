// tests/test_error_dialog.cpp - the error dialog built from the real UI file:
// one dialog at a time, OK, Quit, a refused close, a UI file that lacks the
// message label, and the allocation helpers' reports.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "core/shared.h"
#include "sound/capture.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "ui/interface.h"

namespace {

std::string Shown_Message(void)
{
    if (error_dialog == nullptr)
        return "<no dialog>";
    GtkWidget *label = Find_Named(error_dialog, "error_message");
    if (label == nullptr)
        return "<no label>";
    return gtk_label_get_text(GTK_LABEL(label));
}

GtkWidget *Dialog_Button(const char *id)
{
    GtkWidget *button = error_dialog != nullptr ? Find_Named(error_dialog, id) : nullptr;
    EXPECT_NE(button, nullptr) << id;
    return button;
}

gboolean Click_Button(gpointer button)
{
    gtk_button_clicked(GTK_BUTTON(button));
    return G_SOURCE_REMOVE;
}

gboolean Give_Up(gpointer timed_out)
{
    *static_cast<bool *>(timed_out) = true;
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

// Runs the main loop until a handler leaves it; false when that took longer
// than 10 s and the guard had to leave it instead.
bool Run_Main_Loop_Clicking(GtkWidget *button)
{
    bool timed_out = false;
    guint guard = g_timeout_add(10000, Give_Up, &timed_out);
    g_timeout_add(0, Click_Button, button);
    gtk_main();
    if (!timed_out)
        g_source_remove(guard);
    return !timed_out;
}

class ErrorDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        Strlcpy(rc_data.ui_file, VELKADOR_SOURCE_DIR "/data/velkador.glade", sizeof(rc_data.ui_file));
    }
    void TearDown() override
    {
        if (error_dialog != nullptr)
            gtk_widget_destroy(error_dialog);
        Iterate_Pending();
    }
};

} // namespace

TEST_F(ErrorDialog, KeepsTheFirstOfTwoErrorsAsPlainText)
{
    ASSERT_EQ(error_dialog, nullptr);
    Error_Dialog("Cannot open <b>hw:9</b> & friends\nsecond line");
    ASSERT_NE(error_dialog, nullptr);
    GtkWidget *first = error_dialog;
    EXPECT_TRUE(gtk_widget_get_visible(first));
    Error_Dialog("a later error");
    EXPECT_EQ(error_dialog, first);
    Iterate_Pending();
    EXPECT_EQ(Shown_Message(), "Cannot open <b>hw:9</b> & friends\nsecond line");

    // The label holds its own copy of the text.
    char buffer[64];
    Strlcpy(buffer, "from a reused buffer", sizeof(buffer));
    gtk_widget_destroy(error_dialog);
    Iterate_Pending();
    Error_Dialog(buffer);
    Strlcpy(buffer, "overwritten", sizeof(buffer));
    EXPECT_EQ(Shown_Message(), "from a reused buffer");
}

TEST_F(ErrorDialog, OkClosesItAndLetsTheNextErrorShow)
{
    Error_Dialog("first");
    ASSERT_NE(error_dialog, nullptr);
    GtkWidget *ok = Dialog_Button("error_ok_button");
    ASSERT_NE(ok, nullptr);
    gtk_button_clicked(GTK_BUTTON(ok));
    Iterate_Pending();
    EXPECT_EQ(error_dialog, nullptr);

    Error_Dialog("second");
    ASSERT_NE(error_dialog, nullptr);
    EXPECT_TRUE(gtk_widget_get_visible(error_dialog));
    EXPECT_EQ(Shown_Message(), "second");
    Error_Dialog("third");
    EXPECT_EQ(Shown_Message(), "second");
}

TEST_F(ErrorDialog, CloseFromTheWindowManagerIsRefused)
{
    Error_Dialog("stays");
    ASSERT_NE(error_dialog, nullptr);
    GtkWidget *dialog = error_dialog;
    Iterate_Until([dialog] { return gtk_widget_get_mapped(dialog); });
    ASSERT_NE(gtk_widget_get_window(dialog), nullptr);

    // The window manager's close arrives as a delete event; unhandled, GTK
    // destroys the window.
    GdkEvent *event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(dialog)));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
    Iterate_Pending();
    ASSERT_EQ(error_dialog, dialog);
    EXPECT_TRUE(gtk_widget_get_visible(dialog));

    gtk_window_close(GTK_WINDOW(dialog));
    Iterate_Pending();
    ASSERT_EQ(error_dialog, dialog);
    EXPECT_TRUE(gtk_widget_get_visible(dialog));
    EXPECT_EQ(Shown_Message(), "stays");

    Error_Dialog("still the first");
    EXPECT_EQ(Shown_Message(), "stays");
}

TEST_F(ErrorDialog, QuitClosesTheSoundDeviceAndLeavesTheMainLoop)
{
    Open_Silent_Capture();
    ASSERT_NE(pcm_handle, nullptr);

    Error_Dialog("quit now");
    GtkWidget *quit = Dialog_Button("error_quit_button");
    ASSERT_NE(quit, nullptr);
    EXPECT_TRUE(Run_Main_Loop_Clicking(quit)) << "Quit did not leave the main loop";
    EXPECT_EQ(gtk_main_level(), 0u);
    EXPECT_EQ(pcm_handle, nullptr) << "Quit did not run Cleanup";
}

TEST_F(ErrorDialog, UiFileWithoutTheMessageLabelEndsTheProcess)
{
    std::string ui = Read_File(VELKADOR_SOURCE_DIR "/data/velkador.glade");
    const std::string id = "id=\"error_message\"";
    size_t at = ui.find(id);
    ASSERT_NE(at, std::string::npos);
    ui.replace(at, id.size(), "id=\"error_text\"");
    std::string path = Make_Temp_Dir("nolabel") + "/velkador.glade";
    Write_Text_File(path, ui);
    Strlcpy(rc_data.ui_file, path.c_str(), sizeof(rc_data.ui_file));

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(Error_Dialog("any error"), ::testing::ExitedWithCode(255),
                "!! Velkador: builder failed to get named object: error_message\n");
}

TEST_F(ErrorDialog, FailedAllocationsAreReportedOnStderrAndInTheDialog)
{
    char *block = static_cast<char *>(malloc(16));
    ASSERT_NE(block, nullptr);
    ::testing::internal::CaptureStderr();
    int ok = mem_realloc(&block, SIZE_MAX - 4096);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(block, nullptr);
    EXPECT_NE(err.find("velkador: realloc():"), std::string::npos) << err;
    EXPECT_EQ(Shown_Message(), "A memory re-allocation failed\nPlease quit velkador and correct");

    // The dialog is taken: the next failure reaches stderr only.
    unsigned char *other = nullptr;
    ASSERT_EQ(mem_alloc(&other, 32), 1);
    ::testing::internal::CaptureStderr();
    ok = mem_alloc(&other, SIZE_MAX - 4096);
    err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(other, nullptr);
    EXPECT_NE(err.find("velkador: alloc():"), std::string::npos) << err;
    EXPECT_EQ(Shown_Message(), "A memory re-allocation failed\nPlease quit velkador and correct");

    gtk_widget_destroy(error_dialog);
    Iterate_Pending();
    ::testing::internal::CaptureStderr();
    ok = mem_alloc(&other, SIZE_MAX - 4096);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Shown_Message(), "A memory allocation failed\nPlease quit velkador and correct");
}
