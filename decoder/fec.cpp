#include "decoder/fec.h"

extern "C" {
#include <fec.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quorvel {

namespace {

constexpr int kSymbolSize = 8;
constexpr int kFieldPolynomial = 0x187;
constexpr int kFirstRoot = 112;
constexpr int kPrimitiveElement = 11;
constexpr int kMaxPadding = 255 - kParityBytes; // 239
constexpr int kTailBits = 6;

[[noreturn]] void fail(const char* message) {
    std::fputs(message, stderr);
    std::fflush(stdout);
    std::exit(1);
}

struct ViterbiDeleter {
    void operator()(void* decoder) const { delete_viterbi27(decoder); }
};
using ViterbiDecoder = std::unique_ptr<void, ViterbiDeleter>;

// The library keeps the polynomials in a table filled at the first create
// with its own default pair; ours must be in place before that.
void set_polynomials_once() {
    static bool done = false;
    if (!done) {
        int polys[2] = {0x6D, 0x4F};
        set_viterbi27_polynomial(polys);
        done = true;
    }
}

// The library signals an uncorrectable codeword with several negative values;
// the records know only -1.
int rs_decode(void* codec, std::uint8_t* codeword) {
    const int result = decode_rs_char(codec, codeword, nullptr, 0);
    return result < 0 ? -1 : result;
}

DecodedBlock decode_block(void* codec, const std::uint8_t* codeword, int payload) {
    std::array<std::uint8_t, kFullBlockLength> work{};
    std::memcpy(work.data(), codeword, static_cast<std::size_t>(payload + kParityBytes));
    DecodedBlock block;
    block.length = payload;
    block.rs_result = rs_decode(codec, work.data());
    descramble_block(work.data(), static_cast<std::size_t>(payload));
    std::memcpy(block.payload.data(), work.data(), static_cast<std::size_t>(payload));
    return block;
}

} // namespace

void RsCodecDeleter::operator()(void* codec) const {
    free_rs_char(codec);
}

RsCodec create_rs_codec(int padding) {
    void* codec = nullptr;
    if (padding >= 0 && padding < kMaxPadding) {
        codec = init_rs_char(kSymbolSize, kFieldPolynomial, kFirstRoot, kPrimitiveElement,
                             kParityBytes, padding);
    }
    if (codec == nullptr) {
        fail("create rs failed\r\n");
    }
    return RsCodec(codec);
}

bool has_second_blocks(int mant_len, int first_payload) {
    return mant_len > first_payload - 2;
}

SecondBlockGeometry second_block_geometry(int mant_len, int first_payload) {
    SecondBlockGeometry geometry;
    if (!has_second_blocks(mant_len, first_payload)) {
        return geometry;
    }
    const int remaining = mant_len - (first_payload - 2);
    geometry.full_blocks = remaining / kFullBlockPayload;
    geometry.partial_payload = remaining % kFullBlockPayload;
    geometry.stream_length = kFullBlockLength * geometry.full_blocks;
    if (geometry.partial_payload > 0) {
        geometry.stream_length += geometry.partial_payload + kParityBytes;
    }
    geometry.expected_digits = 4 * geometry.stream_length + 4;
    return geometry;
}

int first_block_digits(int first_payload) {
    return 4 * first_payload + 68;
}

void viterbi_decode(std::span<const std::uint8_t> code, int n, std::uint8_t* out) {
    const std::size_t bits = 16 * static_cast<std::size_t>(n) + 12;
    std::vector<std::uint8_t> symbols(bits, 0);
    for (std::size_t i = 0; i < bits && i / 8 < code.size(); ++i) {
        symbols[i] = ((code[i / 8] >> (7 - i % 8)) & 1) != 0 ? 255 : 0;
    }
    set_polynomials_once();
    ViterbiDecoder decoder(create_viterbi27(8 * n));
    if (!decoder) {
        fail("create_viterbi27 failed\r\n");
    }
    init_viterbi27(decoder.get(), 0);
    update_viterbi27_blk(decoder.get(), symbols.data(), 8 * n + kTailBits);
    chainback_viterbi27(decoder.get(), out, static_cast<unsigned>(8 * n), 0);
}

void descramble_block(std::uint8_t* bytes, std::size_t count) {
    std::uint32_t reg = 1;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t output = 0;
        for (int bit = 7; bit >= 0; --bit) {
            const std::uint32_t input = (bytes[i] >> bit) & 1u;
            const std::uint32_t out_bit = input ^ ((reg >> 16) & 1u) ^ ((reg >> 2) & 1u);
            output = static_cast<std::uint8_t>(output | (out_bit << bit));
            reg = (reg << 1) | input;
        }
        bytes[i] = output;
    }
}

void init_fec(FecContext& fec, int first_payload) {
    fec.first_payload = first_payload;
    fec.first_codec = create_rs_codec(kMaxPadding - first_payload);
    fec.full_codec = create_rs_codec(kMaxPadding - kFullBlockPayload);
}

int decode_first_block(FecContext& fec, std::span<const std::uint8_t> code,
                       std::span<std::uint8_t> payload) {
    const int length = fec.first_payload;
    viterbi_decode(code, length + kParityBytes, fec.decoded.data());
    const DecodedBlock block = decode_block(fec.first_codec.get(), fec.decoded.data(), length);
    std::copy_n(block.payload.begin(), std::min<std::size_t>(payload.size(), length),
                payload.begin());
    return block.rs_result;
}

int decode_second_blocks(FecContext& fec, const SecondBlockGeometry& geometry,
                         std::span<const std::uint8_t> code,
                         std::span<DecodedBlock, kMaxSecondBlocks> blocks) {
    const int count = geometry.full_blocks + (geometry.partial_payload > 0 ? 1 : 0);
    if (count > kMaxSecondBlocks || geometry.stream_length > kDecodedStreamSize ||
        geometry.partial_payload >= kFullBlockPayload) {
        return 0;
    }
    viterbi_decode(code, geometry.stream_length, fec.decoded.data());
    const std::uint8_t* stream = fec.decoded.data();
    for (int j = 0; j < geometry.full_blocks; ++j) {
        blocks[j] =
            decode_block(fec.full_codec.get(), stream + kFullBlockLength * j, kFullBlockPayload);
    }
    if (geometry.partial_payload > 0) {
        const RsCodec partial = create_rs_codec(kMaxPadding - geometry.partial_payload);
        blocks[geometry.full_blocks] =
            decode_block(partial.get(), stream + kFullBlockLength * geometry.full_blocks,
                         geometry.partial_payload);
    }
    return count;
}

} // namespace quorvel
