// tests/test_cat_fault.cpp - a USB serial adapter that vanishes while the link
// is up, simulated by closing the pseudo-terminal's master: the link drops
// once, without retrying against the dead port, and reception goes on.
//
// The link wraps the descriptor calls (see tests/cat.cmake): the wrappers
// count the calls made on the link's descriptor and the opens of its path.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cat/serial.h"
#include "core/config.h"
#include "core/shared.h"
#include "core/startup.h"
#include "cwgen.h"
#include "support/alsa_env.h"
#include "support/gtk_env.h"
#include "support/rig_sim.h"
#include "ui/interface.h"

namespace {
int watched_fd = -1;
std::string watched_path;
int io_calls = 0;  // write, read, ioctl, tcflush on watched_fd
int closes = 0;
int opens = 0;     // of watched_path
}  // namespace

extern "C" {
ssize_t __real_write(int, const void *, size_t);
ssize_t __real_read(int, void *, size_t);
int __real_ioctl(int, unsigned long, void *);
int __real_tcflush(int, int);
int __real_close(int);
int __real_open(const char *, int, ...);

ssize_t __wrap_write(int fd, const void *buf, size_t n)
{
    io_calls += fd == watched_fd;
    return __real_write(fd, buf, n);
}

ssize_t __wrap_read(int fd, void *buf, size_t n)
{
    io_calls += fd == watched_fd;
    return __real_read(fd, buf, n);
}

int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    io_calls += fd == watched_fd;
    return __real_ioctl(fd, request, arg);
}

int __wrap_tcflush(int fd, int queue)
{
    io_calls += fd == watched_fd;
    return __real_tcflush(fd, queue);
}

int __wrap_close(int fd)
{
    if (fd == watched_fd) {
        closes++;
        watched_fd = -1;  // the number may be handed out again at once
    }
    return __real_close(fd);
}

int __wrap_open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    mode_t mode = static_cast<mode_t>(va_arg(ap, int));
    va_end(ap);
    opens += !watched_path.empty() && watched_path == path;
    return __real_open(path, flags, mode);
}
}

namespace {

const char LINK_LOST[] = "Failed to Establish Transceiver CAT";

// Watches the link from now on.
void Watch_Link(const Rig_Sim &sim)
{
    watched_fd = Tcvr_Serial_Fd();
    watched_path = sim.Path();
    io_calls = closes = opens = 0;
}

}  // namespace

TEST(CatFault, AnAdapterThatVanishesDropsTheLinkOnceAndReceptionGoesOn)
{
    REQUIRE_DISPLAY();
    Rig_Sim sim(TCVR_K2, 14060000);
    Alsa_Test_Env env = Make_Alsa_Test_Env(Make_Scratch_Dir("catfault") + "/audio.raw");
    ASSERT_EQ(mkdir((env.home + "/.velkador").c_str(), 0755), 0);
    Write_Text_File(env.home + "/.velkador/velkadorrc",
                    env.device + "\n48000\nFRONT_LEFT\nCapture\nCapture\n50\n40\n10\n20\n" + sim.Path() +
                        "\nK2\n0\n800\n");
    Cw_Params params;
    params.wpm = 20.0;
    params.trail_ms = 2000.0;
    std::vector<int16_t> audio;
    std::string error;
    ASSERT_TRUE(Cw_Generate(params, "VVV TEST DE VELKADOR", audio, error)) << error;
    Write_Raw_Samples(env.infile, audio);

    GtkWidget *window = Build_Test_Window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(Iterate_Until([] { return gtk_widget_get_allocated_width(waterfall) > 1; }));
    g_idle_add(Load_Config, nullptr);
    ASSERT_TRUE(Iterate_Until([] { return isFlagSet(RCCONFIG_OK) || error_dialog != nullptr; }));
    ASSERT_TRUE(isFlagSet(RCCONFIG_OK | DETECTOR_READY | ENABLE_CAT)) << Error_Dialog_Text();

    GtkToggleButton *receive = GTK_TOGGLE_BUTTON(Builder_Get_Object(main_builder, "receive_togglebutton"));
    gtk_toggle_button_set_active(receive, TRUE);
    ASSERT_TRUE(isFlagSet(TCVR_SERIAL_OK)) << Error_Dialog_Text();
    ASSERT_TRUE(Iterate_Until([] { return Rx_View_Text().find("VVV") != std::string::npos; }, 60000)) << Rx_View_Text();

    Watch_Link(sim);
    sim.Hang_Up();
    testing::internal::CaptureStderr();
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(frequency), 14060100);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
    EXPECT_EQ(Tcvr_Serial_Fd(), 0);
    EXPECT_EQ(closes, 1);
    EXPECT_LE(io_calls, 2) << "a flush and one write: no retries against a port that is gone";
    EXPECT_EQ(Error_Dialog_Text(), LINK_LOST);
    EXPECT_NE(err.find("velkador: write(): incorrect number of bytes written: -1/14\n"), std::string::npos) << err;
    EXPECT_NE(err.find("velkador: " + sim.Path() + ": "), std::string::npos) << err;
    gtk_widget_destroy(error_dialog);  // as OK does; reception keeps the loop busy

    // From now on the rig is left alone, and reception goes on.
    testing::internal::CaptureStderr();
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(frequency), 14060200);
    EXPECT_TRUE(Iterate_Until([] { return Rx_View_Text().find("VELKADOR") != std::string::npos; }, 60000)) << Rx_View_Text();
    gtk_toggle_button_set_active(receive, FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(opens, 0) << "the port was opened again";
    EXPECT_EQ(error_dialog, nullptr) << Error_Dialog_Text();
    EXPECT_EQ(rc_data.rx_freq, 14060200);
}

TEST(CatFault, AnAnswerAwaitedFromAVanishedAdapterDropsTheLinkAtOnce)
{
    REQUIRE_DISPLAY();
    ASSERT_NE(Build_Test_Window(), nullptr);
    Rig_Sim sim(TCVR_FT857, 7030000);
    Point_Cat_At(sim, TCVR_FT857);
    ASSERT_EQ(Open_Tcvr_Serial(), 1);
    Watch_Link(sim);
    sim.Hang_Up();

    unsigned char answer[5] = {0x55, 0x55, 0x55, 0x55, 0x55};
    EXPECT_EQ(Read_Tcvr_Serial(answer, sizeof(answer)), 0);
    EXPECT_EQ(answer[0], 0);
    EXPECT_LE(io_calls, 1) << "one look at the port: no waiting for an answer that cannot come";
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
    EXPECT_EQ(Error_Dialog_Text(), LINK_LOST);
}
