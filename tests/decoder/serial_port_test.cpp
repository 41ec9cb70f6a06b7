#include "decoder/serial_port.h"

#include "test_support.h"
#include "tests/support/pseudo_terminal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using quorvel::Port;
using quorvel_test::read_file;
using quorvel_test::TempDir;
using quorvel_test::write_file;

using harness::PseudoTerminal;

// Where other serial programs look for the device's lock.
std::string lock_file_for(const std::string& device) {
    char real[PATH_MAX];
    std::string name = ::realpath(device.c_str(), real);
    std::replace(name.begin(), name.end(), '/', '_');
    return "/var/lock/LCK.." + name.substr(std::string("_dev_").size());
}

long lock_owner(const std::string& lock_path) {
    return std::strtol(read_file(lock_path).c_str(), nullptr, 10);
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/var/lock", W_OK) != 0) {
            GTEST_SKIP() << "/var/lock cannot be written";
        }
        ASSERT_FALSE(pty_.device().empty());
        lock_path_ = lock_file_for(pty_.device());
    }
    void TearDown() override {
        quorvel::close_port(port_);
        quorvel::close_port(second_);
    }

    PseudoTerminal pty_;
    std::string lock_path_;
    Port port_;
    Port second_;
};

TEST_F(SerialPortTest, DeviceIsOpenedLockedAt19200EightNoneOneRaw) {
    ASSERT_TRUE(quorvel::open_port(pty_.device(), port_));
    EXPECT_FALSE(port_.recorded);
    EXPECT_EQ(port_.device, pty_.device());
    EXPECT_EQ(port_.lock_path, lock_path_);
    EXPECT_EQ(lock_owner(lock_path_), ::getpid());

    termios tio{};
    ASSERT_EQ(::tcgetattr(port_.fd, &tio), 0);
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_iflag & (INPCK | ICRNL | ISTRIP), 0u);
    // The device side started at the kernel's defaults, software flow control on.
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);

    // Bytes arrive exactly as sent: no line editing, no CR translation, no echo.
    const std::string sent = "x0A\r\n\x03";
    ASSERT_EQ(::write(pty_.master(), sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    std::string received;
    ASSERT_TRUE(quorvel_test::wait_for([&] {
        char buffer[16];
        const ssize_t n = ::read(port_.fd, buffer, sizeof buffer);
        if (n > 0) {
            received.append(buffer, static_cast<std::size_t>(n));
        }
        return received.size() >= sent.size();
    }));
    EXPECT_EQ(received, sent);
    pollfd echo{pty_.master(), POLLIN, 0};
    EXPECT_EQ(::poll(&echo, 1, 0), 0);
}

TEST_F(SerialPortTest, SecondOpenerIsRefusedUntilTheFirstClosesAndRemovesItsLock) {
    ASSERT_TRUE(quorvel::open_port(pty_.device(), port_));
    EXPECT_FALSE(quorvel::open_port(pty_.device(), second_));
    EXPECT_EQ(second_.fd, -1);

    quorvel::close_port(port_);
    EXPECT_FALSE(std::filesystem::exists(lock_path_));
    quorvel::close_port(port_);
    EXPECT_TRUE(quorvel::open_port(pty_.device(), second_));
}

TEST_F(SerialPortTest, PortMapLinkAndDeviceShareOneLock) {
    TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const auto ports = config.path() / "Veltaro" / "ports";
    std::filesystem::create_directories(ports);
    std::filesystem::create_symlink(pty_.device(), ports / "COM5");

    ASSERT_TRUE(quorvel::open_port("com5", port_));
    EXPECT_EQ(port_.device, (ports / "COM5").string());
    EXPECT_EQ(port_.lock_path, lock_path_);
    EXPECT_FALSE(quorvel::open_port(pty_.device(), second_));
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SerialPortTest, LockOfAnEndedProcessIsTakenOverAndOfALiveOneRespected) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);

    // The blank-padded form other serial programs write, owned by init.
    write_file(lock_path_, "         1\n");
    EXPECT_FALSE(quorvel::open_port(pty_.device(), port_));
    EXPECT_EQ(lock_owner(lock_path_), 1);

    write_file(lock_path_, std::to_string(child) + "\nminicom\nhost\n");
    ASSERT_TRUE(quorvel::open_port(pty_.device(), port_));
    EXPECT_EQ(lock_owner(lock_path_), ::getpid());
}

TEST(SerialLockFile, IsNamedAfterTheDevicePathBelowDevWithSlashesAsUnderscores) {
    if (::access("/var/lock", W_OK) != 0) {
        GTEST_SKIP() << "/var/lock cannot be written";
    }
    struct Case {
        std::string device;
        std::string lock;
    };
    const Case cases[] = {
        {"/dev/ttyS0", "/var/lock/LCK..ttyS0"},
        {"/dev/serial/by-path/missing", "/var/lock/LCK..serial_by-path_missing"},
        {"/srv/ports/com1", "/var/lock/LCK.._srv_ports_com1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quorvel::lock_file_path(c.device), c.lock) << c.device;
    }
}

TEST(RecordedStream, RegularFileAndFifoAreOpenedReadOnlyWithoutLock) {
    TempDir dir;
    const std::string capture = dir.file("capture.txt");
    write_file(capture, "x00");
    Port port;
    ASSERT_TRUE(quorvel::open_port(capture, port));
    EXPECT_TRUE(port.recorded);
    EXPECT_EQ(::fcntl(port.fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_TRUE(port.lock_path.empty());
    quorvel::close_port(port);
    EXPECT_EQ(port.fd, -1);
    EXPECT_TRUE(std::filesystem::exists(capture));

    const std::string fifo = dir.file("live.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        if (fd >= 0) {
            ::close(fd);
        }
    });
    EXPECT_TRUE(quorvel::open_port(fifo, port));
    writer.join();
    EXPECT_TRUE(port.recorded);
    EXPECT_EQ(::fcntl(port.fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    quorvel::close_port(port);
}

TEST(RecordedStream, MissingPathOrFolderCannotBeOpened) {
    TempDir dir;
    for (const std::string& name : {dir.file("missing"), dir.path().string()}) {
        Port port;
        EXPECT_FALSE(quorvel::open_port(name, port)) << name;
        EXPECT_EQ(port.fd, -1) << name;
        EXPECT_TRUE(port.lock_path.empty()) << name;
    }
}

} // namespace
