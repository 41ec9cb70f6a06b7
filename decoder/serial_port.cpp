#include "decoder/serial_port.h"

#include "common/port_names.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace quorvel {

namespace {

std::string base_name(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Where QSerialPort looks for lock files, in its order; the temporary folder
// comes last.
constexpr const char* kLockFolders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                        "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                        "/var/lock/lockdev", "/run/lock"};

// A port-map link and the device itself must share one lock.
std::string lock_file_name(const std::string& device) {
    char real[PATH_MAX];
    std::string path = ::realpath(device.c_str(), real) != nullptr ? real : device;
    if (path.rfind("/dev/", 0) == 0) {
        path.erase(0, 5);
    }
    std::replace(path.begin(), path.end(), '/', '_');
    return "LCK.." + path;
}

bool is_directory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string first_line_of(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string own_program_name() {
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        return "quorvel";
    }
    exe[n] = '\0';
    return base_name(exe);
}

// The machine's id as Qt reads it for lock files.
std::string machine_id() {
    for (const char* path :
         {"/var/lib/dbus/machine-id", "/usr/local/var/lib/dbus/machine-id", "/etc/machine-id"}) {
        const std::string id = first_line_of(path);
        if (!id.empty()) {
            return id;
        }
    }
    return {};
}

// QLockFile's lines: pid, program name, host name, machine id, boot id. Tools
// that only read a leading (possibly blank-padded) pid read it too.
std::string lock_contents() {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return std::to_string(::getpid()) + "\n" + own_program_name() + "\n" + host + "\n" +
           machine_id() + "\n" + first_line_of("/proc/sys/kernel/random/boot_id") + "\n";
}

// Both kinds of lock QLockFile takes, so that it can never remove our file
// as stale while we hold it.
void hold_lock(int fd) {
    ::flock(fd, LOCK_EX | LOCK_NB);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    ::fcntl(fd, F_SETLK, &whole);
}

bool process_alive(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// A lock file whose owner is gone, and which nobody holds with flock.
bool remove_if_stale(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;
    }
    char text[64] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    bool removed = false;
    if (!process_alive(pid) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        removed = ::unlink(path.c_str()) == 0;
    }
    ::close(fd);
    return removed;
}

// Creates the LCK.. file; false when another live program holds the device.
bool take_lock(Port& port) {
    const std::string path = lock_file_path(port.device);
    if (path.empty()) {
        return true;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            hold_lock(fd);
            const std::string text = lock_contents();
            if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
                ::close(fd);
                ::unlink(path.c_str());
                return false;
            }
            port.lock_path = path;
            port.lock_fd = fd;
            return true;
        }
        if (errno != EEXIST || !remove_if_stale(path)) {
            return false;
        }
    }
    return false;
}

void release_lock(Port& port) {
    if (!port.lock_path.empty()) {
        ::unlink(port.lock_path.c_str());
        port.lock_path.clear();
    }
    if (port.lock_fd >= 0) {
        ::close(port.lock_fd);
        port.lock_fd = -1;
    }
}

// 19200 8N1, no parity checking, raw bytes. Software flow control is off:
// 0x11 and 0x13 are data here, and a stray 0x13 would stop our end-of-packet
// bytes. Hardware flow control and the modem lines stay as the driver had
// them. Results are ignored: a device that refuses a setting is used with
// what it accepted.
void configure_line(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return;
    }
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8;
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR |
                                          IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
}

bool open_device(Port& port) {
    if (!take_lock(port)) {
        return false;
    }
    port.fd = ::open(port.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.fd < 0) {
        release_lock(port);
        return false;
    }
    // Refuses further opens by unprivileged programs while we hold the port.
    ::ioctl(port.fd, TIOCEXCL);
    configure_line(port.fd);
    return true;
}

} // namespace

std::string lock_file_path(const std::string& device) {
    const std::string name = "/" + lock_file_name(device);
    std::vector<std::string> folders(std::begin(kLockFolders), std::end(kLockFolders));
    const char* temp = std::getenv("TMPDIR");
    folders.push_back(temp != nullptr && *temp != '\0' ? temp : "/tmp");
    for (const std::string& folder : folders) {
        const std::string path = folder + name;
        if (is_directory(folder) && ::access(folder.c_str(), R_OK) == 0 &&
            (::access(path.c_str(), F_OK) == 0 || ::access(folder.c_str(), W_OK) == 0)) {
            return path;
        }
    }
    return {};
}

bool open_port(const std::string& name, Port& port) {
    port = Port{};
    port.name = name;
    port.device = common::resolve_port_name(name);
    struct stat st {};
    if (::stat(port.device.c_str(), &st) != 0) {
        return false;
    }
    if (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) {
        port.recorded = true;
        port.fd = ::open(port.device.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        return port.fd >= 0;
    }
    return open_device(port);
}

void close_port(Port& port) {
    if (port.fd >= 0) {
        if (!port.recorded) {
            ::ioctl(port.fd, TIOCNXCL);
        }
        ::close(port.fd);
        port.fd = -1;
    }
    release_lock(port);
}

} // namespace quorvel
