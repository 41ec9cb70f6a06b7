#include "simulator/encoder.h"
#include "tests/simulator/libfec_reference.h"

// libfec's header has no C++ linkage block of its own.
extern "C" {
#include <fec.h>
}
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

using sondrel::Bytes;

namespace {

// Reference descrambler written from its formula: out(n) = in(n) ^ in(n-3) ^
// in(n-17), the bit before the first counting as 1 and all earlier ones as 0.
Bytes reference_descramble(const Bytes& in) {
    std::vector<int> bits;
    for (std::uint8_t byte : in) {
        for (int b = 7; b >= 0; --b) {
            bits.push_back((byte >> b) & 1);
        }
    }
    auto at = [&bits](long n) { return n >= 0 ? bits[static_cast<std::size_t>(n)] : n == -1; };
    Bytes out(in.size(), 0);
    for (long n = 0; n < static_cast<long>(bits.size()); ++n) {
        int bit = at(n) ^ at(n - 3) ^ at(n - 17);
        out[static_cast<std::size_t>(n / 8)] |= static_cast<std::uint8_t>(bit << (7 - n % 8));
    }
    return out;
}

using libfec_reference::rs_decode;
using libfec_reference::viterbi;

Bytes pattern(std::size_t n, unsigned seed) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 37 + seed * 101 + (i * i) % 13) & 0xFF);
    }
    return bytes;
}

} // namespace

TEST(Scrambler, ReferenceDescramblerRestoresScrambledBlocksOfEveryLength) {
    for (std::size_t n : {1U, 2U, 3U, 17U, 24U, 32U}) {
        Bytes plain = pattern(n, static_cast<unsigned>(n));
        Bytes sent = plain;
        sondrel::scramble(sent);
        EXPECT_NE(sent, plain) << n;
        EXPECT_EQ(reference_descramble(sent), plain) << n;
    }
}

TEST(Scrambler, AllZeroReceivedBitsDescrambleToOnesAtPositionsTwoAndSixteen) {
    Bytes zeros(4, 0);
    Bytes out = reference_descramble(zeros);
    EXPECT_EQ(out, (Bytes{0x20, 0x00, 0x80, 0x00}));
    // So the plain text with those two bits set scrambles to all zeros.
    Bytes plain = out;
    sondrel::scramble(plain);
    EXPECT_EQ(plain, zeros);
}

TEST(ReedSolomon, CodewordsHaveZeroSyndromeForEveryBlockSize) {
    for (std::size_t k : {1U, 5U, 16U, 17U, 24U, 31U, 32U}) {
        Bytes word = sondrel::rs_encode(pattern(k, 3));
        ASSERT_EQ(word.size(), k + 16);
        EXPECT_TRUE(
            std::equal(word.begin(), word.begin() + static_cast<long>(k), pattern(k, 3).begin()));
        EXPECT_EQ(rs_decode(word, k), 0) << k;
    }
}

TEST(ReedSolomon, CorruptedSymbolsAreCountedUpToEightAndBeyondAreUncorrectable) {
    const Bytes payload = pattern(24, 9);
    const Bytes clean = sondrel::rs_encode(payload);
    for (int count = 0; count <= 8; ++count) {
        Bytes word = clean;
        sondrel::corrupt_symbols(word, count, 1000U + static_cast<unsigned>(count));
        int differing = 0;
        for (std::size_t i = 0; i < word.size(); ++i) {
            differing += word[i] != clean[i];
        }
        EXPECT_EQ(differing, count);
        Bytes corrected;
        EXPECT_EQ(rs_decode(word, 24, &corrected), count);
        EXPECT_EQ(corrected, clean);
    }
    for (std::uint32_t seed = 0; seed < 20; ++seed) {
        Bytes word = clean;
        sondrel::corrupt_symbols(word, 14, seed);
        EXPECT_LT(rs_decode(word, 24), 0) << seed;
    }
}

TEST(ReedSolomon, CorruptionIsDeterministicForASeed) {
    Bytes a = sondrel::rs_encode(pattern(32, 1));
    Bytes b = a;
    Bytes c = a;
    sondrel::corrupt_symbols(a, 5, 77);
    sondrel::corrupt_symbols(b, 5, 77);
    sondrel::corrupt_symbols(c, 5, 78);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(Convolutional, HandComputedShortInput) {
    // Input 0x80 then the tail: the single 1 bit walks from register bit 0 to
    // bit 6, so the pairs are (bit j of 0x6D, bit j of 0x4F) for j = 0..6:
    // 11 01 11 11 00 10 11, then zeros; 28 code bits and 4 padding bits.
    Bytes code = sondrel::convolutional_encode(Bytes{0x80});
    EXPECT_EQ(code, (Bytes{0xDF, 0x2C, 0x00, 0x00}));
}

TEST(Convolutional, LibraryViterbiDecodesTheCodeBackWithAndWithoutScatteredBitErrors) {
    for (std::size_t n : {1U, 40U, 48U, 336U, 1520U}) {
        Bytes data = pattern(n, static_cast<unsigned>(n));
        Bytes code = sondrel::convolutional_encode(data);
        ASSERT_EQ(code.size(), 2 * n + 2);
        EXPECT_EQ(code.back() & 0x0F, 0);
        EXPECT_EQ(viterbi(code, n), data) << n;
        std::vector<int> flips;
        for (int bit = 5; bit < static_cast<int>(16 * n + 12); bit += 53) {
            flips.push_back(bit);
        }
        sondrel::flip_code_bits(code, flips);
        EXPECT_EQ(viterbi(code, n), data) << n << " with " << flips.size() << " errors";
    }
}

TEST(Framing, GeometryOfBlocksFollowsMantLength) {
    struct Case {
        int l;
        std::size_t mant_len;
        std::size_t full_blocks;
        std::size_t partial;
        std::size_t digits_after_first;
    };
    const Case cases[] = {
        {24, 20, 0, 0, 0},
        {24, 22, 0, 0, 0},
        {24, 23, 0, 1, 72},
        {24, 22 + 64, 2, 0, 388},
        {24, 22 + 37, 1, 5, 4 * (48 + 21) + 4},
        {17, 1023, 31, 16, 6084},
        {32, 30, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Bytes mant = pattern(c.mant_len, 4);
        Bytes air = sondrel::airlink_data(5, mant);
        sondrel::Codewords words = sondrel::make_codewords(air, c.l);
        EXPECT_EQ(words.first.size(), static_cast<std::size_t>(c.l) + 16);
        std::size_t full = 0;
        std::size_t partial = 0;
        for (const Bytes& w : words.second) {
            if (w.size() == 48) {
                ++full;
            } else {
                partial = w.size() - 16;
            }
        }
        EXPECT_EQ(full, c.full_blocks) << c.mant_len;
        EXPECT_EQ(partial, c.partial) << c.mant_len;
        std::string stream = sondrel::to_stream(sondrel::encode_codewords(words));
        EXPECT_EQ(stream.size(), 1 + 4 * static_cast<std::size_t>(c.l) + 68 + c.digits_after_first)
            << c.mant_len;
    }
}

TEST(Framing, ReceiverSideDecodingRestoresTheAirlinkData) {
    Bytes mant = pattern(100, 8);
    Bytes air = sondrel::airlink_data(33, mant);
    EXPECT_EQ(air[0], (33 << 2) | 0);
    EXPECT_EQ(air[1], 100);
    sondrel::Codewords words = sondrel::make_codewords(air, 24);
    sondrel::CodeStreams code = sondrel::encode_codewords(words);
    Bytes first = viterbi(code.first, 40);
    ASSERT_EQ(rs_decode(first, 24, &first), 0);
    Bytes rebuilt = reference_descramble(Bytes(first.begin(), first.begin() + 24));
    std::size_t joined = 0;
    for (const Bytes& w : words.second) {
        joined += w.size();
    }
    Bytes second = viterbi(code.second, joined);
    std::size_t at = 0;
    for (const Bytes& w : words.second) {
        Bytes word(second.begin() + static_cast<long>(at),
                   second.begin() + static_cast<long>(at + w.size()));
        ASSERT_EQ(rs_decode(word, w.size() - 16, &word), 0);
        Bytes plain = reference_descramble(Bytes(word.begin(), word.end() - 16));
        rebuilt.insert(rebuilt.end(), plain.begin(), plain.end());
        at += w.size();
    }
    EXPECT_EQ(rebuilt, air);
}

TEST(Framing, StreamIsLowercaseXThenUppercaseHexOfEveryCodeByte) {
    sondrel::CodeStreams code{Bytes{0x0A, 0xFF}, Bytes{0x10}};
    EXPECT_EQ(sondrel::to_stream(code), "x0AFF10");
}
