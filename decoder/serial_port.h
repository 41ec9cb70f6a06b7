// The receiver's port: a serial device opened exclusively at 19200 8N1 raw, or
// a recorded receiver stream (a regular file or a FIFO) opened read-only.
#pragma once

#include <string>

namespace quorvel {

constexpr int kBaudRate = 19200;

struct Port {
    int fd = -1;           // -1: no port (empty port name)
    bool recorded = false; // a capture: read-only, no end-of-packet bytes, ends at EOF
    std::string name;      // as the user gave it ("COM7"); reopened by it
    std::string device;    // the resolved path
    std::string lock_path; // LCK..<device> file we created; removed by close_port
    int lock_fd = -1;      // held open (and flock'ed) while the lock file is ours
};

// Resolves the name (common::resolve_port_name) and opens it. Returns false
// when it cannot be opened (or is locked by another program). A device's fd is
// non-blocking, so reads return at once with what has arrived and writes take
// what fits; a recorded stream's fd blocks (a regular file never waits, a FIFO
// waits for its writer).
bool open_port(const std::string& name, Port& port);

// Closes the port and removes its lock file. Safe to call more than once.
void close_port(Port& port);

// The lock file other serial programs look for before opening device, named
// and placed as QSerialPort does: the real device path without "/dev/", each
// "/" as "_", behind "LCK.." ("/dev/pts/3" gives LCK..pts_3), in the first
// readable lock folder that already holds it or can take it. Empty when no
// folder can (the port is then opened unlocked).
std::string lock_file_path(const std::string& device);

} // namespace quorvel
