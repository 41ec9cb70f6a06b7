// The receiver's port: a serial device opened exclusively at 19200 8N1 raw, or
// a recorded receiver stream (a regular file or a FIFO) opened read-only.
#pragma once

#include <string>

namespace quorvel {

constexpr int kBaudRate = 19200;

struct Port {
    int fd = -1;           // -1: no port (empty port name)
    bool recorded = false; // a capture: read-only, no end-of-packet bytes, ends at EOF
    std::string device;    // the resolved path
    std::string lock_path; // LCK..<device> file we created; removed by close_port
    int lock_fd = -1;      // held open (and flock'ed) while the lock file is ours
};

// Resolves the name (common::resolve_port_name) and opens it. Returns false
// when it cannot be opened (or is locked by another program). A device's fd is
// non-blocking, so reads return at once with what has arrived; a recorded
// stream's fd blocks (a regular file never waits, a FIFO waits for its writer).
bool open_port(const std::string& name, Port& port);

// Closes the port and removes its lock file. Safe to call more than once.
void close_port(Port& port);

// The folder for serial lock files: /var/lock or /run/lock, whichever is a
// writable folder; empty when neither is (the port is then opened unlocked).
std::string lock_directory();

} // namespace quorvel
