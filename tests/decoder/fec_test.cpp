#include "decoder/fec.h"

#include "simulator/encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace {

using sondrel::Bytes;

// AirLink data with MANT_len MANT bytes of a recognisable pattern.
Bytes airlink_of(int mant_len, int alres = 42) {
    Bytes mant(static_cast<std::size_t>(mant_len));
    for (int i = 0; i < mant_len; ++i) {
        mant[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return sondrel::airlink_data(alres, mant);
}

Bytes slice(const Bytes& data, std::size_t offset, std::size_t size) {
    Bytes part(size, 0);
    for (std::size_t i = 0; i < size && offset + i < data.size(); ++i) {
        part[i] = data[offset + i];
    }
    return part;
}

struct Decoded {
    Bytes first;
    int first_result = 0;
    std::array<quorvel::DecodedBlock, quorvel::kMaxSecondBlocks> blocks{};
    int block_count = 0;
};

Decoded decode(const sondrel::CodeStreams& code, int first_payload, int mant_len) {
    quorvel::FecContext fec;
    quorvel::init_fec(fec, first_payload);
    Decoded decoded;
    decoded.first.assign(static_cast<std::size_t>(first_payload), 0);
    decoded.first_result = quorvel::decode_first_block(fec, code.first, decoded.first);
    if (quorvel::has_second_blocks(mant_len, first_payload)) {
        const auto geometry = quorvel::second_block_geometry(mant_len, first_payload);
        decoded.block_count =
            quorvel::decode_second_blocks(fec, geometry, code.second, decoded.blocks);
    }
    return decoded;
}

TEST(SecondBlockGeometry, FollowsMantLenAndFirstPayload) {
    struct Case {
        int first_payload, mant_len;
        bool second;
        int full, partial, stream, digits;
    };
    const Case cases[] = {
        {24, 0, false, 0, 0, 0, 0},
        {24, 22, false, 0, 0, 0, 0},
        {24, 23, true, 0, 1, 17, 72},
        {24, 22 + 64, true, 2, 0, 96, 388},
        {24, 22 + 5 + 32, true, 1, 5, 69, 280},
        {17, 1023, true, 31, 16, 1520, 6084},
        {32, 31, true, 0, 1, 17, 72},
        {17, 15, false, 0, 0, 0, 0},
        {17, 16, true, 0, 1, 17, 72},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quorvel::has_second_blocks(c.mant_len, c.first_payload), c.second)
            << c.first_payload << "/" << c.mant_len;
        const auto g = quorvel::second_block_geometry(c.mant_len, c.first_payload);
        EXPECT_EQ(g.full_blocks, c.full) << c.first_payload << "/" << c.mant_len;
        EXPECT_EQ(g.partial_payload, c.partial) << c.first_payload << "/" << c.mant_len;
        EXPECT_EQ(g.stream_length, c.stream) << c.first_payload << "/" << c.mant_len;
        EXPECT_EQ(g.expected_digits, c.digits) << c.first_payload << "/" << c.mant_len;
    }
    EXPECT_EQ(quorvel::first_block_digits(24), 164);
    EXPECT_EQ(quorvel::first_block_digits(17), 136);
    EXPECT_EQ(quorvel::first_block_digits(32), 196);
}

TEST(Descrambler, AllZeroRunGivesOnesAtBitsTwoAndSixteen) {
    std::array<std::uint8_t, 4> bytes{};
    quorvel::descramble_block(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 4>{0x20, 0x00, 0x80, 0x00}));
}

TEST(Descrambler, UndoesTheReceiverScrambler) {
    Bytes data = airlink_of(40);
    Bytes scrambled = data;
    sondrel::scramble(scrambled);
    quorvel::descramble_block(scrambled.data(), scrambled.size());
    EXPECT_EQ(scrambled, data);
}

// Round trips through the receiver-side encoder: every payload byte comes back
// with result 0, in the blocks and lengths the geometry names.
TEST(FecRoundTrip, EveryBlockComesBackIntactForEachFirstPayloadAndGeometry) {
    struct Case {
        int first_payload, mant_len;
    };
    const Case cases[] = {
        {17, 0},  {17, 15},      {17, 16},  {17, 15 + 64}, {17, 1023},   {24, 22},  {24, 23},
        {24, 59}, {24, 22 + 64}, {24, 300}, {32, 30},      {32, 30 + 1}, {32, 100}, {32, 1023},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "L=" << c.first_payload << " MANT_len=" << c.mant_len);
        const Bytes airlink = airlink_of(c.mant_len);
        const auto code =
            sondrel::encode_codewords(sondrel::make_codewords(airlink, c.first_payload));
        const auto geometry = quorvel::second_block_geometry(c.mant_len, c.first_payload);
        EXPECT_EQ(code.first.size(), static_cast<std::size_t>(2 * c.first_payload + 34));
        EXPECT_EQ(code.second.size(), static_cast<std::size_t>(geometry.expected_digits / 2));

        const Decoded decoded = decode(code, c.first_payload, c.mant_len);
        EXPECT_EQ(decoded.first_result, 0);
        EXPECT_EQ(decoded.first, slice(airlink, 0, static_cast<std::size_t>(c.first_payload)));
        EXPECT_EQ(decoded.first[0] >> 2, 42);
        EXPECT_EQ((decoded.first[0] & 3) * 256 + decoded.first[1], c.mant_len);

        ASSERT_EQ(decoded.block_count,
                  geometry.full_blocks + (geometry.partial_payload > 0 ? 1 : 0));
        std::size_t offset = static_cast<std::size_t>(c.first_payload);
        for (int k = 0; k < decoded.block_count; ++k) {
            const auto& block = decoded.blocks[static_cast<std::size_t>(k)];
            const int expected_length =
                k < geometry.full_blocks ? quorvel::kFullBlockPayload : geometry.partial_payload;
            ASSERT_EQ(block.length, expected_length) << "block " << k;
            EXPECT_EQ(block.rs_result, 0) << "block " << k;
            const Bytes payload(block.payload.begin(), block.payload.begin() + block.length);
            EXPECT_EQ(payload, slice(airlink, offset, static_cast<std::size_t>(block.length)))
                << "block " << k;
            offset += static_cast<std::size_t>(block.length);
        }
        EXPECT_EQ(offset, std::max(airlink.size(), static_cast<std::size_t>(c.first_payload)));
    }
}

TEST(FecReedSolomon, CountsCorrectedSymbolsUpToEightAndReportsMinusOneBeyond) {
    const int first_payload = 24;
    const Bytes airlink = airlink_of(20);
    for (int errors = 0; errors <= 12; ++errors) {
        for (std::uint32_t seed = 1; seed <= 4; ++seed) {
            SCOPED_TRACE(testing::Message() << errors << " errors, seed " << seed);
            auto words = sondrel::make_codewords(airlink, first_payload);
            sondrel::corrupt_symbols(words.first, errors, seed);
            const Decoded decoded =
                decode(sondrel::encode_codewords(words), first_payload, /*mant_len=*/20);
            if (errors <= 8) {
                EXPECT_EQ(decoded.first_result, errors);
                EXPECT_EQ(decoded.first, slice(airlink, 0, first_payload));
            } else {
                // Whatever negative value the library gives, the records know -1.
                EXPECT_EQ(decoded.first_result, -1);
            }
        }
    }
}

TEST(FecReedSolomon, UncorrectableBlockKeepsItsBytesAndSparesTheOthers) {
    const int first_payload = 17;
    const int mant_len = 15 + 32 + 32 + 10; // two full blocks and a partial of 10
    const Bytes airlink = airlink_of(mant_len);
    auto words = sondrel::make_codewords(airlink, first_payload);
    ASSERT_EQ(words.second.size(), 3u);
    sondrel::corrupt_symbols(words.second[1], 12, 7);
    sondrel::corrupt_symbols(words.second[2], 8, 9);
    Bytes received = words.second[1];

    const Decoded decoded = decode(sondrel::encode_codewords(words), first_payload, mant_len);
    ASSERT_EQ(decoded.block_count, 3);
    EXPECT_EQ(decoded.blocks[0].rs_result, 0);
    EXPECT_EQ(decoded.blocks[1].rs_result, -1);
    EXPECT_EQ(decoded.blocks[2].rs_result, 8);
    EXPECT_EQ(Bytes(decoded.blocks[2].payload.begin(), decoded.blocks[2].payload.begin() + 10),
              slice(airlink, 17 + 64, 10));
    // The bad block's payload is what arrived, descrambled, not corrected.
    quorvel::descramble_block(received.data(), 32);
    EXPECT_EQ(Bytes(decoded.blocks[1].payload.begin(), decoded.blocks[1].payload.end()),
              slice(received, 0, 32));
}

TEST(FecViterbi, CorrectsScatteredCodeBitErrors) {
    const int first_payload = 24;
    const int mant_len = 22 + 32 + 5;
    const Bytes airlink = airlink_of(mant_len);
    auto code = sondrel::encode_codewords(sondrel::make_codewords(airlink, first_payload));
    std::vector<int> first_bits;
    for (int bit = 3; bit < 16 * 40 + 12; bit += 37) {
        first_bits.push_back(bit);
    }
    std::vector<int> second_bits;
    for (int bit = 20; bit < static_cast<int>(code.second.size()) * 8 - 4; bit += 45) {
        second_bits.push_back(bit);
    }
    sondrel::flip_code_bits(code.first, first_bits);
    sondrel::flip_code_bits(code.second, second_bits);

    const Decoded decoded = decode(code, first_payload, mant_len);
    EXPECT_EQ(decoded.first_result, 0);
    EXPECT_EQ(decoded.first, slice(airlink, 0, first_payload));
    ASSERT_EQ(decoded.block_count, 2);
    EXPECT_EQ(decoded.blocks[0].rs_result, 0);
    EXPECT_EQ(decoded.blocks[1].rs_result, 0);
    EXPECT_EQ(Bytes(decoded.blocks[1].payload.begin(), decoded.blocks[1].payload.begin() + 5),
              slice(airlink, 24 + 32, 5));
}

} // namespace
