// tests/fuzz/fuzz_rig.cpp - rig answers of every dialect, as the start-up
// exchange, Read_Tcvr_Serial and click-to-tune see them. The program talks
// to a real pseudo-terminal; the rig is this harness on its master side.
//
// The link's pauses (nanosleep, wrapped at link time) are when the rig
// answers: each pause delivers the next chunk of the input to the port
// instead of sleeping. The program's bytes are read off the master. The first byte picks the rig and how many clicks
// follow the start-up, the next two the click positions; the rest is
// chunks, each a length byte and that many bytes.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cat/frequency.h"
#include "cat/rigs.h"
#include "cat/serial.h"
#include "core/shared.h"
#include "display/waterfall.h"
#include "fuzz_shared.h"

namespace {

int master_fd = -1;
int slave_fd = -1;  // held open, so the line never hangs up between runs

const uint8_t *input = nullptr;
size_t input_left = 0;
bool in_run = false;

void Drain_Master(void)
{
    uint8_t sink[256];
    while (read(master_fd, sink, sizeof(sink)) > 0) {
    }
}

// The rig's next answer, put into the port's input queue (TIOCSTI) before
// the pause ends, as it would arrive during a real 50 ms wait. Written to
// the master instead, the bytes would reach the port only when the kernel
// gets round to it, and a run could not be replayed.
void Answer_Next_Chunk(void)
{
    Drain_Master();
    if (input_left == 0)
        return;
    size_t len = input[0] % 32;
    input++;
    input_left--;
    if (len > input_left)
        len = input_left;
    for (size_t i = 0; i < len; i++) {
        if (ioctl(Tcvr_Serial_Fd(), TIOCSTI, &input[i]) == -1) {
            perror("fuzz_rig: TIOCSTI");
            abort();
        }
    }
    input += len;
    input_left -= len;
}

}  // namespace

extern "C" int __real_nanosleep(const struct timespec *, struct timespec *);

extern "C" int __wrap_nanosleep(const struct timespec *req, struct timespec *rem)
{
    if (!in_run)
        return __real_nanosleep(req, rem);
    Answer_Next_Chunk();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    master_fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_fd < 0 || grantpt(master_fd) != 0 || unlockpt(master_fd) != 0) {
        perror("fuzz_rig: posix_openpt");
        abort();
    }
    Strlcpy(rc_data.cat_serial, ptsname(master_fd), sizeof(rc_data.cat_serial));
    slave_fd = open(rc_data.cat_serial, O_RDWR | O_NOCTTY);
    if (slave_fd < 0) {
        perror(rc_data.cat_serial);
        abort();
    }
    // A waterfall line for click-to-tune: 511 entries with one peak.
    wfall_width = 511;
    bin_ave = static_cast<int32_t *>(calloc(wfall_width, sizeof(int32_t)));
    bin_ave[300] = 200;
    rc_data.tone_freq = 800;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    static const int32_t rigs[] = {TCVR_FT847, TCVR_FT857, TCVR_K2, TCVR_K3};
    rc_data.tcvr_type = rigs[data[0] % 4];
    const int clicks = (data[0] >> 2) % 3;
    const double click_x[] = {static_cast<double>(data[1]) * 2.0, static_cast<double>(data[2]) * 2.0};
    rc_data.rx_freq = 7030000;
    input = data + 3;
    input_left = size - 3;
    in_run = true;
    Drain_Master();
    tcflush(slave_fd, TCIOFLUSH);

    if (Open_Tcvr_Serial()) {
        for (int i = 0; i < clicks && isFlagSet(TCVR_SERIAL_OK); i++) {
            Tune_Tcvr(click_x[i]);
            // Whatever the rig said, the program keeps to what a command can carry.
            if (rc_data.rx_freq < 0 || rc_data.rx_freq > MAX_BCD_FREQ)
                abort();
        }
    }
    Close_Tcvr_Serial();
    Clear_Flag(TCVR_SERIAL_OK | CAT_SETUP);
    in_run = false;
    return 0;
}
