// The real programs end to end: sondrel-sim plays the receiver on a
// pseudo-terminal (or writes a capture) and quorvel decodes it; every record
// must match what the simulator says it sent.
#include "receive_helpers.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace receive_test;
using Clock = std::chrono::steady_clock;

const std::string kBin = VELTARO_BIN_DIR;

using harness::Child;
using harness::read_output;
using harness::spawn;
using harness::wait_exit;

std::vector<std::string> expected_lines(const std::filesystem::path& path) {
    std::vector<std::string> lines = read_records(path);
    return lines;
}

std::vector<std::string> masked_records(const std::filesystem::path& path) {
    std::vector<std::string> records = read_records(path);
    for (std::string& record : records) {
        record = mask_record(record);
    }
    return records;
}

bool wait_for_records(const std::filesystem::path& path, std::size_t count, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (read_records(path).size() >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

struct LiveCase {
    int first_payload;
    int seed;
    int count;
};

TEST(EndToEnd, DecoderMatchesTheSimulatorOverAPseudoTerminal) {
    // Faults on 60% of packets: corrected and uncorrectable blocks, non-hex
    // and lowercase characters, truncated packets, overlong MANT packets.
    const LiveCase cases[] = {{17, 11, 40}, {24, 12, 60}, {32, 13, 40}};
    for (const LiveCase& c : cases) {
        SCOPED_TRACE("L " + std::to_string(c.first_payload));
        TempDir dir;
        const std::string config = "XDG_CONFIG_HOME=" + (dir / "config").string();
        const std::string l = std::to_string(c.first_payload);
        Child sim = spawn({kBin + "/sondrel-sim", "--link", "COM7", "--count",
                           std::to_string(c.count), "--fast", "--seed", std::to_string(c.seed),
                           "-l", l, "--faults", "60", "--expect", (dir / "expect.txt").string()},
                          dir.path(), {config}, true);
        ASSERT_GT(sim.pid, 0);
        const std::string device = read_output(sim, true, 30);
        ASSERT_FALSE(device.empty());

        Child decoder =
            spawn({kBin + "/quorvel", "-pCOM7", "-e", "exchange.txt", "-o", "log.txt", "-l", l},
                  dir.path(), {config}, false, dir / "console.txt");
        ASSERT_GT(decoder.pid, 0);

        const std::string summary = read_output(sim, false, 120);
        EXPECT_EQ(wait_exit(sim.pid, 30), 0);
        close(sim.output);
        const std::string packets = std::to_string(c.count);
        const std::string bytes = std::to_string(5 * c.count);
        EXPECT_NE(summary.find("sent " + packets + " packets, received " + bytes +
                               " end-of-packet bytes, expected " + bytes),
                  std::string::npos)
            << summary;

        const std::vector<std::string> expected = expected_lines(dir / "expect.txt");
        EXPECT_GT(expected.size(), static_cast<std::size_t>(c.count));
        // The simulator's pseudo-terminal is gone once it has ended: the
        // decoder says so with one more record.
        EXPECT_TRUE(wait_for_records(dir / "exchange.txt", expected.size() + 1, 30));
        kill(decoder.pid, SIGTERM);
        EXPECT_EQ(wait_exit(decoder.pid, 30), 0);
        std::vector<std::string> records = masked_records(dir / "exchange.txt");
        EXPECT_EQ(read_records(dir / "exchange.txt").back(),
                  "S,13,Lost serial port COM7; waiting for it to return");
        records.pop_back();
        EXPECT_EQ(records, expected);
        // The log is complete and the same as the exchange file.
        EXPECT_EQ(read_file(dir / "log.txt"), read_file(dir / "exchange.txt"));
    }
}

TEST(EndToEnd, CaptureReplaysOfflineAndEndsWithStatusZero) {
    TempDir dir;
    Child sim =
        spawn({kBin + "/sondrel-sim", "--output", (dir / "capture.txt").string(), "--count", "50",
               "--seed", "21", "--faults", "70", "--expect", (dir / "expect.txt").string()},
              dir.path(), {}, false);
    ASSERT_EQ(wait_exit(sim.pid, 60), 0);
    const std::string capture = read_file(dir / "capture.txt");

    Child decoder =
        spawn({kBin + "/quorvel", "-p", "capture.txt", "-e", "out.txt"}, dir.path(), {}, false);
    EXPECT_EQ(wait_exit(decoder.pid, 60), 0);
    const std::vector<std::string> expected = expected_lines(dir / "expect.txt");
    EXPECT_GT(expected.size(), 50u);
    EXPECT_EQ(masked_records(dir / "out.txt"), expected);
    // Nothing was written back into the capture.
    EXPECT_EQ(read_file(dir / "capture.txt"), capture);
}

TEST(EndToEnd, IdleDecoderEndsCleanlyOnEachStopSignal) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        Child decoder = spawn({kBin + "/quorvel", "-p", "", "-e", "out.txt", "-o", "log.txt"},
                              dir.path(), {}, false, dir / "console.txt");
        // The banner shows the decoder is past start-up and waiting.
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (read_file(dir / "console.txt").find("Exchange filename") == std::string::npos &&
               Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(decoder.pid, signal);
        EXPECT_EQ(wait_exit(decoder.pid, 30), 0);
    }
}

} // namespace
