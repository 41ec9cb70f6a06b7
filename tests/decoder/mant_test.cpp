#include "decoder/mant.h"

#include "receive_helpers.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

using namespace receive_test;

// A P record as the receive loop writes it, for the given AirLink data split
// into blocks of L then 32 bytes, each followed by its result from rs.
std::string p_record(const Bytes& airlink, int first_payload, const std::vector<int>& rs,
                     const std::string& seconds = "26.007") {
    std::string text =
        "P,0,2014,06,04,20,25," + seconds + "," + std::to_string(airlink.size() - 2) + ",";
    std::size_t offset = 0;
    std::size_t block = 0;
    while (offset < airlink.size() || block == 0) {
        const std::size_t length = block == 0 ? static_cast<std::size_t>(first_payload)
                                              : std::min<std::size_t>(32, airlink.size() - offset);
        text += std::to_string(length) + ",";
        for (std::size_t i = 0; i < length; ++i) {
            append_hex(text, offset + i < airlink.size() ? airlink[offset + i] : 0);
        }
        text += std::to_string(rs.at(block++)) + ",";
        offset += length;
    }
    return text + (block > 1 ? "1000,2000\r\n" : "1000\r\n");
}

// The lines process_p_string queued, without their CR LF.
std::vector<std::string> mant_lines(const std::string& record, int first_payload = 24) {
    RecordOutput out;
    out.console = nullptr;
    process_p_string(record, first_payload, out);
    return quorvel_test::crlf_lines(out.pending);
}

const std::string kN = "N,2014,06,04,20,25,26.0070,";

TEST(MantExtraction, WritesOneNRecordPerMantPacketInOrder) {
    const Bytes a = mant_packet(1234, {0xAB, 0x01});
    const Bytes b = mant_packet(7, {0x10, 0x20, 0x30}, 0x10, 5);
    EXPECT_EQ(mant_lines(p_record(sondrel::airlink_data(0, concat(a, b)), 24, {0})),
              (std::vector<std::string>{kN + "0,0,0,0,0,0,0,0,0,3,2,1234,AB,01",
                                        kN + "0,0,0,0,0,1,0,0,0,5,3,7,10,20,30"}));
}

TEST(MantExtraction, WritesTheOptionalHeaderFieldsThatAreFlagged) {
    // h0: bits 7..6 = 2, type 1 (extra byte), bit 2, add-path, destination.
    const Bytes packet = {0x8F, 0x2B, 0x80 | 0x20, 0x01, 0x12, 0x34, // fixed header
                          0xBE, 0xEF,                                // destination
                          0x09,                                      // extra byte
                          0x02, 0x00, 0x64,        0x01, 0x2C,       // 2 path addresses
                          0x5A};
    EXPECT_EQ(mant_lines(p_record(sondrel::airlink_data(0, packet), 24, {0})),
              (std::vector<std::string>{kN + "2,1,1,1,1,2,5,1,1,2,1,4660,48879,9,2,100,300,5A"}));
}

TEST(MantExtraction, SecondsAreReadAsFloatAndWrittenWithFourDecimals) {
    const Bytes airlink = sondrel::airlink_data(0, mant_packet(1, {}));
    EXPECT_EQ(mant_lines(p_record(airlink, 24, {0}, "05.007")),
              (std::vector<std::string>{"N,2014,06,04,20,25,5.0070,0,0,0,0,0,0,0,0,0,3,0,1"}));
}

TEST(MantExtraction, QuietCases) {
    std::string padded_with_ff = p_record(sondrel::airlink_data(0, {}), 20, {0});
    padded_with_ff.replace(padded_with_ff.find(",0,20,") + 12, 2, "FF");
    struct Case {
        const char* behaviour;
        std::string record;
        int first_payload;
    };
    const Case cases[] = {
        {"MANT_len 0", p_record(sondrel::airlink_data(0, {}), 24, {0}), 24},
        {"not a P record", "S,1,0,2014,06,04,20,25,26.007,0,24,\r\n", 24},
        {"bytes after MANT_len+1 in the first block are not MANT data", padded_with_ff, 20},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mant_lines(c.record, c.first_payload), std::vector<std::string>{}) << c.behaviour;
    }
}

TEST(MantExtraction, ReportsEachMalformedRecordOnce) {
    const std::string good = p_record(sondrel::airlink_data(0, mant_packet(1, {1, 2})), 24, {0});
    const std::string head = "P,0,2014,06,04,20,25,26.007,10,";
    struct Case {
        std::string record;
        std::string message;
    };
    const Case cases[] = {
        {head + "x,00,\r\n", "S,12,Error 1: parse_block could not find a valid block length."},
        {head + "20,00,", "S,12,Error 2: first block must be 24 bytes long."},
        {head + "24,00,01,ZZ,\r\n", "S,12,Error 3: parse_block could not find enough data blocks."},
        {good.substr(0, good.find(",0,1000")) + ",?,1000\r\n",
         "S,12,Error 4: parse_block could not find a bit error count."},
        {"P,0,2014,06,04,20,25,xx,10,24,\r\n",
         "S,12,Error 6: Failed to correctly parse the header fields on a 'P' input string."},
        {"P,0,2014,06,04,20,25,26.007,10\r\n",
         "S,12,Error 7: Failed to correctly parse the header fields on a 'P' input string."},
        {head + "24,00,0A\r\n", "S,12,Error 10: Expected another field after position " +
                                    std::to_string(head.size() + 6) + "."},
        {good.substr(0, good.find(",0,1000")) + ",0\r\n",
         "S,12,Error 10: Expected another field after position " +
             std::to_string(good.find(",0,1000") + 1) + "."},
        {good.substr(0, good.find(",0,1000")) + ",-1,1000\r\n",
         "S,12,Skipping packet due to uncorrectable errors in first block."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mant_lines(c.record), std::vector<std::string>{c.message}) << c.record;
    }
}

TEST(MantExtraction, RejectsBlockGroupsThatWouldOverflowTheAirLinkData) {
    const std::string overflow = "S,12,Error 11: block groups exceed the AirLink data.";
    const std::string first = p_record(sondrel::airlink_data(0, {}), 24, {0});
    const std::string first_group = first.substr(first.find(",24,") + 1, 24 * 3 + 5);
    const std::string head = "P,0,2014,06,04,20,25,26.007,1000," + first_group;

    std::string long_block = head + "2000,";
    for (int i = 0; i < 2000; ++i) {
        long_block += "01,";
    }
    long_block += "0,1000,2000\r\n";

    // Groups of 40 bytes fit one by one but announce more data than there is room for.
    std::string many = "P,0,2014,06,04,20,25,26.007,1100," + first_group;
    for (int block = 1; block <= 28; ++block) {
        many += "40,";
        for (int i = 0; i < 40; ++i) {
            many += "00,";
        }
        many += "0,";
    }
    many += "1000,2000\r\n";

    EXPECT_EQ(mant_lines(long_block), std::vector<std::string>{overflow});
    EXPECT_EQ(mant_lines(many), std::vector<std::string>{overflow});
}

TEST(MantExtraction, Error5WhenAPacketClaimsMoreThanRemains) {
    Bytes packet = mant_packet(9, {1, 2, 3});
    packet[3] = 4; // claims one byte more than follows
    EXPECT_EQ(mant_lines(p_record(sondrel::airlink_data(0, packet), 24, {0})),
              (std::vector<std::string>{"S,12,Error 5: Specified MANT packet length exceeds "
                                        "airlink length. Remaining AirLink Len: 9; MANT Header "
                                        "Len: 6; MANT Payload Len: 4"}));

    // A header cut short by the data's end reads its missing bytes as 0.
    const Bytes good = mant_packet(3, {7});
    const Bytes stub = {0x00, 0x00, 0x00};
    EXPECT_EQ(mant_lines(p_record(sondrel::airlink_data(0, concat(good, stub)), 24, {0})),
              (std::vector<std::string>{kN + "0,0,0,0,0,0,0,0,0,3,1,3,07",
                                        "S,12,Error 5: Specified MANT packet length exceeds "
                                        "airlink length. Remaining AirLink Len: 3; MANT Header "
                                        "Len: 6; MANT Payload Len: 0"}));
}

// Two second blocks; the first (AirLink offsets 24..55) failed.
struct BadBlockFrame {
    Bytes before = mant_packet(1, counting_bytes(8));    // offsets 2..15
    Bytes touching = mant_packet(2, counting_bytes(30)); // 16..51: payload in the bad block
    Bytes after = mant_packet(3, counting_bytes(20));    // 52..77
};

TEST(MantExtraction, SkipsPacketsThatTouchABadBlockAndGoesOn) {
    BadBlockFrame f;
    const Bytes airlink = sondrel::airlink_data(0, concat(concat(f.before, f.touching), f.after));
    EXPECT_EQ(mant_lines(p_record(airlink, 24, {0, -1, 0})),
              (std::vector<std::string>{kN + "0,0,0,0,0,0,0,0,0,3,8,1,01,02,03,04,05,06,07,08"}));
    // The packet behind starts in the bad block too; with a good block it comes out.
    EXPECT_EQ(mant_lines(p_record(airlink, 24, {0, 0, 0})).size(), 3u);

    // Compact-report packets (h1 bits 7..4 = 1) are still length-checked.
    f.touching[1] = 0x10;
    f.touching[3] = 80; // reaches past the data
    const Bytes compact = sondrel::airlink_data(0, concat(f.before, f.touching));
    EXPECT_EQ(mant_lines(p_record(compact, 24, {0, -1})),
              (std::vector<std::string>{kN + "0,0,0,0,0,0,0,0,0,3,8,1,01,02,03,04,05,06,07,08",
                                        "S,12,Error 5: Specified MANT packet length exceeds "
                                        "airlink length. Remaining AirLink Len: 36; MANT Header "
                                        "Len: 6; MANT Payload Len: 80"}));
}

TEST(MantExtraction, WalkEndsWhenASkippedPacketReachesPastTheData) {
    // The second header lies in the bad block and claims far more than the data holds.
    Bytes airlink = sondrel::airlink_data(
        0, concat(mant_packet(1, counting_bytes(16)), mant_packet(2, counting_bytes(10))));
    airlink[24 + 2] = 0x0F;
    EXPECT_EQ(mant_lines(p_record(airlink, 24, {0, -1})),
              (std::vector<std::string>{kN + "0,0,0,0,0,0,0,0,0,3,16,1,01,02,03,04,05,06,07,08,"
                                             "09,0A,0B,0C,0D,0E,0F,10"}));
}

TEST(MantExtraction, ZeroLengthPacketEndsTheWalk) {
    // Type 1 and a path count of 124 make the header length wrap to 0.
    Bytes packet = {0x0A, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x7C};
    const std::vector<std::string> lines =
        mant_lines(p_record(sondrel::airlink_data(0, packet), 24, {0}));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "S,12,Error 12: MANT packet of zero length at AirLink offset 2."}));
}

} // namespace
} // namespace quorvel
