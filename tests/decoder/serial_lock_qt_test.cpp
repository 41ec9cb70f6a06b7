// The decoder and QSerialPort, with which the display probes its ports, must
// agree on one lock per device: each sees the other's lock as held. Run as
// root, where the exclusive open (TIOCEXCL) stops nobody, the lock file is
// all that keeps a second program off the port.
#include "decoder/serial_port.h"

#include "tests/support/harness.h"
#include "tests/support/pseudo_terminal.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(SerialLockWithQt, DecoderAndQSerialPortSeeEachOthersLockByDeviceOrPortMapLink) {
    int argc = 1;
    char name[] = "serial_lock_qt_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    harness::PseudoTerminal pty;
    ASSERT_FALSE(pty.device().empty());
    harness::TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const auto ports = config.path() / "Veltaro" / "ports";
    std::filesystem::create_directories(ports);
    std::filesystem::create_symlink(pty.device(), ports / "COM5");
    const std::string lock = quorvel::lock_file_path(pty.device());
    ASSERT_FALSE(lock.empty());

    for (const std::string& port_name : {pty.device(), std::string("COM5")}) {
        SCOPED_TRACE(port_name);
        quorvel::Port port;
        ASSERT_TRUE(quorvel::open_port(port_name, port));
        QSerialPort probe(QString::fromStdString(pty.device()));
        EXPECT_FALSE(probe.open(QIODevice::ReadWrite));
        quorvel::close_port(port);

        ASSERT_TRUE(probe.open(QIODevice::ReadWrite)) << probe.errorString().toStdString();
        EXPECT_TRUE(std::filesystem::exists(lock));
        quorvel::Port second;
        EXPECT_FALSE(quorvel::open_port(port_name, second));
        probe.close();
        EXPECT_FALSE(std::filesystem::exists(lock));
        EXPECT_TRUE(quorvel::open_port(port_name, second));
        quorvel::close_port(second);
    }
    ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
