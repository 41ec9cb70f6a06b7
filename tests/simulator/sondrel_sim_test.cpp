// sondrel-sim as a program: capture files, the pseudo-terminal with its
// port-map entry, the end-of-packet count and the command line.
#include "tests/support/records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using harness::read_file;
using harness::read_lines;

const std::string kSim = std::string(VELTARO_BIN_DIR) + "/sondrel-sim";
constexpr auto kDeadline = std::chrono::seconds(30);

class SondrelSimTest : public ::testing::Test {
protected:
    // sondrel-sim with args, its port map in the scratch folder.
    harness::CapturedChild Start(std::vector<std::string> args) const {
        args.insert(args.begin(), kSim);
        return harness::CapturedChild(args, dir_.path(),
                                      {"XDG_CONFIG_HOME=" + dir_.path().string()});
    }
    std::string file(const std::string& name) const { return dir_.file(name); }

    const harness::TempDir dir_{"sondrel-sim"};
};

int open_raw(const std::string& device) {
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Reads the stream until `packets` packets (each closed by CR LF) have come,
// answering each with the five end-of-packet bytes as the decoder would.
std::string read_packets(int fd, int packets) {
    std::string stream;
    int seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (seen < packets && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[1024];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            stream.push_back(buffer[i]);
            if (stream.size() >= 2 && stream.compare(stream.size() - 2, 2, "\r\n") == 0) {
                ++seen;
                const char zeros[5] = {};
                EXPECT_EQ(write(fd, zeros, sizeof zeros), 5);
            }
        }
    }
    return stream;
}

} // namespace

TEST_F(SondrelSimTest, CaptureHasOneRecordPerPacketAndIsDeterministicForASeed) {
    struct Case {
        std::vector<std::string> faults;
        bool only_p;
    };
    const Case cases[] = {{{}, true}, {{"--faults", "60"}, false}};
    for (const Case& c : cases) {
        std::vector<std::string> args{"--count", "40",         "--seed", "12",
                                      "--time",  "1700000000", "-l",     "20"};
        args.insert(args.end(), c.faults.begin(), c.faults.end());
        std::vector<std::string> run1 = args, run2 = args;
        for (auto* run : {&run1, &run2}) {
            const std::string tag = run == &run1 ? "1" : "2";
            run->insert(run->end(), {"--output", file("cap" + tag), "--expect", file("exp" + tag)});
        }
        harness::CapturedChild a = Start(run1);
        EXPECT_EQ(a.read_line(), "sent 40 packets, received 0 end-of-packet bytes, expected 200");
        ASSERT_EQ(a.wait_exit(), 0);
        harness::CapturedChild b = Start(run2);
        ASSERT_EQ(b.wait_exit(), 0);

        const std::string capture = read_file(file("cap1"));
        EXPECT_EQ(capture, read_file(file("cap2")));
        const std::string expected = read_file(file("exp1"));
        EXPECT_EQ(expected, read_file(file("exp2")));
        EXPECT_EQ(expected.find('\r'), std::string::npos);
        EXPECT_EQ(std::count(capture.begin(), capture.end(), 'x'), 40);

        int packet_records = 0, p_records = 0;
        for (const std::string& line : read_lines(file("exp1"))) {
            ASSERT_TRUE(line.starts_with("P,") || line.starts_with("N,") || line.starts_with("S,"))
                << line;
            p_records += line.starts_with("P,");
            packet_records += line.starts_with("P,") || line.starts_with("S,1,") ||
                              line.starts_with("S,2,") || line.starts_with("S,3,");
        }
        EXPECT_EQ(packet_records, 40);
        if (c.only_p) {
            EXPECT_EQ(p_records, 40);
        } else {
            EXPECT_LT(p_records, 40);
        }
    }
}

TEST_F(SondrelSimTest, PseudoTerminalWaitsForItsReaderAndCountsEndOfPacketBytes) {
    harness::CapturedChild sim =
        Start({"--count", "4", "--fast", "--link", "COM61", "--seed", "3"});
    const std::string device = sim.read_line();
    ASSERT_TRUE(device.starts_with("/dev/pts/")) << device;
    const fs::path link = dir_ / "Veltaro/ports/COM61";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link).string(), device);

    // No reader yet: the simulator must hold the stream back, not lose it.
    poll(nullptr, 0, 300);
    int fd = open_raw(device);
    ASSERT_GE(fd, 0);
    const std::string stream = read_packets(fd, 4);
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(stream[0], 'x');
    EXPECT_EQ(std::count(stream.begin(), stream.end(), 'x'), 4);
    EXPECT_EQ(stream.find_first_not_of("x0123456789ABCDEF\r\n"), std::string::npos);

    EXPECT_EQ(sim.read_line(), "sent 4 packets, received 20 end-of-packet bytes, expected 20");
    EXPECT_EQ(sim.wait_exit(), 0);
    close(fd);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(SondrelSimTest, TerminationEndsAnUnboundedRunAndRemovesItsPortEntry) {
    harness::CapturedChild sim = Start({"--fast", "--link", "com62"});
    const std::string device = sim.read_line();
    ASSERT_FALSE(device.empty());
    // Port names are matched in any case; the entry carries the name the
    // resolver looks for.
    const fs::path link = dir_ / "Veltaro/ports/COM62";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "Veltaro/ports/com62")));
    int fd = open_raw(device);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(read_packets(fd, 2).empty());
    kill(sim.pid(), SIGTERM);
    const std::string summary = sim.read_line();
    EXPECT_TRUE(summary.starts_with("sent ")) << summary;
    EXPECT_EQ(sim.wait_exit(), 0);
    close(fd);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(SondrelSimTest, BadOptionsPrintTheUsageAndEndWithStatusOne) {
    const std::vector<std::vector<std::string>> bad = {
        {"-l", "16"},
        {"-l", "33"},
        {"--count", "x"},
        {"--fault-block", "middle"},
        {"--output", "f"},
        {"--rs-fail", "60", "--truncate", "50", "--count", "1"},
        {"--link", "ttyS0", "--count", "1"},
        {"extra"},
    };
    for (const auto& args : bad) {
        harness::CapturedChild sim = Start(args);
        EXPECT_EQ(sim.wait_exit(), 1) << args[0];
        EXPECT_NE(sim.errors().find("Usage: sondrel-sim"), std::string::npos) << args[0];
    }
    harness::CapturedChild help = Start({"--help"});
    EXPECT_EQ(help.read_line(), "Usage: sondrel-sim [options]");
    EXPECT_EQ(help.wait_exit(), 0);
}
