// tests/support/process.h - runs a program as a child process with a given
// argv, environment and working directory (no shell), collects its standard
// output and error, sends it signals and reaps it, every wait bounded.
#ifndef VELKADOR_TESTS_PROCESS_H
#define VELKADOR_TESTS_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

// One child. A child still running when the record goes away is killed and
// reaped, so a failed assertion never leaves a program behind.
struct Child_Process {
    pid_t pid = -1;
    int out_fd = -1;  // read ends of the child's stdout and stderr pipes
    int err_fd = -1;
    std::string out;  // everything read so far
    std::string err;
    bool ended = false;
    int wait_status = 0;  // from waitpid, valid once ended

    Child_Process() = default;
    Child_Process(const Child_Process &) = delete;
    Child_Process &operator=(const Child_Process &) = delete;
    ~Child_Process();
};

// The outcome of a child: exit_status is -1 unless it exited, term_signal 0
// unless a signal ended it.
struct Process_Result {
    bool ended = false;
    int exit_status = -1;
    int term_signal = 0;
    std::string out;
    std::string err;
};

// The test process's own environment as NAME=value strings, and edits of it.
std::vector<std::string> Current_Environment(void);
void Set_Env(std::vector<std::string> &env, const std::string &name, const std::string &value);
void Unset_Env(std::vector<std::string> &env, const std::string &name);

// Full path of a program found in $PATH, or "" when there is none.
std::string Find_Program(const std::string &name);

// Starts argv[0] (a path, or a name looked up in $PATH) with exactly env as
// its environment, stdin from /dev/null, in cwd when it is not empty.
// false, with the reason in child.err, when it cannot be started.
bool Start_Process(Child_Process &child, const std::vector<std::string> &argv,
                   const std::vector<std::string> &env, const std::string &cwd = "");

// Reads output until the child has ended and its pipes are drained; false
// when it is still running after timeout_ms.
bool Wait_Process(Child_Process &child, int timeout_ms);

// Reads output until stderr contains text; false if the child ends or
// timeout_ms passes first.
bool Wait_For_Stderr(Child_Process &child, const std::string &text, int timeout_ms);

void Signal_Process(const Child_Process &child, int signum);

// SIGKILL and reap, for a child that must not outlive a failed test.
void Kill_Process(Child_Process &child);

Process_Result Result_Of(const Child_Process &child);

// Start, wait up to timeout_ms (killing the child past it), and report.
Process_Result Run_Process(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                           int timeout_ms, const std::string &cwd = "");

// Waits until the process pid has a visible top-level window on $DISPLAY
// (xdotool search --sync); when xdotool is missing, until the process has
// stayed alive for a bounded while. false when child ended or time ran out.
bool Wait_For_Window(Child_Process &child, int timeout_ms);

// Installs the build tree with `<cmake> --install` under prefix; false with
// cmake's output in *log on failure.
bool Stage_Install(const std::string &cmake, const std::string &prefix, std::string *log);

#endif
