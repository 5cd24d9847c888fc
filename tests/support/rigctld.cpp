// tests/support/rigctld.cpp - rigctld for the tests: the port is one the
// kernel just handed out, and the daemon counts as up only when the
// listening socket on it is among its own descriptors.
#include "support/rigctld.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr int START_TRIES = 5;
constexpr int START_TIMEOUT_S = 20;
constexpr int RIGCTL_TIMEOUT_MS = 20000;
constexpr int ANSWER_TIMEOUT_MS = 5000;

// Inode of the socket listening on 127.0.0.1:port, or 0.
unsigned long Listening_Inode(int port)
{
    FILE *fp = fopen("/proc/net/tcp", "r");
    if (fp == nullptr)
        return 0;
    char line[512];
    unsigned long found = 0;
    if (fgets(line, sizeof(line), fp) != nullptr) {  // header
        while (found == 0 && fgets(line, sizeof(line), fp) != nullptr) {
            unsigned int addr, lport, raddr, rport, state;
            unsigned long inode;
            if (sscanf(line, " %*d: %8X:%X %8X:%X %X %*s %*s %*s %*s %*s %lu", &addr, &lport, &raddr,
                       &rport, &state, &inode) == 6 &&
                addr == htonl(INADDR_LOOPBACK) && static_cast<int>(lport) == port && state == 0x0A)
                found = inode;
        }
    }
    fclose(fp);
    return found;
}

bool Holds_Socket(pid_t pid, unsigned long inode)
{
    std::string dir_path = "/proc/" + std::to_string(pid) + "/fd";
    DIR *dir = opendir(dir_path.c_str());
    if (dir == nullptr)
        return false;
    std::string wanted = "socket:[" + std::to_string(inode) + "]";
    bool held = false;
    while (const struct dirent *e = readdir(dir)) {
        char target[64];
        ssize_t n = readlink((dir_path + "/" + e->d_name).c_str(), target, sizeof(target) - 1);
        if (n > 0) {
            target[n] = '\0';
            held = held || wanted == target;
        }
    }
    closedir(dir);
    return held;
}

// A connection on which rigctld has answered "f" with a frequency, or -1.
int Serving_Connection(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    struct sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char answer[64] = "";
    ssize_t got = 0;
    if (connect(fd, reinterpret_cast<struct sockaddr *>(&sa), sizeof(sa)) == 0 &&
        write(fd, "f\n", 2) == 2) {
        struct pollfd pfd = {fd, POLLIN, 0};
        if (poll(&pfd, 1, ANSWER_TIMEOUT_MS) == 1)
            got = read(fd, answer, sizeof(answer) - 1);
    }
    if (got > 0 && answer[0] >= '0' && answer[0] <= '9')
        return fd;
    close(fd);
    return -1;
}

}  // namespace

Rigctld::~Rigctld()
{
    if (probe_fd >= 0)
        close(probe_fd);
}

int Free_Loopback_Port(void)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    struct sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sa);
    int port = 0;
    if (bind(fd, reinterpret_cast<struct sockaddr *>(&sa), sizeof(sa)) == 0 &&
        getsockname(fd, reinterpret_cast<struct sockaddr *>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    close(fd);
    return port;
}

bool Start_Rigctld(Rigctld &daemon, std::string *why)
{
    std::string program = Find_Program("rigctld");
    if (program.empty()) {
        *why = "rigctld is not installed (tools/install-deps installs libhamlib-utils)";
        return false;
    }
    for (int attempt = 0; attempt < START_TRIES; attempt++) {
        if (daemon.probe_fd >= 0)
            close(daemon.probe_fd);
        daemon.probe_fd = -1;
        daemon.child = std::make_unique<Child_Process>();
        daemon.port = Free_Loopback_Port();
        daemon.address = "127.0.0.1:" + std::to_string(daemon.port);
        if (!Start_Process(*daemon.child,
                           {program, "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(daemon.port)},
                           Current_Environment())) {
            *why = daemon.child->err;
            return false;
        }
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const time_t give_up = now.tv_sec + START_TIMEOUT_S;
        while (clock_gettime(CLOCK_MONOTONIC, &now) == 0 && now.tv_sec < give_up) {
            // Reads the daemon's output meanwhile; true once it has ended.
            if (Wait_Process(*daemon.child, 20))
                break;
            unsigned long inode = Listening_Inode(daemon.port);
            if (inode != 0 && Holds_Socket(daemon.child->pid, inode) &&
                (daemon.probe_fd = Serving_Connection(daemon.port)) >= 0)
                return true;
        }
        *why = "rigctld did not come up on port " + std::to_string(daemon.port) + ": " + daemon.child->err;
    }
    return false;
}

std::string Rigctl(const Rigctld &daemon, const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {"rigctl", "-m", "2", "-r", daemon.address};
    argv.insert(argv.end(), args.begin(), args.end());
    Process_Result r = Run_Process(argv, Current_Environment(), RIGCTL_TIMEOUT_MS);
    return r.exit_status == 0 ? r.out : "";
}
