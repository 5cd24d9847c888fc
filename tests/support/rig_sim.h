// tests/support/rig_sim.h - simulated rigs on pseudo-terminals. The program
// opens the slave's path like a real port; a thread on the master side
// speaks the rig's dialect, records every byte it receives, answers after
// a set delay, and misbehaves on request.
#ifndef VELKADOR_TESTS_RIG_SIM_H
#define VELKADOR_TESTS_RIG_SIM_H

#include <termios.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class Rig_Fault {
    NONE,
    NO_ANSWER,      // records commands, never answers
    ECHO_FIRST,     // echoes the command in front of the answer
    SHORT_ANSWER,   // leaves the answer's last byte out
    WRONG_K3,       // answers "K3;" with "K30;"
    GARBAGE_DIGITS  // a frequency answer of the right length that is no number
};

class Rig_Sim {
public:
    // tcvr_type is a TCVR_* code; it chooses the dialect (5-byte or ASCII).
    Rig_Sim(int tcvr_type, int64_t freq_hz);
    ~Rig_Sim();
    Rig_Sim(const Rig_Sim &) = delete;
    Rig_Sim &operator=(const Rig_Sim &) = delete;

    // The slave's path, for rc_data.cat_serial.
    const std::string &Path(void) const { return path_; }

    void Set_Fault(Rig_Fault fault);
    void Set_Answer_Delay_Ms(int ms);

    // Every byte received so far.
    std::vector<uint8_t> Received(void);
    void Clear_Received(void);
    // Waits until at least n bytes were received; false on timeout.
    bool Wait_For_Bytes(size_t n, int timeout_ms = 10000);
    // Returns once every byte written to the port before the call has been
    // received: a marker byte that no command holds goes down the same line
    // behind them. False on timeout.
    bool Sync(int timeout_ms = 10000);

    // The adapter is pulled: the master side closes, so the program's port
    // is hung up (its reads and writes fail) while the program holds it.
    void Hang_Up(void);

    // Bytes the rig sends without being asked.
    void Inject(const std::vector<uint8_t> &bytes);

    int64_t Freq(void);
    // Commands that went out to the rig and what it answers with.
    int Commands_Answered(void);

    // The terminal settings as the slave has them now.
    struct termios Slave_Termios(void);

private:
    void Run(void);
    void Handle_Command(const std::vector<uint8_t> &cmd);
    void Answer(const std::vector<uint8_t> &cmd, std::vector<uint8_t> answer);

    int tcvr_type_;
    int master_fd_ = -1;
    int slave_fd_ = -1;  // held open so the master never sees a hang-up
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    std::mutex mutex_;
    std::vector<uint8_t> received_;
    std::vector<uint8_t> pending_;
    int64_t freq_hz_;
    Rig_Fault fault_ = Rig_Fault::NONE;
    int delay_ms_ = 0;
    int k3_mode_ = 0;
    int answered_ = 0;
    int syncs_sent_ = 0;
    int syncs_seen_ = 0;
};

// Bytes as "00 70 30 12 01" or, for ASCII, the text itself.
std::string Hex_Bytes(const std::vector<uint8_t> &bytes);
std::vector<uint8_t> Text_Bytes(const char *text);

// A child process holding a write lock on path until the object goes.
struct Lock_Holder {
    explicit Lock_Holder(const std::string &path);
    ~Lock_Holder();
    pid_t pid = -1;
    bool locked = false;
    int release_fd = -1;
};

// Sets up rc_data for a link to sim: port path and rig type.
void Point_Cat_At(const Rig_Sim &sim, int tcvr_type);

#endif
