// tests/support/rigctld.h - a real rigctld serving Hamlib's dummy rig on a
// free loopback port, started by a test and killed with its record, and
// rigctl run against it.
#ifndef VELKADOR_TESTS_RIGCTLD_H
#define VELKADOR_TESTS_RIGCTLD_H

#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

struct Rigctld {
    std::unique_ptr<Child_Process> child;  // killed and reaped with the record
    int port = 0;
    std::string address;  // "127.0.0.1:<port>", for rc_data.cat_serial
    int probe_fd = -1;    // the connection that found it serving, kept open

    Rigctld() = default;
    Rigctld(const Rigctld &) = delete;
    Rigctld &operator=(const Rigctld &) = delete;
    ~Rigctld();
};

// Starts rigctld -m 1 on a loopback port and returns once it answers a
// frequency query there, the listening socket being its own (a port taken
// meanwhile by another process means a new port). false with the reason.
// A rigctld under load has been seen to reset a client that came just
// after the first one had left, so the probing client stays connected.
bool Start_Rigctld(Rigctld &daemon, std::string *why);

// Standard output of rigctl -m 2 -r <address> args..., "" when it fails.
std::string Rigctl(const Rigctld &daemon, const std::vector<std::string> &args);

// A loopback port that nothing listens on at the moment.
int Free_Loopback_Port(void);

#endif
