#include "decoder/receive.h"

#include "receive_helpers.h"
#include "test_support.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <thread>

namespace quorvel {
namespace {

using namespace receive_test;
using quorvel_test::CapturedStream;

const char kNonHex1[] =
    "*Processing error (1Blk): non-hex ASCII char received in data; discarding packet";
const char kNonHex2[] =
    "*Processing error (SBlk): non-hex ASCII char received in data; discarding packet";
const char kBadFirst[] = "*Bad First Block, uncorrectable bit errors; discarding packet";

// Decodes a capture file through the real loop; returns the exchange file's
// records with timestamps and timings masked.
std::vector<std::string> decode_capture(const std::string& stream, int first_payload,
                                        bool masked = true) {
    TempDir dir;
    {
        std::ofstream capture(dir / "capture.txt", std::ios::binary);
        capture << stream;
    }
    Port port;
    EXPECT_TRUE(open_port((dir / "capture.txt").string(), port));
    EXPECT_TRUE(port.recorded);
    FecContext fec;
    init_fec(fec, first_payload);
    RecordOutput out;
    out.exchange_path = (dir / "exchange.txt").string();
    out.console = nullptr;
    EXPECT_EQ(run_receive_loop(port, fec, out), 0);
    close_port(port);
    std::vector<std::string> records = read_records(dir / "exchange.txt");
    if (masked) {
        for (std::string& record : records) {
            record = mask_record(record);
        }
    }
    return records;
}

struct StreamCase {
    const char* behaviour;
    int first_payload;
    Bytes mant;
    std::vector<int> rs;
};

TEST(ReceiveLoop, DecodesPacketsOfEveryBlockGeometry) {
    const StreamCase cases[] = {
        {"single block", 24, mant_packet(1234, counting_bytes(14)), {0}},
        {"MANT_len L-2 stays single", 24, mant_packet(5, counting_bytes(16)), {0}},
        {"MANT_len L-1 adds a 1-byte block", 24, mant_packet(5, counting_bytes(17)), {0, 0}},
        {"two full second blocks", 24, mant_packet(7, counting_bytes(80)), {0, 0, 0}},
        {"L 17 at the largest MANT_len", 17, mant_packet(9, counting_bytes(1017)),
         std::vector<int>(33, 0)},
        {"L 32 with a partial block", 32, mant_packet(11, counting_bytes(94)), {0, 0, 0, 0}},
        {"L 20", 20, mant_packet(12, counting_bytes(40)), {0, 0}},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.behaviour);
        const Bytes airlink = sondrel::airlink_data(3, c.mant);
        const std::vector<std::string> records =
            decode_capture(packet_stream(airlink, c.first_payload), c.first_payload);
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0], expected_p_record(airlink, c.first_payload, c.rs));
        EXPECT_EQ(records[1], expected_n_record(c.mant));
    }
}

TEST(ReceiveLoop, WritesUtcTimestampAndMicrosecondTimings) {
    const Bytes mant = mant_packet(1, counting_bytes(60));
    const std::vector<std::string> records =
        decode_capture(packet_stream(sondrel::airlink_data(0, mant), 24), 24, false);
    ASSERT_EQ(records.size(), 2u);
    const std::vector<std::string> f = split_fields(records[0]);
    EXPECT_EQ(f[2].size(), 4u);
    for (int i = 3; i <= 6; ++i) {
        EXPECT_EQ(f[i].size(), 2u) << i;
    }
    ASSERT_EQ(f[7].size(), 6u);
    EXPECT_EQ(f[7][2], '.');
    for (const std::string& timing : {f[f.size() - 2], f.back()}) {
        ASSERT_FALSE(timing.empty());
        EXPECT_EQ(std::stoll(timing) % 1000, 0) << timing;
    }
    // The N record repeats the date with the seconds to four decimals.
    const std::vector<std::string> n = split_fields(records[1]);
    EXPECT_EQ(std::vector<std::string>(n.begin() + 1, n.begin() + 6),
              std::vector<std::string>(f.begin() + 2, f.begin() + 7));
    EXPECT_EQ(n[6], std::to_string(std::stoi(f[7].substr(0, 2))) + "." + f[7].substr(3) + "0");
}

TEST(ReceiveLoop, ReedSolomonAndViterbiResultsReachTheRecord) {
    const Bytes mant = mant_packet(77, counting_bytes(40));
    const Bytes airlink = sondrel::airlink_data(1, mant);

    Faults eight;
    eight.first_symbols = 8;
    eight.second_block = 0;
    eight.second_symbols = 3;
    std::vector<std::string> records = decode_capture(packet_stream(airlink, 24, eight), 24);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], expected_p_record(airlink, 24, {8, 3}));

    sondrel::Codewords words = sondrel::make_codewords(airlink, 24);
    sondrel::CodeStreams code = sondrel::encode_codewords(words);
    const int flips[] = {5, 60, 140, 300, 420};
    sondrel::flip_code_bits(code.first, flips);
    sondrel::flip_code_bits(code.second, flips);
    records = decode_capture(sondrel::to_stream(code), 24);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0], expected_p_record(airlink, 24, {0, 0}));
}

TEST(ReceiveLoop, UncorrectableFirstBlockGivesS1AndIgnoresItsSecondBlocks) {
    const Bytes mant = mant_packet(77, counting_bytes(70));
    const Bytes airlink = sondrel::airlink_data(2, mant);
    Faults faults;
    faults.first_symbols = 12;
    const Bytes good = mant_packet(78, counting_bytes(4));
    const Bytes good_airlink = sondrel::airlink_data(2, good);
    const std::vector<std::string> records =
        decode_capture(packet_stream(airlink, 24, faults) + packet_stream(good_airlink, 24), 24);
    ASSERT_EQ(records.size(), 3u);
    const std::vector<std::string> f = split_fields(records[0]);
    // The message itself holds one comma.
    ASSERT_EQ(f.size(), 3u + 6 + 2 + 24 + 1 + 2);
    EXPECT_EQ(join_fields({f.begin(), f.begin() + 9}), "S,1," + f[2] + ",T,T,T,T,T,T");
    EXPECT_EQ(f[10], "24");
    EXPECT_EQ(f[35], "-1");
    EXPECT_EQ(f[36] + "," + f[37], kBadFirst);
    EXPECT_EQ(records[1], expected_p_record(good_airlink, 24, {0}));
    EXPECT_EQ(records[2], expected_n_record(good));
}

TEST(ReceiveLoop, BadSecondBlockIsReportedAndItsMantPacketsSkipped) {
    // Packet 2's payload ends with the second of four second blocks, which fails.
    const Bytes p1 = mant_packet(1, counting_bytes(10));
    const Bytes p2 = mant_packet(2, counting_bytes(64));
    const Bytes p3 = mant_packet(3, counting_bytes(20));
    const Bytes p4 = mant_packet(4, counting_bytes(30));
    const Bytes airlink = sondrel::airlink_data(0, concat(concat(p1, p2), concat(p3, p4)));
    Faults faults;
    faults.second_block = 1;
    faults.second_symbols = 12;
    const std::vector<std::string> records = decode_capture(packet_stream(airlink, 24, faults), 24);
    ASSERT_EQ(records.size(), 4u);
    const std::vector<std::string> f = split_fields(records[0]);
    // Block results sit after each group: first block at 9 + 1 + 24.
    std::vector<std::string> results;
    for (std::size_t at = 9; at + 1 < f.size() - 2;) {
        const std::size_t length = std::stoul(f[at]);
        results.push_back(f[at + 1 + length]);
        at += length + 2;
    }
    EXPECT_EQ(results, (std::vector<std::string>{"0", "0", "-1", "0", "0"}));
    EXPECT_EQ(records[1], expected_n_record(p1));
    EXPECT_EQ(records[2], expected_n_record(p3));
    EXPECT_EQ(records[3], expected_n_record(p4));
}

TEST(ReceiveLoop, NonHexAndXInsidePacketsAbortThemAndTheNextPacketSurvives) {
    const Bytes mant = mant_packet(40, counting_bytes(40));
    const Bytes airlink = sondrel::airlink_data(5, mant);
    const std::string stream = packet_stream(airlink, 24);
    const std::string good = "\r\nnoise before\r\n" + stream + "\r\n";
    const std::string s2 = "S,2,T,T,T,T,T,T," + std::string(kNonHex1);
    // S,3 carries the first block's fields, without ALRES.
    const std::vector<std::string> p = split_fields(expected_p_record(airlink, 24, {0, 0}));
    const std::string s3 =
        "S,3," + join_fields({p.begin() + 2, p.begin() + 9 + 24 + 2}) + "," + kNonHex2;
    const std::string first_block_end = stream.substr(0, 1 + 164);

    struct AbortCase {
        const char* behaviour;
        std::string stream;
        std::vector<std::string> expected;
    };
    const AbortCase cases[] = {
        {"clean packet among noise", "", {}},
        {"lowercase hex in the first block", stream.substr(0, 50) + "a" + stream.substr(51), {s2}},
        {"lowercase hex in the second blocks",
         first_block_end + "f" + stream.substr(first_block_end.size() + 1),
         {s3}},
        {"x inside the first block starts the next packet", stream.substr(0, 80), {s2}},
        {"x inside the second blocks starts the next packet", stream.substr(0, 200), {s3}},
        {"CR inside the first block", stream.substr(0, 20) + "\r" + stream.substr(21), {s2}},
    };
    for (const AbortCase& c : cases) {
        SCOPED_TRACE(c.behaviour);
        std::vector<std::string> expected = c.expected;
        expected.push_back(expected_p_record(airlink, 24, {0, 0}));
        expected.push_back(expected_n_record(mant));
        EXPECT_EQ(decode_capture(c.stream + good, 24), expected);
    }
}

// A raw pseudo-terminal standing in for the receiver.
struct Pty {
    int master = -1;
    int slave = -1;
    Pty() {
        termios raw{};
        cfmakeraw(&raw);
        EXPECT_EQ(openpty(&master, &slave, nullptr, &raw, nullptr), 0);
    }
    ~Pty() {
        if (master >= 0) {
            close(master);
        }
    }
};

// Reads what the decoder wrote back until count bytes came or the deadline passed.
std::string read_back(int fd, std::size_t count, int seconds = 20) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char chunk[64];
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n > 0) {
                bytes.append(chunk, static_cast<std::size_t>(n));
            }
        }
    }
    return bytes;
}

TEST(ReceiveLoop, WritesFiveZeroBytesPerPacketAndStopsCleanlyOnRequest) {
    TempDir dir;
    Pty pty;
    Port port;
    port.fd = pty.slave;
    port.device = "pty";
    FecContext fec;
    init_fec(fec, 24);
    RecordOutput out;
    out.exchange_path = (dir / "exchange.txt").string();
    out.console = nullptr;
    int status = -1;
    std::thread loop([&] { status = run_receive_loop(port, fec, out); });

    const Bytes single = mant_packet(1, counting_bytes(10));
    const Bytes multi = mant_packet(2, counting_bytes(100));
    const std::string multi_stream = packet_stream(sondrel::airlink_data(0, multi), 24);
    Faults bad;
    bad.first_symbols = 12;
    // P, S,2 (aborted by the next x), P with second blocks, S,1, S,3 at the end.
    const std::string stream = packet_stream(sondrel::airlink_data(0, single), 24) +
                               multi_stream.substr(0, 30) + multi_stream +
                               packet_stream(sondrel::airlink_data(0, multi), 24, bad) +
                               multi_stream.substr(0, 200) + "G";
    ASSERT_EQ(write(pty.master, stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    const std::string back = read_back(pty.master, 25);
    EXPECT_EQ(back, std::string(25, '\0'));

    request_receive_stop();
    loop.join();
    EXPECT_EQ(status, 0);
    close(pty.slave);
    const std::vector<std::string> records = read_records(dir / "exchange.txt");
    ASSERT_EQ(records.size(), 7u);
    EXPECT_EQ(records[0].substr(0, 2), "P,");
    EXPECT_EQ(records[2].substr(0, 4), "S,2,");
    EXPECT_EQ(records[3].substr(0, 2), "P,");
    EXPECT_EQ(records[5].substr(0, 4), "S,1,");
    EXPECT_EQ(records[6].substr(0, 4), "S,3,");
    // No further bytes: the S,1 packet's second blocks were ignored.
    EXPECT_EQ(read_back(pty.master, 1, 1), "");
}

TEST(ReceiveLoop, SurvivesTheReceiverGoingAwayUntilStopped) {
    TempDir dir;
    auto pty = std::make_unique<Pty>();
    Port port;
    port.fd = pty->slave;
    port.device = (dir / "gone").string();
    FecContext fec;
    init_fec(fec, 24);
    RecordOutput out;
    out.exchange_path = (dir / "exchange.txt").string();
    out.console = nullptr;
    int status = -1;
    std::atomic<bool> finished = false;
    std::thread loop([&] {
        status = run_receive_loop(port, fec, out);
        finished = true;
    });
    const std::string stream = packet_stream(sondrel::airlink_data(0, mant_packet(1, {})), 24);
    ASSERT_EQ(write(pty->master, stream.data(), stream.size()),
              static_cast<ssize_t>(stream.size()));
    EXPECT_EQ(read_back(pty->master, 5).size(), 5u);
    pty.reset(); // the receiver's side closes: a hang-up on the decoder's side
    // Still running: give it a moment in which a wrongly ending loop would end.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(finished);
    request_receive_stop();
    loop.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_records(dir / "exchange.txt").size(), 2u);
}

TEST(ReceiveLoop, StopWhileAnotherProgramHoldsTheLockEndsWithStatusThreeAndCountsTheRecords) {
    TempDir dir;
    const std::string exchange = (dir / "exchange.txt").string();
    const int held = open(exchange.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    int feed[2];
    ASSERT_EQ(pipe2(feed, O_CLOEXEC), 0);
    Port port;
    port.fd = feed[0];
    port.recorded = true;
    FecContext fec;
    init_fec(fec, 24);
    CapturedStream console;
    CapturedStream log;
    RecordOutput out;
    out.exchange_path = exchange;
    out.console = console.get();
    out.log = log.get();
    auto status = std::async(std::launch::async, [&] { return run_receive_loop(port, fec, out); });
    const std::string stream =
        packet_stream(sondrel::airlink_data(0, mant_packet(5, counting_bytes(20))), 24);
    ASSERT_EQ(write(feed[1], stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    ASSERT_TRUE(
        quorvel_test::wait_for([&] { return console.text().find("N,") != std::string::npos; }));

    request_receive_stop();
    // Generous: a stop that waits for the lock without end never comes back.
    ASSERT_EQ(status.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(status.get(), kExitRecordsNotWritten);
    EXPECT_NE(
        console.text().find("2 records not written to the exchange file; they are in the log\r\n"),
        std::string::npos);
    EXPECT_EQ(read_file(exchange), "");
    close(feed[1]);
    close_port(port);
    close(held);
}

struct ElapsedCase {
    TimeMark a, b;
    long long expected;
};

TEST(ElapsedUsec, CountsMillisecondsAcrossAndWithinSeconds) {
    const ElapsedCase cases[] = {
        {{100, 200}, {100, 200}, 0},       {{100, 200}, {100, 201}, 1000},
        {{100, 999}, {101, 0}, 1000},      // across a second boundary
        {{100, 0}, {102, 500}, 2'500'000}, // whole seconds plus milliseconds
        {{100, 500}, {101, 400}, 900'000}, // later second, smaller milliseconds
        {{100, 500}, {100, 400}, 0},       // clock stepped back within a second
        {{101, 500}, {100, 600}, 100'000}, // stepped back a second: only ms compared
    };
    for (const ElapsedCase& c : cases) {
        EXPECT_EQ(elapsed_usec(c.a, c.b), c.expected)
            << c.a.seconds << "." << c.a.milliseconds << " -> " << c.b.seconds << "."
            << c.b.milliseconds;
    }
}

TEST(PacketTimestamp, IsUtcWithCommasAndThreeDigitMilliseconds) {
    // 2014-06-04 20:25:26 UTC
    EXPECT_EQ(packet_timestamp({1401913526, 7}), "2014,06,04,20,25,26.007,");
    EXPECT_EQ(packet_timestamp({0, 0}), "1970,01,01,00,00,00.000,");
    EXPECT_EQ(packet_timestamp({1401913526, 999}), "2014,06,04,20,25,26.999,");
}

TEST(PacketTimestamp, IgnoresTheLocalTimeZone) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved != nullptr ? saved : "";
    setenv("TZ", "America/Denver", 1);
    tzset();
    const std::string stamp = packet_timestamp({1401913526, 7});
    if (saved != nullptr) {
        setenv("TZ", previous.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    EXPECT_EQ(stamp, "2014,06,04,20,25,26.007,");
}

} // namespace
} // namespace quorvel
