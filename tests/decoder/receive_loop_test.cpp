// The loop around the packet state machine, on real pseudo-terminals, pipes
// and files: line settings, end-of-packet bytes, a receiver that goes away,
// an exchange file that cannot take records, stop requests.
#include "decoder/receive_loop.h"

#include "receive_helpers.h"
#include "test_support.h"
#include "tests/support/pseudo_terminal.h"

#include <future>
#include <gtest/gtest.h>
#include <sys/file.h>

namespace quorvel {
namespace {

using namespace receive_test;
using harness::PseudoTerminal;
using quorvel_test::CapturedStream;
using quorvel_test::LogFile;
using quorvel_test::wait_for;

// The loop on its own thread, with the console and the log captured.
class RunningLoop {
public:
    RunningLoop(Port& port, const std::string& exchange, int first_payload = 24) : port_(port) {
        init_fec(fec_, first_payload);
        out_.exchange_path = exchange;
        out_.console = console_.get();
        out_.log.fd = log_.fd();
        status_ = std::async(std::launch::async, [this] {
            const int status = run_receive_loop(port_, fec_, out_);
            close_port(port_);
            return status;
        });
    }
    ~RunningLoop() {
        if (status_.valid()) {
            stop();
        }
    }

    // The exit status, or -1 when the loop has not ended within the deadline.
    int stop(int seconds = 30) {
        request_receive_stop();
        if (status_.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
            return -1;
        }
        return status_.get();
    }
    std::string console() const { return console_.text(); }

private:
    Port& port_;
    FecContext fec_;
    CapturedStream console_;
    TempDir dir_;
    LogFile log_{dir_};
    RecordOutput out_;
    std::future<int> status_;
};

// Times masked; S,13 records carry none and keep their text.
bool records_arrive(const std::string& exchange, const std::vector<std::string>& expected) {
    return wait_for([&] {
        std::vector<std::string> records = read_records(exchange);
        for (std::string& record : records) {
            if (record.rfind("S,13,", 0) != 0) {
                record = mask_record(record);
            }
        }
        return records == expected;
    });
}

// A recorded stream from a pipe that the test writes to.
struct FedPort {
    Port port;
    int feed = -1;
    FedPort() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        port.fd = fds[0];
        port.recorded = true;
        port.name = "feed";
        feed = fds[1];
    }
    ~FedPort() { ::close(feed); }
    void write(const std::string& text) const {
        ASSERT_EQ(::write(feed, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
};

TEST(ReceiveLoop, OnALineAtKernelDefaultsXonXoffBytesAreDataAndEveryPacketGetsItsFiveBytes) {
    TempDir dir;
    PseudoTerminal pty; // device side as the kernel leaves it: IXON on
    Port port;
    ASSERT_TRUE(open_port(pty.device(), port));
    RunningLoop loop(port, dir.file("exchange.txt"));

    const Bytes one = mant_packet(1, counting_bytes(10));
    const Bytes two = mant_packet(2, counting_bytes(100));
    const std::string first = packet_stream(sondrel::airlink_data(0, one), 24);
    const std::string second = packet_stream(sondrel::airlink_data(0, two), 24);
    // XOFF before the first packet would stop our output under IXON; XON
    // inside the noisy packet would vanish and let it decode.
    const std::string stream = "\x13" + first + first.substr(0, 40) + "\x11" + first.substr(40) +
                               second + second.substr(0, 200) + "\x13" + second.substr(200) + first;
    ASSERT_TRUE(pty.write(stream));

    const std::string s2 = "S,2,T,T,T,T,T,T,*Processing error (1Blk): non-hex ASCII char "
                           "received in data; discarding packet";
    const std::string p2 = expected_p_record(sondrel::airlink_data(0, two), 24, {0, 0, 0, 0});
    const std::vector<std::string> f = split_fields(p2);
    const std::string s3 = "S,3," + join_fields({f.begin() + 2, f.begin() + 9 + 24 + 2}) +
                           ",*Processing error (SBlk): non-hex ASCII char received in data; "
                           "discarding packet";
    const std::string p1 = expected_p_record(sondrel::airlink_data(0, one), 24, {0});
    EXPECT_TRUE(records_arrive(dir.file("exchange.txt"),
                               {p1, expected_n_record(one), s2, p2, expected_n_record(two), s3, p1,
                                expected_n_record(one)}));
    EXPECT_EQ(pty.read_back(25), std::string(25, '\0'));
    EXPECT_EQ(loop.stop(), 0);
}

TEST(ReceiveLoop, ReceiverUnpluggedAndBackAreS13RecordsUnderThePortsName) {
    TempDir dir;
    TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const std::filesystem::path link = config.path() / "Veltaro" / "ports" / "COM8";
    std::filesystem::create_directories(link.parent_path());
    auto first = std::make_unique<PseudoTerminal>(true);
    std::filesystem::create_symlink(first->device(), link);
    Port port;
    ASSERT_TRUE(open_port("COM8", port));
    RunningLoop loop(port, dir.file("exchange.txt"));

    const Bytes mant = mant_packet(3, counting_bytes(5));
    const std::string stream = packet_stream(sondrel::airlink_data(0, mant), 24);
    const std::string p = expected_p_record(sondrel::airlink_data(0, mant), 24, {0});
    const std::string lost = "S,13,Lost serial port COM8; waiting for it to return";
    const std::string back = "S,13,Reopened serial port COM8";
    ASSERT_TRUE(first->write(stream));
    EXPECT_TRUE(records_arrive(dir.file("exchange.txt"), {p, expected_n_record(mant)}));

    // No byte comes while the receiver is gone: the records must not wait for one.
    first.reset();
    EXPECT_TRUE(records_arrive(dir.file("exchange.txt"), {p, expected_n_record(mant), lost}));
    PseudoTerminal second(true);
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.device(), link);
    EXPECT_TRUE(records_arrive(dir.file("exchange.txt"), {p, expected_n_record(mant), lost, back}));
    ASSERT_TRUE(second.write(stream));
    EXPECT_EQ(second.read_back(5), std::string(5, '\0'));
    EXPECT_TRUE(records_arrive(dir.file("exchange.txt"), {p, expected_n_record(mant), lost, back, p,
                                                          expected_n_record(mant)}));
    EXPECT_EQ(loop.stop(), 0);
    EXPECT_NE(loop.console().find(lost.substr(5) + "\r\n" + lost + "\r\n"), std::string::npos);
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(ReceiveLoop, RecordsHeldBackByAnUnwritableExchangeFileArriveWithoutFurtherInput) {
    TempDir dir;
    const std::string exchange = dir.file("exchange.txt");
    std::filesystem::create_directory(exchange);
    FedPort fed;
    RunningLoop loop(fed.port, exchange);
    const Bytes mant = mant_packet(4, counting_bytes(10));
    fed.write(packet_stream(sondrel::airlink_data(0, mant), 24));
    ASSERT_TRUE(wait_for([&] {
        return loop.console().find("error on opening exchange file") != std::string::npos;
    }));

    std::filesystem::remove(exchange);
    EXPECT_TRUE(
        records_arrive(exchange, {expected_p_record(sondrel::airlink_data(0, mant), 24, {0}),
                                  expected_n_record(mant)}));
    EXPECT_EQ(loop.stop(), 0);
}

TEST(ReceiveLoop, StopWhileAnotherProgramHoldsTheLockEndsWithStatusThreeAndCountsTheRecords) {
    TempDir dir;
    const std::string exchange = dir.file("exchange.txt");
    const int held = ::open(exchange.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    FedPort fed;
    RunningLoop loop(fed.port, exchange);
    const Bytes mant = mant_packet(5, counting_bytes(20));
    fed.write(packet_stream(sondrel::airlink_data(0, mant), 24));
    ASSERT_TRUE(wait_for([&] { return loop.console().find("N,") != std::string::npos; }));

    // Generous: a stop that waits for the lock without end never comes back.
    EXPECT_EQ(loop.stop(10), kExitRecordsNotWritten);
    EXPECT_NE(loop.console().find("2 records not written to the exchange file; they are in the "
                                  "log\r\n"),
              std::string::npos);
    EXPECT_EQ(read_file(exchange), "");
    ::close(held);
}

} // namespace
} // namespace quorvel
