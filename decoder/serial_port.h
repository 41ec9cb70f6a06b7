// The receiver's port: a serial device opened exclusively at 19200 8N1 raw, or
// a recorded receiver stream (a regular file or a FIFO) opened read-only.
#pragma once

#include <string>

namespace quorvel {

constexpr int kBaudRate = 19200;

struct Port {
    int fd = -1;            // -1: no port (empty port name)
    bool recorded = false;  // a capture: read-only, no end-of-packet bytes, ends at EOF
    std::string device;     // the resolved path
    std::string lock_path;  // LCK..<device> file we created; removed by close_port
};

// Resolves the name (common::resolve_port_name) and opens it. Returns false
// when it cannot be opened (or is locked by another program).
bool open_port(const std::string& name, Port& port);

// Closes the port and removes its lock file. Safe to call more than once.
void close_port(Port& port);

} // namespace quorvel
