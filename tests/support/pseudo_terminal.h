// A pseudo-terminal standing in for a serial device: the test holds the
// master side and plays the receiver; the program under test opens device().
#pragma once

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace harness {

class PseudoTerminal {
public:
    // Kernel defaults on the device side (IXON, ICANON, ECHO, ... on), as a
    // freshly plugged serial device has them, unless raw is asked for.
    explicit PseudoTerminal(bool raw = false) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            return;
        }
        device_ = ::ptsname(master_);
        if (raw) {
            termios tio{};
            ::tcgetattr(master_, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(master_, TCSANOW, &tio);
        }
    }
    ~PseudoTerminal() { close(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }
    const std::string& device() const { return device_; }

    // The receiver goes away: the device side sees a hang-up.
    void close() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    bool write(const std::string& bytes) const {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // What the program wrote back, until count bytes came or the deadline passed.
    std::string read_back(std::size_t count, int seconds = 20) const {
        std::string bytes;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            char chunk[256];
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t n = ::read(master_, chunk, sizeof chunk);
                if (n > 0) {
                    bytes.append(chunk, static_cast<std::size_t>(n));
                }
            }
        }
        return bytes;
    }

private:
    int master_ = -1;
    std::string device_;
};

} // namespace harness
