#include "decoder/packet_receiver.h"

#include "receive_helpers.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

using namespace receive_test;

const char kNonHex1[] =
    "*Processing error (1Blk): non-hex ASCII char received in data; discarding packet";
const char kNonHex2[] =
    "*Processing error (SBlk): non-hex ASCII char received in data; discarding packet";
const char kBadFirst[] = "*Bad First Block, uncorrectable bit errors; discarding packet";

// A clock that moves on by one millisecond at every reading, from
// 2014-06-04 20:25:26.007 UTC.
long long g_clock_readings = 0;

TimeMark stepping_clock() {
    const long long ms = 7 + g_clock_readings++;
    return {1401913526 + ms / 1000, static_cast<long>(ms % 1000)};
}

// What the state machine makes of a stream fed in one piece.
struct Fed {
    std::vector<std::string> records; // without line ends
    int end_of_packet_calls = 0;
};

Fed feed_stream(const std::string& stream, int first_payload, bool masked = true) {
    FecContext fec;
    init_fec(fec, first_payload);
    RecordOutput out;
    out.console = nullptr;
    Fed fed;
    g_clock_readings = 0;
    PacketReceiver receiver(
        fec, out, [&] { ++fed.end_of_packet_calls; }, stepping_clock);
    receiver.feed(std::span(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size()));
    for (const std::string& record : quorvel_test::crlf_lines(out.pending)) {
        fed.records.push_back(masked ? mask_record(record) : record);
    }
    return fed;
}

std::vector<std::string> decode_capture(const std::string& stream, int first_payload) {
    return feed_stream(stream, first_payload).records;
}

struct StreamCase {
    const char* behaviour;
    int first_payload;
    Bytes mant;
    std::vector<int> rs;
};

TEST(PacketReceiver, DecodesPacketsOfEveryBlockGeometry) {
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

TEST(PacketReceiver, WritesTheUtcTimeOfTheXAndTheDecodingTimes) {
    // Clock readings: the "x", before and after the first block, the start
    // and the end of the second blocks, one millisecond apart.
    const Bytes mant = mant_packet(1, counting_bytes(60));
    const std::vector<std::string> records =
        feed_stream(packet_stream(sondrel::airlink_data(0, mant), 24), 24, false).records;
    ASSERT_EQ(records.size(), 2u);
    const std::vector<std::string> f = split_fields(records[0]);
    EXPECT_EQ(join_fields({f.begin() + 2, f.begin() + 8}), "2014,06,04,20,25,26.007");
    EXPECT_EQ(f[f.size() - 2], "1000");
    EXPECT_EQ(f.back(), "1000");
    // The N record repeats the date with the seconds to four decimals.
    const std::vector<std::string> n = split_fields(records[1]);
    EXPECT_EQ(join_fields({n.begin() + 1, n.begin() + 7}), "2014,06,04,20,25,26.0070");
}

TEST(PacketReceiver, ReedSolomonAndViterbiResultsReachTheRecord) {
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

TEST(PacketReceiver, UncorrectableFirstBlockGivesS1AndIgnoresItsSecondBlocks) {
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

TEST(PacketReceiver, BadSecondBlockIsReportedAndItsMantPacketsSkipped) {
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

TEST(PacketReceiver, NonHexAndXInsidePacketsAbortThemAndTheNextPacketSurvives) {
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

TEST(PacketReceiver, AsksForTheEndOfPacketBytesOncePerPacketAndBeforeDecodingSecondBlocks) {
    const Bytes single = sondrel::airlink_data(0, mant_packet(1, counting_bytes(10)));
    const std::string multi =
        packet_stream(sondrel::airlink_data(0, mant_packet(2, counting_bytes(100))), 24);
    Faults bad;
    bad.first_symbols = 12;
    struct Case {
        const char* behaviour;
        std::string stream;
        int calls;
    };
    const Case cases[] = {
        {"single-block P", packet_stream(single, 24), 1},
        {"P with second blocks", multi, 1},
        {"S,2 when an x cuts the first block", multi.substr(0, 30) + multi, 2},
        {"S,1, its second blocks ignored",
         packet_stream(sondrel::airlink_data(0, mant_packet(2, counting_bytes(100))), 24, bad), 1},
        {"S,3 for a non-hex byte in the second blocks", multi.substr(0, 200) + "G", 1},
        {"a cut packet waits for more", multi.substr(0, 200), 0},
        {"noise outside packets", "\r\n0123ABC\x11\x13", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_EQ(feed_stream(c.stream, 24).end_of_packet_calls, c.calls);
    }

    // The receiver gets its bytes while the second blocks are still undecoded.
    FecContext fec;
    init_fec(fec, 24);
    RecordOutput out;
    out.console = nullptr;
    std::string queued_at_call = "none";
    PacketReceiver receiver(fec, out, [&] { queued_at_call = out.pending; });
    receiver.feed(std::span(reinterpret_cast<const std::uint8_t*>(multi.data()), multi.size()));
    EXPECT_EQ(queued_at_call, "");
    EXPECT_EQ(out.pending.substr(0, 2), "P,");
    EXPECT_EQ(receiver.state(), RxState::IDLE);
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
