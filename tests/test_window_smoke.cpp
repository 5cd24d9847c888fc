// The real UI file builds, binds every handler and yields every widget.
#include <gtest/gtest.h>

#include "core/shared.h"
#include "core/startup.h"
#include "support/gtk_env.h"

TEST(MainWindow, BuildsFromTheRealUiFileWithTheFirstSettings)
{
    REQUIRE_DISPLAY();
    GtkWidget *window = Build_Test_Window();
    ASSERT_NE(window, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window)), "velkador 3.6.7");
    EXPECT_EQ(rc_data.unit_elem, 15);
    EXPECT_EQ(flags, DISPLAY_SIGNAL);
    EXPECT_EQ(rc_data.det_squelch, gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(squelch)));
    EXPECT_DOUBLE_EQ(rc_data.det_ratio, 2.0);
    EXPECT_EQ(rc_data.rx_freq, 7030000);
    Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) > 1; });
    EXPECT_EQ(gtk_widget_get_allocated_width(waterfall), 511);

    // A larger window gives the text more room, never the waterfall: its
    // width + 1 must stay the FFT's power of two.
    gtk_window_resize(GTK_WINDOW(window), 1400, 1000);
    Iterate_Until([&] { return gtk_widget_get_allocated_width(window) >= 1400; });
    EXPECT_GE(gtk_widget_get_allocated_width(window), 1400);
    EXPECT_EQ(gtk_widget_get_allocated_width(waterfall), 511);
    EXPECT_GT(gtk_widget_get_allocated_width(rx_scrolledwindow), 1300);
}
