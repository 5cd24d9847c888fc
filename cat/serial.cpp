// cat/serial.cpp - the CAT serial link. All I/O blocks the main loop: a
// successful write holds it 50 ms, a write or answer that keeps failing
// about one second before the link is dropped; a port that has gone away
// (an unplugged adapter) is dropped at its first failure.
#include "cat/serial.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cat/hamlib.h"
#include "cat/rigs.h"
#include "core/shared.h"

namespace {

constexpr int MAX_TRIES = 10;
constexpr long WRITE_PAUSE_MS = 50;  // after every successful write
constexpr long RETRY_PAUSE_MS = 100; // after a failed write attempt or check
constexpr size_t MESG_LEN = 128;

int serial_fd = 0;
struct termios saved_termios;

void Pause_Ms(long ms)
{
    struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

// Speed for the rig type; B0 means the port keeps the speed it has.
speed_t Line_Speed(int tcvr_type)
{
    switch (tcvr_type) {
    case TCVR_FT847:
        return B57600;
    case TCVR_FT857:
    case TCVR_K2:
    case TCVR_K3:
        return B38400;
    default:
        return B0;
    }
}

void Close_Port(void)
{
    if (serial_fd > 0)
        close(serial_fd);
    serial_fd = 0;
}

// After these the port will not come back: the adapter was unplugged (its
// line hung up) or the descriptor is no longer a port. Trying again would
// only hold the main loop for nothing.
bool Port_Is_Gone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

int Link_Active(void)
{
    return (isFlagSet(CAT_SETUP) || isFlagSet(TCVR_SERIAL_OK)) && serial_fd > 0;
}

void Report_Lock_Failure(const char *path)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (fcntl(serial_fd, F_GETLK, &lock) == -1) {
        perror("velkador: fcntl(F_GETLK)");
        return;
    }

    char mesg[MESG_LEN];
    if (lock.l_type == F_UNLCK) {
        // Refused for a reason other than a holder (the query finds none).
        snprintf(mesg, sizeof(mesg), _("Failed to lock %s\nTransceiver CAT not setup"), path);
    } else {
        fprintf(stderr, "velkador: %s is locked by pid %d\n", path, static_cast<int>(lock.l_pid));
        snprintf(mesg, sizeof(mesg),
                 _("Failed to lock %s\nDevice locked by pid %d\nTransceiver CAT not setup"), path,
                 static_cast<int>(lock.l_pid));
    }
    Error_Dialog(mesg);
}

// Every step is tried, the apply included, and the outcomes are judged
// together; a port that fails any of them is not used.
int Configure_Port(void)
{
    struct termios work = {};
    int ok = 1;

    if (tcgetattr(serial_fd, &saved_termios) == -1)
        ok = 0;
    if (tcgetattr(serial_fd, &work) == -1)
        ok = 0;
    speed_t speed = Line_Speed(rc_data.tcvr_type);
    if (speed != B0 && cfsetspeed(&work, speed) == -1)
        ok = 0;
    cfmakeraw(&work);
    work.c_cc[VMIN] = 0;
    work.c_cc[VTIME] = 5;
    if (tcsetattr(serial_fd, TCSAFLUSH, &work) == -1)
        ok = 0;
    return ok;
}

}  // namespace

int Tcvr_Serial_Fd(void)
{
    return serial_fd;
}

int Open_Tcvr_Serial(void)
{
    if (isFlagSet(TCVR_SERIAL_OK))
        return 1;
    // Hamlib opens its own port, or none at all for a daemon.
    if (rc_data.tcvr_type == TCVR_HAMLIB)
        return Hamlib_Open_Rig();

    const char *path = rc_data.cat_serial;
    serial_fd = open(path, O_RDWR | O_NOCTTY);
    if (serial_fd < 0) {
        perror(path);
        char mesg[MESG_LEN];
        snprintf(mesg, sizeof(mesg), _("Failed to open %s\nTransceiver CAT not setup"), path);
        Error_Dialog(mesg);
        serial_fd = 0;
        return 0;
    }

    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (fcntl(serial_fd, F_SETLK, &lock) == -1) {
        Report_Lock_Failure(path);
        Close_Port();
        return 0;
    }

    if (!Configure_Port()) {
        Close_Port();
        return 0;
    }

    Set_Flag(CAT_SETUP);
    if (!Tcvr_Startup())
        return 0;

    Clear_Flag(CAT_SETUP);
    Set_Flag(TCVR_SERIAL_OK);
    return 1;
}

void Close_Tcvr_Serial(void)
{
    Hamlib_Close_Rig();
    if (isFlagSet(TCVR_SERIAL_OK)) {
        Tcvr_Closedown();
        if (serial_fd > 0) {
            tcsetattr(serial_fd, TCSANOW, &saved_termios);
            Close_Port();
        }
    }
    Clear_Flag(TCVR_SERIAL_OK);
}

int Write_Tcvr_Serial(const unsigned char *data, size_t len)
{
    if (!Link_Active())
        return 0;

    tcflush(serial_fd, TCIOFLUSH);
    ssize_t written = 0;
    for (int tries = 0; tries < MAX_TRIES; tries++) {
        written = write(serial_fd, data, len);
        if (written == static_cast<ssize_t>(len)) {
            Pause_Ms(WRITE_PAUSE_MS);
            return 1;
        }
        int err = errno;
        fprintf(stderr, "velkador: write(): incorrect number of bytes written: %d/%d\n",
                static_cast<int>(written), static_cast<int>(len));
        if (written < 0 && Port_Is_Gone(err)) {
            fprintf(stderr, "velkador: %s: %s\n", rc_data.cat_serial, strerror(err));
            Abort_Tcvr_Serial();
            return 0;
        }
        Pause_Ms(RETRY_PAUSE_MS);
    }

    tcflush(serial_fd, TCIOFLUSH);
    fprintf(stderr, "velkador: write(): incorrect number of bytes written: %d/%d after %d tries\n",
            static_cast<int>(written), static_cast<int>(len), MAX_TRIES);
    Abort_Tcvr_Serial();
    return 0;
}

int Read_Tcvr_Serial(unsigned char *buf, size_t len)
{
    if (!Link_Active())
        return 0;

    // Exactly len bytes must be waiting: more means an echo or a stray
    // answer in front of ours, and its bytes cannot be told apart.
    int waiting = 0;
    int tries;
    for (tries = 0; tries < MAX_TRIES; tries++) {
        if (ioctl(serial_fd, FIONREAD, &waiting) == -1 && Port_Is_Gone(errno)) {
            fprintf(stderr, "velkador: %s: %s\n", rc_data.cat_serial, strerror(errno));
            if (len > 0)
                buf[0] = 0;
            Abort_Tcvr_Serial();
            return 0;
        }
        if (waiting == static_cast<int>(len))
            break;
        fprintf(stderr, "velkador: read(): incorrect number of bytes available: %d/%d\n", waiting,
                static_cast<int>(len));
        Pause_Ms(RETRY_PAUSE_MS);
    }

    if (tries == MAX_TRIES) {
        tcflush(serial_fd, TCIOFLUSH);
        fprintf(stderr,
                "velkador: read(): incorrect number of bytes available: %d/%d after %d tries\n",
                waiting, static_cast<int>(len), MAX_TRIES);
    } else {
        ssize_t got = read(serial_fd, buf, len);
        if (got == static_cast<ssize_t>(len))
            return 1;
        tcflush(serial_fd, TCIOFLUSH);
        fprintf(stderr, "velkador: read() return value wrong: %d/%d\n", static_cast<int>(got),
                static_cast<int>(len));
    }

    if (len > 0)
        buf[0] = 0;
    Abort_Tcvr_Serial();
    return 0;
}

void Abort_Tcvr_Serial(void)
{
    // The port is left as it is (raw): a rig that stopped answering may
    // still be attached, and the next start configures it again.
    Close_Port();
    Clear_Flag(TCVR_SERIAL_OK | CAT_SETUP);
    Error_Dialog(_("Failed to Establish Transceiver CAT"));
}

void Emergency_Close_Tcvr_Serial(void)
{
    int fd = serial_fd;
    if (fd <= 0)
        return;
    // The settings were saved before either bit was set. TCSADRAIN lets the
    // CAT-off leave at the rig's speed before the old speed comes back.
    if ((flags & (TCVR_SERIAL_OK | CAT_SETUP)) != 0) {
        if ((flags & TCVR_SERIAL_OK) != 0 && rc_data.tcvr_type == TCVR_FT847) {
            ssize_t ignored = write(fd, FT847_CAT_OFF, sizeof(FT847_CAT_OFF));
            (void)ignored;
        }
        tcsetattr(fd, TCSADRAIN, &saved_termios);
    }
    close(fd);
    serial_fd = 0;
    flags &= ~(TCVR_SERIAL_OK | CAT_SETUP);
}
