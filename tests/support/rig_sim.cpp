// tests/support/rig_sim.cpp - simulated rigs on pseudo-terminals, a process
// that holds a port's lock, and a look into the error dialog.
#include "support/rig_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "core/shared.h"

namespace {

constexpr size_t BCD_LEN = 5;
// Neither dialect sends it: BCD digits, the opcodes and printable ASCII only.
constexpr uint8_t SYNC_MARK = 0xFE;

bool Is_Bcd_Rig(int tcvr_type)
{
    return tcvr_type == TCVR_FT847 || tcvr_type == TCVR_FT857;
}

std::vector<uint8_t> Bcd_Answer(int64_t freq_hz)
{
    std::vector<uint8_t> answer(BCD_LEN);
    int64_t tens = freq_hz / 10;
    for (int i = 3; i >= 0; i--) {
        int low = static_cast<int>(tens % 10);
        tens /= 10;
        int high = static_cast<int>(tens % 10);
        tens /= 10;
        answer[i] = static_cast<uint8_t>(high << 4 | low);
    }
    answer[4] = 0x83;  // mode byte, not looked at by the program
    return answer;
}

}  // namespace

Rig_Sim::Rig_Sim(int tcvr_type, int64_t freq_hz) : tcvr_type_(tcvr_type), freq_hz_(freq_hz)
{
    master_fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_fd_ < 0 || grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0) {
        ADD_FAILURE() << "posix_openpt: " << strerror(errno);
        return;
    }
    path_ = ptsname(master_fd_);
    slave_fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_fd_ < 0) {
        ADD_FAILURE() << "open " << path_ << ": " << strerror(errno);
        return;
    }
    // A cooked line at 9600 baud: plainly unlike what the program sets.
    struct termios tio;
    tcgetattr(slave_fd_, &tio);
    tio.c_lflag |= ICANON | ECHO;
    cfsetspeed(&tio, B9600);
    tcsetattr(slave_fd_, TCSANOW, &tio);
    thread_ = std::thread([this] { Run(); });
}

Rig_Sim::~Rig_Sim()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (slave_fd_ >= 0)
        close(slave_fd_);
    if (master_fd_ >= 0)
        close(master_fd_);
}

void Rig_Sim::Hang_Up(void)
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (master_fd_ >= 0)
        close(master_fd_);
    master_fd_ = -1;
}

void Rig_Sim::Set_Fault(Rig_Fault fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fault_ = fault;
}

void Rig_Sim::Set_Answer_Delay_Ms(int ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    delay_ms_ = ms;
}

std::vector<uint8_t> Rig_Sim::Received(void)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void Rig_Sim::Clear_Received(void)
{
    std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
}

bool Rig_Sim::Wait_For_Bytes(size_t n, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (received_.size() >= n)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return received_.size() >= n;
}

bool Rig_Sim::Sync(int timeout_ms)
{
    int wanted;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wanted = ++syncs_sent_;
    }
    // The program's writes and this one go through the same slave in order.
    uint8_t mark = SYNC_MARK;
    if (write(slave_fd_, &mark, 1) != 1)
        return false;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (syncs_seen_ >= wanted)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void Rig_Sim::Inject(const std::vector<uint8_t> &bytes)
{
    ssize_t n = write(master_fd_, bytes.data(), bytes.size());
    EXPECT_EQ(n, static_cast<ssize_t>(bytes.size()));
}

int64_t Rig_Sim::Freq(void)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return freq_hz_;
}

int Rig_Sim::Commands_Answered(void)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return answered_;
}

struct termios Rig_Sim::Slave_Termios(void)
{
    struct termios tio = {};
    tcgetattr(slave_fd_, &tio);
    return tio;
}

void Rig_Sim::Run(void)
{
    uint8_t chunk[256];
    while (!stop_) {
        struct pollfd pfd = {master_fd_, POLLIN, 0};
        if (poll(&pfd, 1, 10) <= 0 || (pfd.revents & POLLIN) == 0)
            continue;
        ssize_t n = read(master_fd_, chunk, sizeof(chunk));
        if (n <= 0)
            continue;

        // Commands are cut from the byte stream by the dialect's framing:
        // five bytes, or up to the ';'.
        std::vector<std::vector<uint8_t>> commands;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (ssize_t i = 0; i < n; i++) {
                if (chunk[i] == SYNC_MARK && syncs_seen_ < syncs_sent_) {
                    syncs_seen_++;
                    continue;
                }
                received_.push_back(chunk[i]);
                pending_.push_back(chunk[i]);
                bool complete = Is_Bcd_Rig(tcvr_type_) ? pending_.size() == BCD_LEN : chunk[i] == ';';
                if (complete) {
                    commands.push_back(pending_);
                    pending_.clear();
                }
            }
        }
        for (const auto &cmd : commands)
            Handle_Command(cmd);
    }
}

void Rig_Sim::Handle_Command(const std::vector<uint8_t> &cmd)
{
    if (Is_Bcd_Rig(tcvr_type_)) {
        uint8_t opcode = cmd[4];
        if (opcode == 0x03) {
            Answer(cmd, Bcd_Answer(Freq()));
        } else if (opcode == 0x01) {
            int64_t tens = 0;
            for (int i = 0; i < 4; i++)
                tens = tens * 100 + (cmd[i] >> 4) * 10 + (cmd[i] & 0x0f);
            std::lock_guard<std::mutex> lock(mutex_);
            freq_hz_ = tens * 10;
        }
        return;
    }

    std::string text(cmd.begin(), cmd.end());
    if (text == "FA;") {
        char answer[32];
        snprintf(answer, sizeof(answer), "FA%011lld;", static_cast<long long>(Freq()));
        Answer(cmd, Text_Bytes(answer));
    } else if (text.size() == 14 && text.compare(0, 2, "FA") == 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        freq_hz_ = atoll(text.c_str() + 2);
    } else if (text == "K31;" && tcvr_type_ == TCVR_K3) {
        std::lock_guard<std::mutex> lock(mutex_);
        k3_mode_ = 1;
    } else if (text == "K3;" && tcvr_type_ == TCVR_K3) {
        int mode;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            mode = fault_ == Rig_Fault::WRONG_K3 ? 0 : k3_mode_;
        }
        Answer(cmd, Text_Bytes(mode == 1 ? "K31;" : "K30;"));
    }
}

void Rig_Sim::Answer(const std::vector<uint8_t> &cmd, std::vector<uint8_t> answer)
{
    Rig_Fault fault;
    int delay_ms;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fault = fault_;
        delay_ms = delay_ms_;
    }
    switch (fault) {
    case Rig_Fault::NO_ANSWER:
        return;
    case Rig_Fault::ECHO_FIRST:
        answer.insert(answer.begin(), cmd.begin(), cmd.end());
        break;
    case Rig_Fault::SHORT_ANSWER:
        answer.pop_back();
        break;
    case Rig_Fault::GARBAGE_DIGITS:
        if (Is_Bcd_Rig(tcvr_type_))
            answer[1] = static_cast<uint8_t>(answer[1] | 0x0a);  // low nibble above 9
        else if (answer.size() == 14)
            answer[7] = 'x';
        break;
    default:
        break;
    }
    if (delay_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    ssize_t n = write(master_fd_, answer.data(), answer.size());
    (void)n;
    std::lock_guard<std::mutex> lock(mutex_);
    answered_++;
}

std::string Hex_Bytes(const std::vector<uint8_t> &bytes)
{
    std::string out;
    char hex[4];
    for (uint8_t b : bytes) {
        snprintf(hex, sizeof(hex), "%02X", b);
        if (!out.empty())
            out += ' ';
        out += hex;
    }
    return out;
}

std::vector<uint8_t> Text_Bytes(const char *text)
{
    return std::vector<uint8_t>(text, text + strlen(text));
}

Lock_Holder::Lock_Holder(const std::string &path)
{
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return;
    }
    pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls: the parent has threads.
        close(ready[0]);
        close(release[1]);
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        char ok = (fd >= 0 && fcntl(fd, F_SETLK, &fl) == 0) ? '1' : '0';
        if (write(ready[1], &ok, 1) != 1)
            _exit(1);
        char c;
        while (read(release[0], &c, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_fd = release[1];
    char ok = '0';
    locked = pid > 0 && read(ready[0], &ok, 1) == 1 && ok == '1';
    close(ready[0]);
}

Lock_Holder::~Lock_Holder()
{
    if (release_fd >= 0)
        close(release_fd);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
}

void Point_Cat_At(const Rig_Sim &sim, int tcvr_type)
{
    Strlcpy(rc_data.cat_serial, sim.Path().c_str(), sizeof(rc_data.cat_serial));
    rc_data.tcvr_type = tcvr_type;
}
