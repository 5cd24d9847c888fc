// tests/support/process.cpp - child processes for the tests: fork and execve
// without a shell, pipes read with poll, every wait bounded by a deadline.
#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

extern char **environ;

namespace {

constexpr int SLICE_MS = 20;  // longest single poll, so waitpid runs often

long long Now_Ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Close_Fd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void Reap(Child_Process &child, bool block)
{
    if (child.pid <= 0 || child.ended)
        return;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(child.pid, &status, block ? 0 : WNOHANG);
    } while (r == -1 && errno == EINTR);
    if (r == child.pid) {
        child.ended = true;
        child.wait_status = status;
    } else if (r == -1) {
        child.ended = true;  // not ours any more (reaped elsewhere)
        child.wait_status = 0;
    }
}

// Reads whatever the pipes hold, waiting at most wait_ms, then reaps.
void Pump(Child_Process &child, int wait_ms)
{
    struct pollfd fds[2];
    int n = 0;
    int *owners[2];
    std::string *sinks[2];
    if (child.out_fd >= 0) {
        fds[n] = {child.out_fd, POLLIN, 0};
        owners[n] = &child.out_fd;
        sinks[n++] = &child.out;
    }
    if (child.err_fd >= 0) {
        fds[n] = {child.err_fd, POLLIN, 0};
        owners[n] = &child.err_fd;
        sinks[n++] = &child.err;
    }
    if (n == 0) {
        if (!child.ended && wait_ms > 0)
            usleep(static_cast<useconds_t>(wait_ms) * 1000);
        Reap(child, false);
        return;
    }
    int ready = poll(fds, static_cast<nfds_t>(n), wait_ms);
    if (ready > 0) {
        for (int i = 0; i < n; i++) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            char buf[4096];
            ssize_t got = read(fds[i].fd, buf, sizeof(buf));
            if (got > 0)
                sinks[i]->append(buf, static_cast<size_t>(got));
            else if (got == 0 || errno != EINTR)
                Close_Fd(*owners[i]);
        }
    }
    Reap(child, false);
}

bool Drained(const Child_Process &child)
{
    return child.out_fd < 0 && child.err_fd < 0;
}

}  // namespace

Child_Process::~Child_Process()
{
    Kill_Process(*this);
    Close_Fd(out_fd);
    Close_Fd(err_fd);
}

std::vector<std::string> Current_Environment(void)
{
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; e++)
        env.emplace_back(*e);
    return env;
}

void Unset_Env(std::vector<std::string> &env, const std::string &name)
{
    const std::string prefix = name + "=";
    for (auto it = env.begin(); it != env.end();) {
        if (it->compare(0, prefix.size(), prefix) == 0)
            it = env.erase(it);
        else
            ++it;
    }
}

void Set_Env(std::vector<std::string> &env, const std::string &name, const std::string &value)
{
    Unset_Env(env, name);
    env.push_back(name + "=" + value);
}

std::string Find_Program(const std::string &name)
{
    const char *path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty())
            dir = ".";
        std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

bool Start_Process(Child_Process &child, const std::vector<std::string> &argv,
                   const std::vector<std::string> &env, const std::string &cwd)
{
    if (argv.empty()) {
        child.err = "Start_Process: empty argv";
        return false;
    }
    std::string program = argv[0];
    if (program.find('/') == std::string::npos)
        program = Find_Program(program);
    if (program.empty()) {
        child.err = "Start_Process: " + argv[0] + " not found in PATH";
        return false;
    }

    // Everything the child needs is built before fork: after it, only
    // async-signal-safe calls.
    std::vector<char *> c_argv;
    for (const auto &a : argv)
        c_argv.push_back(const_cast<char *>(a.c_str()));
    c_argv.push_back(nullptr);
    std::vector<char *> c_env;
    for (const auto &e : env)
        c_env.push_back(const_cast<char *>(e.c_str()));
    c_env.push_back(nullptr);

    int out_pipe[2], err_pipe[2], exec_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0)
        return false;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return false;
    }
    if (pipe2(exec_pipe, O_CLOEXEC) != 0) {
        for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        return false;
    }
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t parent = getpid();

    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT})
            signal(s, SIG_DFL);
        if (null_fd >= 0)
            dup2(null_fd, STDIN_FILENO);
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            int e = errno;
            ssize_t w = write(exec_pipe[1], &e, sizeof(e));
            (void)w;
            _exit(127);
        }
        execve(program.c_str(), c_argv.data(), c_env.data());
        int e = errno;
        ssize_t w = write(exec_pipe[1], &e, sizeof(e));
        (void)w;
        _exit(127);
    }

    if (null_fd >= 0)
        close(null_fd);
    close(out_pipe[1]);
    close(err_pipe[1]);
    close(exec_pipe[1]);
    if (pid < 0) {
        child.err = std::string("fork: ") + strerror(errno);
        close(out_pipe[0]);
        close(err_pipe[0]);
        close(exec_pipe[0]);
        return false;
    }

    // The exec pipe closes on a successful execve; otherwise it carries errno.
    int exec_errno = 0;
    ssize_t got;
    do {
        got = read(exec_pipe[0], &exec_errno, sizeof(exec_errno));
    } while (got == -1 && errno == EINTR);
    close(exec_pipe[0]);

    child.pid = pid;
    child.out_fd = out_pipe[0];
    child.err_fd = err_pipe[0];
    child.ended = false;
    child.out.clear();
    child.err.clear();
    if (got > 0) {
        Reap(child, true);
        child.err = "Start_Process: cannot run " + program + ": " + strerror(exec_errno);
        return false;
    }
    return true;
}

bool Wait_Process(Child_Process &child, int timeout_ms)
{
    long long deadline = Now_Ms() + timeout_ms;
    while (!(child.ended && Drained(child))) {
        long long left = deadline - Now_Ms();
        if (left <= 0)
            break;
        Pump(child, static_cast<int>(left < SLICE_MS ? left : SLICE_MS));
    }
    // A descendant may still hold the pipes open; what was read is kept.
    if (child.ended) {
        Close_Fd(child.out_fd);
        Close_Fd(child.err_fd);
    }
    return child.ended;
}

bool Wait_For_Stderr(Child_Process &child, const std::string &text, int timeout_ms)
{
    long long deadline = Now_Ms() + timeout_ms;
    while (child.err.find(text) == std::string::npos) {
        if (child.ended && Drained(child))
            return false;
        long long left = deadline - Now_Ms();
        if (left <= 0)
            return false;
        Pump(child, static_cast<int>(left < SLICE_MS ? left : SLICE_MS));
    }
    return true;
}

void Signal_Process(const Child_Process &child, int signum)
{
    if (child.pid > 0 && !child.ended)
        kill(child.pid, signum);
}

void Kill_Process(Child_Process &child)
{
    if (child.pid <= 0 || child.ended)
        return;
    kill(child.pid, SIGKILL);
    Reap(child, true);
}

Process_Result Result_Of(const Child_Process &child)
{
    Process_Result r;
    r.ended = child.ended;
    if (child.ended && WIFEXITED(child.wait_status))
        r.exit_status = WEXITSTATUS(child.wait_status);
    if (child.ended && WIFSIGNALED(child.wait_status))
        r.term_signal = WTERMSIG(child.wait_status);
    r.out = child.out;
    r.err = child.err;
    return r;
}

Process_Result Run_Process(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                           int timeout_ms, const std::string &cwd)
{
    Child_Process child;
    if (!Start_Process(child, argv, env, cwd)) {
        Process_Result r;
        r.err = child.err;
        return r;
    }
    if (!Wait_Process(child, timeout_ms)) {
        Process_Result r = Result_Of(child);
        Kill_Process(child);
        return r;
    }
    return Result_Of(child);
}

bool Wait_For_Window(Child_Process &child, int timeout_ms)
{
    long long deadline = Now_Ms() + timeout_ms;
    std::string xdotool = Find_Program("xdotool");
    if (xdotool.empty()) {
        // No way to see the window: a program that stays up for a while
        // with its main loop running is taken as started.
        long long settle = Now_Ms() + (timeout_ms < 3000 ? timeout_ms : 3000);
        while (!child.ended && Now_Ms() < settle)
            Pump(child, SLICE_MS);
        return !child.ended;
    }

    // xdotool is started again when it gives up early, e.g. on a display
    // that refuses one more client for a moment.
    std::string why;
    while (Now_Ms() < deadline) {
        Child_Process search;
        std::vector<std::string> argv = {xdotool, "search", "--sync", "--onlyvisible",
                                         "--pid", std::to_string(child.pid)};
        if (!Start_Process(search, argv, Current_Environment())) {
            why = search.err;
            break;
        }
        while (Now_Ms() < deadline && !(search.ended && Drained(search))) {
            Pump(child, 0);
            if (child.ended) {
                child.err += "[Wait_For_Window: the program ended]\n";
                return false;
            }
            Pump(search, SLICE_MS);
        }
        Process_Result r = Result_Of(search);
        if (r.exit_status == 0 && !r.out.empty())
            return true;
        why = "xdotool status " + std::to_string(r.exit_status) + ": " + r.out + r.err;
        if (!r.ended)
            break;
        Pump(child, 100);
    }
    child.err += "[Wait_For_Window: no window; " + (why.empty() ? "timed out" : why) + "]\n";
    return false;
}

bool Stage_Install(const std::string &cmake, const std::string &prefix, std::string *log)
{
    Process_Result r = Run_Process({cmake, "--install", VELKADOR_BINARY_DIR, "--prefix", prefix},
                                   Current_Environment(), 120000);
    if (log != nullptr)
        *log = r.out + r.err;
    return r.exit_status == 0;
}
