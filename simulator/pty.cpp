#include "simulator/pty.h"

#include "common/port_names.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace sondrel {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        fail("posix_openpt");
    }
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name)) {
        ::close(master_);
        fail("pseudo-terminal set-up");
    }
    device_ = name;
    // Opening and closing the device side once makes the master report
    // POLLHUP until a reader opens it: before the first open it would not.
    int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        ::close(master_);
        fail("open pseudo-terminal device");
    }
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B19200);
        cfsetospeed(&tio, B19200);
        tcsetattr(slave, TCSANOW, &tio);
    }
    ::close(slave);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal() {
    if (master_ >= 0) {
        ::close(master_);
    }
}

bool PseudoTerminal::reader_present() const {
    pollfd p{master_, POLLOUT, 0};
    if (poll(&p, 1, 0) < 0) {
        return false;
    }
    return (p.revents & POLLHUP) == 0;
}

PortLink::PortLink(const std::string& name, const std::string& target) : target_(target) {
    namespace fs = std::filesystem;
    const std::optional<int> number = common::com_port_number(name);
    if (!number) {
        throw std::invalid_argument("port name must be COMn: " + name);
    }
    const fs::path folder = common::port_map_folder();
    fs::create_directories(folder);
    // "com5" is COM5 to the resolver, which looks the entry up as "COM5".
    path_ = folder / ("COM" + std::to_string(*number));
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path_, ec);
    if (fs::exists(status)) {
        // A link left by a simulator that was killed is replaced; anything
        // else belongs to the user.
        if (!fs::is_symlink(status)) {
            throw std::runtime_error(path_.string() + " exists and is not a link");
        }
        fs::remove(path_);
    }
    fs::create_symlink(target, path_);
}

PortLink::~PortLink() {
    std::error_code ec;
    if (std::filesystem::read_symlink(path_, ec) == target_ && !ec) {
        std::filesystem::remove(path_, ec);
    }
}

} // namespace sondrel
