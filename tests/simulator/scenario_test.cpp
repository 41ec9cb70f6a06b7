#include "simulator/alert2.h"
#include "simulator/expect.h"
#include "simulator/mant_packet.h"
#include "simulator/scenario.h"
#include "tests/simulator/libfec_reference.h"

extern "C" {
#include <fec.h>
}
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

using sondrel::Bytes;

namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) {
        fields.push_back(field);
    }
    return fields;
}

sondrel::ScenarioOptions options(int l, std::uint32_t seed) {
    sondrel::ScenarioOptions o;
    o.first_payload = l;
    o.seed = seed;
    o.start_time = 1700000000;
    return o;
}

// Checks that an application packet is consumed exactly by its layout.
void expect_app_layout(const Bytes& app, int payload_kind) {
    ASSERT_FALSE(app.empty());
    std::size_t at = (app[0] & 0x04) ? 3 : 1;
    ASSERT_LE(at, app.size());
    EXPECT_EQ(app[0] & 0x80, 0);
    if (payload_kind == 1) {
        EXPECT_EQ((app.size() - at) % 4, 0U);
        EXPECT_GT(app.size(), at);
        return;
    }
    ASSERT_EQ(payload_kind, 0);
    ASSERT_LT(at, app.size());
    while (at < app.size()) {
        ASSERT_LE(at + 2, app.size());
        const int type = app[at];
        const std::size_t length = app[at + 1];
        ASSERT_LE(at + 2 + length, app.size());
        Bytes body(app.begin() + static_cast<long>(at + 2),
                   app.begin() + static_cast<long>(at + 2 + length));
        at += 2 + length;
        if (type == 1) {
            std::size_t i = 0;
            while (i < body.size()) {
                ASSERT_LE(i + 2, body.size());
                const int value_type = body[i + 1] >> 4;
                const int value_length = body[i + 1] & 15;
                EXPECT_TRUE(value_type >= 1 && value_type <= 3);
                EXPECT_TRUE(value_length >= 1 && value_length <= 4);
                if (value_type == 3) {
                    EXPECT_EQ(value_length, 4);
                }
                i += 2 + static_cast<std::size_t>(value_length);
            }
            EXPECT_EQ(i, body.size());
        } else if (type == 2) {
            ASSERT_GE(body.size(), 2U);
            EXPECT_GE(body.size(), 2U + (body[1] & 15));
        } else if (type == 3) {
            ASSERT_GE(body.size(), 1U);
            std::size_t size = 1;
            for (int bit = 0; bit < 8; ++bit) {
                if ((body[0] >> bit) & 1) {
                    size += static_cast<std::size_t>(sondrel::alert2::msr_width(bit));
                }
            }
            EXPECT_EQ(body.size(), size);
        } else {
            ADD_FAILURE() << "element type " << type;
        }
    }
}

// The receiver's decoding done here with libfec directly: payload bytes and
// Reed-Solomon result of every block, from the hex stream.
std::vector<sondrel::ReceivedBlock> decode_stream(const std::string& stream, int l) {
    auto code_bytes = [&stream](std::size_t from, std::size_t count) {
        Bytes out(count);
        for (std::size_t i = 0; i < count; ++i) {
            out[i] =
                static_cast<std::uint8_t>(std::stoi(stream.substr(from + 2 * i, 2), nullptr, 16));
        }
        return out;
    };
    auto rs_block = [](const Bytes& word) {
        const std::size_t k = word.size() - 16;
        Bytes corrected;
        const int result = libfec_reference::rs_decode(word, k, &corrected);
        return sondrel::ReceivedBlock{sondrel::descramble(std::span(corrected).first(k)),
                                      result < 0 ? -1 : result};
    };
    using libfec_reference::viterbi;
    const auto lu = static_cast<std::size_t>(l);
    std::vector<sondrel::ReceivedBlock> blocks;
    blocks.push_back(rs_block(viterbi(code_bytes(1, 2 * lu + 34), lu + 16)));
    const int mant_len = (blocks[0].payload[0] & 3) * 256 + blocks[0].payload[1];
    if (blocks[0].result < 0 || mant_len <= l - 2) {
        return blocks;
    }
    const std::size_t remaining = static_cast<std::size_t>(mant_len - (l - 2));
    const std::size_t full = remaining / 32;
    const std::size_t r = remaining % 32;
    const std::size_t b = 48 * full + (r ? r + 16 : 0);
    Bytes joined = viterbi(code_bytes(1 + 2 * (2 * lu + 34), 2 * b + 2), b);
    for (std::size_t k = 0; k < full; ++k) {
        blocks.push_back(rs_block(Bytes(joined.begin() + static_cast<long>(48 * k),
                                        joined.begin() + static_cast<long>(48 * k + 48))));
    }
    if (r) {
        blocks.push_back(
            rs_block(Bytes(joined.begin() + static_cast<long>(48 * full), joined.end())));
    }
    return blocks;
}

} // namespace

TEST(Scenario, SameSeedGivesTheSameStreamAndRecordsAndOtherSeedsDiffer) {
    auto o = options(24, 7);
    o.faults.rs_failed = 10;
    o.faults.truncated = 10;
    sondrel::Scenario a(o);
    sondrel::Scenario b(o);
    o.seed = 8;
    sondrel::Scenario c(o);
    bool differs = false;
    for (int i = 0; i < 40; ++i) {
        auto pa = a.next();
        auto pb = b.next();
        auto pc = c.next();
        ASSERT_EQ(pa.stream, pb.stream) << i;
        ASSERT_EQ(pa.expected, pb.expected) << i;
        differs = differs || pa.stream != pc.stream;
    }
    EXPECT_TRUE(differs);
}

TEST(Scenario, MantPacketsAndApplicationPacketsParseByTheirLayout) {
    sondrel::Scenario s(options(24, 3));
    std::set<unsigned> sources;
    int with_destination = 0, with_extra = 0, with_path = 0, several = 0, stamped = 0, compact = 0;
    for (int frame = 0; frame < 300; ++frame) {
        const Bytes mant = s.next_mant_data();
        ASSERT_LE(mant.size(), 1023U);
        std::size_t off = 0;
        int packets = 0;
        while (off < mant.size()) {
            ASSERT_LE(off + 6, mant.size());
            const std::uint8_t h0 = mant[off];
            std::size_t header = 6 + 2 * (h0 & 1) + (((h0 >> 3) & 7) == 1 ? 1 : 0);
            if (h0 & 2) {
                const int count = mant[off + header];
                EXPECT_TRUE(count >= 1 && count <= 5);
                header += 1 + 2 * static_cast<std::size_t>(count);
                ++with_path;
            }
            with_destination += h0 & 1;
            with_extra += ((h0 >> 3) & 7) == 1;
            const std::size_t payload = (mant[off + 2] & 0x0Fu) * 256u + mant[off + 3];
            ASSERT_LE(off + header + payload, mant.size());
            sources.insert(mant[off + 4] * 256u + mant[off + 5]);
            const int kind = mant[off + 1] >> 4;
            Bytes app(mant.begin() + static_cast<long>(off + header),
                      mant.begin() + static_cast<long>(off + header + payload));
            expect_app_layout(app, kind);
            stamped += (app[0] & 4) != 0;
            compact += kind == 1;
            off += header + payload;
            ++packets;
        }
        EXPECT_EQ(off, mant.size());
        several += packets > 1;
    }
    EXPECT_GE(sources.size(), 4U);
    EXPECT_GT(with_destination, 0);
    EXPECT_GT(with_extra, 0);
    EXPECT_GT(with_path, 0);
    EXPECT_GT(several, 0);
    EXPECT_GT(stamped, 0);
    EXPECT_GT(compact, 0);
}

TEST(Scenario, MostFramesNeedSecondBlocksAndSomeFitTheFirst) {
    for (int l : {17, 24, 32}) {
        sondrel::Scenario s(options(l, 11));
        int single = 0, many = 0;
        const int frames = 300;
        for (int i = 0; i < frames; ++i) {
            auto p = s.next();
            single += p.second_blocks == 0;
            many += p.second_blocks >= 8;
        }
        EXPECT_GT(single, frames / 20) << l;
        EXPECT_LT(single, frames / 2) << l;
        EXPECT_GT(many, 0) << l;
    }
}

TEST(Scenario, ExpectedRecordsMatchWhatLibfecDecodesFromTheStream) {
    for (int l : {17, 24, 32}) {
        auto o = options(l, 5);
        o.faults.code_bits = 25;
        o.faults.rs_corrected = 25;
        o.faults.rs_failed = 25;
        sondrel::Scenario s(o);
        int failed_first = 0, failed_second = 0, corrected = 0;
        for (int i = 0; i < 120; ++i) {
            auto p = s.next();
            auto blocks = decode_stream(p.stream, l);
            auto predicted = sondrel::expected_frame_records(blocks, l);
            ASSERT_FALSE(predicted.ambiguous);
            ASSERT_EQ(predicted.lines, p.expected) << "packet " << i << " L " << l;
            failed_first += blocks[0].result < 0;
            for (std::size_t k = 0; k < blocks.size(); ++k) {
                failed_second += k > 0 && blocks[k].result < 0;
                corrected += blocks[k].result > 0;
            }
        }
        EXPECT_GT(failed_first, 0);
        EXPECT_GT(failed_second, 0);
        EXPECT_GT(corrected, 0);
    }
}

TEST(Scenario, StreamFaultsGiveTheirAbortRecords) {
    auto o = options(24, 9);
    o.faults.non_hex = 40;
    o.faults.truncated = 40;
    o.faults.overlong = 20;
    sondrel::Scenario s(o);
    int s2 = 0, s3 = 0;
    for (int i = 0; i < 100; ++i) {
        auto p = s.next(i == 99);
        switch (p.fault) {
        case sondrel::FaultKind::non_hex: {
            ASSERT_EQ(p.stream.substr(p.stream.size() - 2), "\r\n");
            const std::string digits = p.stream.substr(1, p.stream.size() - 3);
            EXPECT_NE(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        }
            [[fallthrough]];
        case sondrel::FaultKind::truncated:
            ASSERT_EQ(p.expected.size(), 1U);
            s2 += p.expected[0].rfind("S,2,", 0) == 0;
            s3 += p.expected[0].rfind("S,3,", 0) == 0;
            EXPECT_EQ(p.truncated, p.fault == sondrel::FaultKind::truncated);
            break;
        case sondrel::FaultKind::overlong:
            EXPECT_EQ(p.expected.back().rfind("S,12,Error 5: ", 0), 0U) << p.expected.back();
            break;
        default:
            break;
        }
        if (i == 99) {
            EXPECT_FALSE(p.truncated);
        }
    }
    EXPECT_GT(s2, 0);
    EXPECT_GT(s3, 0);
}

TEST(ExpectedRecords, RecordLayoutsCountTheirFields) {
    // A single-block frame with one MANT packet whose h[0] is 0.
    sondrel::MantHeader h;
    h.source = 1234;
    h.hop_limit = 3;
    Bytes mant = sondrel::mant_packet(h, Bytes{0x00, 0x01, 0x02, 0x00, 0x2A});
    Bytes air = sondrel::airlink_data(0, mant);
    air.resize(24, 0);
    std::vector<sondrel::ReceivedBlock> blocks{{air, 0}};
    auto records = sondrel::expected_frame_records(blocks, 24).lines;
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(split(records[0]).size(), 24U + 12U);
    EXPECT_EQ(records[1], "N,T,T,T,T,T,T,0,0,0,0,0,0,0,0,0,3,5,1234,00,01,02,00,2A");

    EXPECT_EQ(split(sondrel::expected_first_block_abort()).size(), 9U);
    blocks[0].result = -1;
    records = sondrel::expected_frame_records(blocks, 24).lines;
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].rfind("S,1,0,T,T,T,T,T,T,11,24,", 0), 0U) << records[0];
    EXPECT_NE(records[0].find(",-1,*Bad First Block"), std::string::npos);
}

TEST(ExpectedRecords, MantWalkSkipsPacketsTouchingBadBlocksUnlessCompactAndOverlong) {
    // Two MANT packets: the first lies in the first block, the second starts
    // there and runs into the second block, which is bad.
    sondrel::MantHeader h;
    h.source = 7;
    Bytes mant = sondrel::mant_packet(h, Bytes(10, 0x11));
    Bytes second = sondrel::mant_packet(h, Bytes(20, 0x22));
    mant.insert(mant.end(), second.begin(), second.end());
    Bytes air = sondrel::airlink_data(1, mant); // 2 + 16 + 26 = 44 bytes: 24 + 20
    std::vector<sondrel::ReceivedBlock> blocks{{Bytes(air.begin(), air.begin() + 24), 0},
                                               {Bytes(air.begin() + 24, air.end()), -1}};
    auto walk = sondrel::expected_frame_records(blocks, 24);
    ASSERT_EQ(walk.lines.size(), 2U);
    EXPECT_NE(walk.lines[0].find(",20,22,22,"), std::string::npos) << walk.lines[0];
    EXPECT_TRUE(walk.lines[0].ends_with(",-1,U,U")) << walk.lines[0];
    EXPECT_EQ(split(walk.lines[1]).size(), 19U + 10U);

    // The same with a compact-report kind that also claims one byte too many:
    // its length is still checked, so Error 5 appears.
    Bytes& tail = blocks[0].payload;
    tail[2 + 16 + 1] = 0x10;
    tail[2 + 16 + 3] = 21;
    walk = sondrel::expected_frame_records(blocks, 24);
    ASSERT_EQ(walk.lines.size(), 3U);
    EXPECT_EQ(walk.lines[2], "S,12,Error 5: Specified MANT packet length exceeds airlink length. "
                             "Remaining AirLink Len: 26; MANT Header Len: 6; MANT Payload Len: 21");
}

TEST(Alert2, CompactReportsAndValuesPackTheirBits) {
    EXPECT_EQ(sondrel::alert2::compact_report({564, 1407, 5}), (Bytes{0x34, 0xA2, 0x7F, 0x05}));
    EXPECT_EQ(sondrel::alert2::multiple_sensor_body(0x41, {10, 0, 0, 0, 0, 0, -10, 0}),
              (Bytes{0x41, 0x00, 0x0A, 0xFF, 0xF6}));
    sondrel::alert2::Reading r{5, sondrel::alert2::Value::real(12.5F)};
    EXPECT_EQ(sondrel::alert2::general_sensor_body(std::span(&r, 1)),
              (Bytes{0x05, 0x34, 0x41, 0x48, 0x00, 0x00}));
    EXPECT_EQ(sondrel::alert2::half_day_seconds(1700000000), 1700000000 % 43200);
    EXPECT_EQ(sondrel::alert2::app_header({4, true, std::uint16_t{7620}}),
              (Bytes{0x4C, 0x1D, 0xC4}));
}
