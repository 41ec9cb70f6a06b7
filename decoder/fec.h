// AirLink forward error correction: Viterbi (K=7, rate 1/2), Reed-Solomon
// RS(255,239) shortened per block, and the self-synchronising descrambler.
// The one place that talks to libfec; everything else calls these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace quorvel {

constexpr int kParityBytes = 16;
constexpr int kFullBlockPayload = 32;
constexpr int kFullBlockLength = kFullBlockPayload + kParityBytes; // 48
constexpr int kMinFirstPayload = 17;
constexpr int kMaxFirstPayload = 32;
constexpr int kReceiveBufferSize = 3460;
constexpr int kDecodedStreamSize = 1728;
constexpr int kMaxSecondBlocks = 32; // 31 full + 1 partial at MANT_len 1023, L 17

// Owns one libfec Reed-Solomon codec (init_rs_char / free_rs_char).
struct RsCodecDeleter {
    void operator()(void* codec) const;
};
using RsCodec = std::unique_ptr<void, RsCodecDeleter>;

// init_rs_char(8, 0x187, 112, 11, 16, padding). On failure writes
// "create rs failed\r\n" to stderr, flushes stdout and exits with status 1.
RsCodec create_rs_codec(int padding);

// Where the second blocks of a packet lie (only when MANT_len > L - 2).
struct SecondBlockGeometry {
    int full_blocks = 0;     // 32-byte payload blocks
    int partial_payload = 0; // r: payload of the last, shorter block; 0 when none
    int stream_length = 0;   // B: codeword bytes of all second blocks together
    int expected_digits = 0; // 4B + 4 hexadecimal digits on the wire
};

// Whether MANT_len announces second blocks for first-block payload L.
bool has_second_blocks(int mant_len, int first_payload);
SecondBlockGeometry second_block_geometry(int mant_len, int first_payload);

// Code digits of the first block: 4L + 68.
int first_block_digits(int first_payload);

// Decodes n bytes from the code bytes (16n + 12 code bits, MSB first) into out
// (n bytes). Code bits missing from a short span count as 0. Exits with status
// 1 ("create_viterbi27 failed\r\n" on stderr) when the decoder cannot be created.
void viterbi_decode(std::span<const std::uint8_t> code, int n, std::uint8_t* out);

// Descrambles count payload bytes in place, register starting at 1.
void descramble_block(std::uint8_t* bytes, std::size_t count);

// One decoded block: its payload and Reed-Solomon result (corrected symbols
// 0..8, or -1 for an uncorrectable codeword, whatever negative value the
// library gave).
struct DecodedBlock {
    int length = 0;
    std::array<std::uint8_t, kFullBlockPayload> payload{};
    int rs_result = 0;
};

// The two long-lived codecs and the work buffers of the decoder.
struct FecContext {
    int first_payload = 24; // L
    RsCodec first_codec;    // padding 239 - L
    RsCodec full_codec;     // padding 207
    std::array<std::uint8_t, kDecodedStreamSize> decoded{};
};

// Creates both codecs (exits on failure, as create_rs_codec does). A partial
// second block gets a codec of its own for each packet, created and freed
// around its one use.
void init_fec(FecContext& fec, int first_payload);

// Decodes the first block from its 2L + 34 code bytes; payload gets L bytes.
// Returns the Reed-Solomon result (-1 when uncorrectable).
int decode_first_block(FecContext& fec, std::span<const std::uint8_t> code,
                       std::span<std::uint8_t> payload);

// Decodes every second block from the 2B + 2 code bytes; fills blocks in order
// and returns how many there are (full blocks, then the partial one). Returns 0
// for a geometry no AirLink length gives (more than kMaxSecondBlocks blocks).
int decode_second_blocks(FecContext& fec, const SecondBlockGeometry& geometry,
                         std::span<const std::uint8_t> code,
                         std::span<DecodedBlock, kMaxSecondBlocks> blocks);

} // namespace quorvel
