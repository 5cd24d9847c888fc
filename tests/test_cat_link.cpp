// The serial link against simulated rigs on pseudo-terminals: port settings,
// locking, the answer checks and the ways the link is dropped.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "cat/rigs.h"
#include "cat/serial.h"
#include "core/shared.h"
#include "core/startup.h"
#include "support/gtk_env.h"
#include "support/rig_sim.h"

namespace {

const char LINK_LOST[] = "Failed to Establish Transceiver CAT";

class CatLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        ASSERT_NE(Build_Test_Window(), nullptr);
        Iterate_Pending();
    }
};

bool Is_Raw_At(const struct termios &tio, speed_t speed)
{
    return (tio.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (tio.c_oflag & OPOST) == 0 &&
           (tio.c_cflag & CSIZE) == CS8 && (tio.c_cflag & PARENB) == 0 && tio.c_cc[VMIN] == 0 &&
           tio.c_cc[VTIME] == 5 && cfgetispeed(&tio) == speed && cfgetospeed(&tio) == speed;
}

bool Is_As_Found(const struct termios &tio)
{
    return (tio.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO) && cfgetospeed(&tio) == B9600;
}

}  // namespace

TEST_F(CatLink, OpensRawAtTheRigsSpeedAndPutsTheSettingsBackOnClose)
{
    const struct {
        int tcvr_type;
        speed_t speed;
    } cases[] = {{TCVR_FT847, B57600}, {TCVR_FT857, B38400}, {TCVR_K2, B38400},
                 {TCVR_K3, B38400},    {TCVR_PERSEUS, B9600}, {TCVR_NONE, B9600}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tcvr_type);
        Rig_Sim sim(c.tcvr_type, 7030000);
        Point_Cat_At(sim, c.tcvr_type);
        ASSERT_EQ(Open_Tcvr_Serial(), 1);
        EXPECT_TRUE(isFlagSet(TCVR_SERIAL_OK));
        EXPECT_TRUE(isFlagClear(CAT_SETUP));
        EXPECT_GT(Tcvr_Serial_Fd(), 0);
        EXPECT_TRUE(Is_Raw_At(sim.Slave_Termios(), c.speed));

        Close_Tcvr_Serial();
        EXPECT_EQ(Tcvr_Serial_Fd(), 0);
        EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
        EXPECT_TRUE(Is_As_Found(sim.Slave_Termios()));
    }
    EXPECT_EQ(error_dialog, nullptr);
}

TEST_F(CatLink, OpeningAnOpenLinkDoesNoIo)
{
    Rig_Sim sim(TCVR_K2, 7030000);
    Point_Cat_At(sim, TCVR_K2);
    ASSERT_EQ(Open_Tcvr_Serial(), 1);
    ASSERT_TRUE(sim.Wait_For_Bytes(7));
    sim.Clear_Received();
    int fd = Tcvr_Serial_Fd();

    EXPECT_EQ(Open_Tcvr_Serial(), 1);
    ASSERT_TRUE(sim.Sync());
    EXPECT_EQ(Hex_Bytes(sim.Received()), "");
    EXPECT_EQ(Tcvr_Serial_Fd(), fd);
}

TEST_F(CatLink, MissingDeviceIsReportedByPath)
{
    Strlcpy(rc_data.cat_serial, "/nonexistent/ttyCAT", sizeof(rc_data.cat_serial));
    rc_data.tcvr_type = TCVR_K2;
    EXPECT_EQ(Open_Tcvr_Serial(), 0);
    EXPECT_EQ(Tcvr_Serial_Fd(), 0);
    EXPECT_EQ(Error_Dialog_Text(), "Failed to open /nonexistent/ttyCAT\nTransceiver CAT not setup");

    Set_Flag(TCVR_SERIAL_OK);  // a stale bit is cleared by a close with no port
    Close_Tcvr_Serial();
    EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
    EXPECT_EQ(Tcvr_Serial_Fd(), 0);
}

TEST_F(CatLink, PortLockedByAnotherProcessNamesItAndKeepsItsLock)
{
    Rig_Sim sim(TCVR_K2, 7030000);
    Point_Cat_At(sim, TCVR_K2);
    Lock_Holder holder(sim.Path());
    ASSERT_TRUE(holder.locked);

    EXPECT_EQ(Open_Tcvr_Serial(), 0);
    EXPECT_EQ(Tcvr_Serial_Fd(), 0);
    EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
    EXPECT_EQ(Error_Dialog_Text(), "Failed to lock " + sim.Path() + "\nDevice locked by pid " +
                                       std::to_string(holder.pid) + "\nTransceiver CAT not setup");
    ASSERT_TRUE(sim.Sync());
    EXPECT_EQ(Hex_Bytes(sim.Received()), "");

    int fd = open(sim.Path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(fd, F_GETLK, &fl), 0);
    EXPECT_EQ(fl.l_type, F_WRLCK);
    EXPECT_EQ(fl.l_pid, holder.pid);
    close(fd);
}

TEST_F(CatLink, FailedStartUpLeavesThePortRawAndUnlocked)
{
    Rig_Sim sim(TCVR_K2, 7030000);
    Point_Cat_At(sim, TCVR_K2);
    sim.Set_Fault(Rig_Fault::NO_ANSWER);
    EXPECT_EQ(Open_Tcvr_Serial(), 0);
    EXPECT_EQ(Error_Dialog_Text(), LINK_LOST);
    EXPECT_EQ(Tcvr_Serial_Fd(), 0);
    EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
    EXPECT_TRUE(Is_Raw_At(sim.Slave_Termios(), B38400));
    {
        Lock_Holder holder(sim.Path());
        EXPECT_TRUE(holder.locked);
    }

    Dismiss_Error_Dialog();
    sim.Set_Fault(Rig_Fault::NONE);
    EXPECT_EQ(Open_Tcvr_Serial(), 1);
    EXPECT_EQ(error_dialog, nullptr);
}

TEST_F(CatLink, AnAnswerMustArriveWithExactlyItsLength)
{
    const struct {
        Rig_Fault fault;
        int delay_ms;
        int ok;
    } cases[] = {{Rig_Fault::NONE, 350, 1},
                 {Rig_Fault::NO_ANSWER, 0, 0},
                 {Rig_Fault::SHORT_ANSWER, 0, 0},
                 {Rig_Fault::ECHO_FIRST, 0, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        Dismiss_Error_Dialog();
        Rig_Sim sim(TCVR_K2, 14060000);
        Point_Cat_At(sim, TCVR_K2);
        ASSERT_EQ(Open_Tcvr_Serial(), 1);
        sim.Set_Fault(c.fault);
        sim.Set_Answer_Delay_Ms(c.delay_ms);

        unsigned char answer[14];
        memset(answer, 0xff, sizeof(answer));
        ASSERT_EQ(Write_Tcvr_Serial(reinterpret_cast<const unsigned char *>("FA;"), 3), 1);
        EXPECT_EQ(Read_Tcvr_Serial(answer, sizeof(answer)), c.ok);
        if (c.ok) {
            EXPECT_EQ(memcmp(answer, "FA00014060000;", 14), 0);
            EXPECT_TRUE(isFlagSet(TCVR_SERIAL_OK));
        } else {
            EXPECT_EQ(answer[0], 0);
            EXPECT_EQ(Tcvr_Serial_Fd(), 0);
            EXPECT_TRUE(isFlagClear(TCVR_SERIAL_OK | CAT_SETUP));
            EXPECT_EQ(Error_Dialog_Text(), LINK_LOST);
            EXPECT_TRUE(Is_Raw_At(sim.Slave_Termios(), B38400));
        }
        Close_Tcvr_Serial();
    }
}

TEST_F(CatLink, StrayBytesAreDiscardedBeforeTheNextCommand)
{
    Rig_Sim sim(TCVR_K2, 14060000);
    Point_Cat_At(sim, TCVR_K2);
    ASSERT_EQ(Open_Tcvr_Serial(), 1);
    sim.Inject(Text_Bytes("FA00007000000;"));
    // The stray answer is waiting at the port before the command goes out.
    int waiting = 0;
    for (int i = 0; i < 10000 && waiting < 14; i++) {
        ioctl(Tcvr_Serial_Fd(), FIONREAD, &waiting);
        if (waiting < 14)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(waiting, 14);

    int64_t freq_hz = 0;
    EXPECT_EQ(Read_Tcvr_Freq(&freq_hz), 1);
    EXPECT_EQ(freq_hz, 14060000);
}

TEST_F(CatLink, WithoutALinkNothingIsWrittenOrRead)
{
    unsigned char buf[5] = {0x55, 0x55, 0x55, 0x55, 0x55};
    EXPECT_EQ(Write_Tcvr_Serial(buf, sizeof(buf)), 0);
    EXPECT_EQ(Read_Tcvr_Serial(buf, sizeof(buf)), 0);
    EXPECT_EQ(buf[0], 0x55);
    EXPECT_EQ(error_dialog, nullptr);
}

TEST_F(CatLink, PortThatIsNoTerminalIsRefusedQuietly)
{
    std::string dir = Make_Temp_Dir("cat");
    std::string path = dir + "/plain";
    Write_Text_File(path, "");
    Strlcpy(rc_data.cat_serial, path.c_str(), sizeof(rc_data.cat_serial));
    rc_data.tcvr_type = TCVR_K2;
    EXPECT_EQ(Open_Tcvr_Serial(), 0);
    EXPECT_EQ(Tcvr_Serial_Fd(), 0);
    EXPECT_EQ(error_dialog, nullptr);
    unlink(path.c_str());
    rmdir(dir.c_str());
}

// A fatal signal ends the process through the program's own handler: the
// FT847 leaves CAT mode and the port gets its settings back.
TEST(CatLinkSignal, FatalSignalReleasesAnFt847)
{
    Rig_Sim sim(TCVR_FT847, 7030000);
    Point_Cat_At(sim, TCVR_FT847);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        struct sigaction sa = {};
        sa.sa_handler = Signal_Handler;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGABRT, &sa, nullptr);
        if (Open_Tcvr_Serial() != 1)
            _exit(100);
        raise(SIGABRT);
        _exit(101);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), SIGABRT);
    ASSERT_TRUE(sim.Wait_For_Bytes(20));
    EXPECT_EQ(Hex_Bytes(sim.Received()),
              "00 00 00 00 00 00 00 00 00 03 83 00 00 00 07 00 00 00 00 80");
    EXPECT_TRUE(Is_As_Found(sim.Slave_Termios()));
}
