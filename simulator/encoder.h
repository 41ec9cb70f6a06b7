// The receiver side of the AirLink: builds the "x" + hex-digit stream a
// receiver sends for an AirLink frame. Written from the protocol definitions,
// independently of the decoder's code, so a mistake on one side cannot hide
// behind the same mistake on the other.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sondrel {

using Bytes = std::vector<std::uint8_t>;

// k payload bytes -> the k + 16 byte codeword (shortened RS(255,239), field
// polynomial 0x187, first root 112, primitive element 11).
Bytes rs_encode(std::span<const std::uint8_t> payload);

// Scrambles payload bytes in place; the inverse of the decoder's descrambler
// (output(n) = input(n) ^ input(n-3) ^ input(n-17), register starting at 1).
void scramble(std::span<std::uint8_t> bytes);

// K=7 rate 1/2 code (polynomials 0x6D then 0x4F, register bit 0 newest), six
// zero tail bits, bits MSB first: n data bytes -> 2n + 2 code bytes (the last
// four bits zero).
Bytes convolutional_encode(std::span<const std::uint8_t> data);

// The two AirLink header bytes (ALRES, MANT_len) followed by the MANT bytes.
Bytes airlink_data(int alres, std::span<const std::uint8_t> mant_bytes);

// The Reed-Solomon codewords of one AirLink frame, payloads scrambled: the
// first block (L payload bytes, zero-padded when the data is shorter), then the
// 32-byte second blocks and a shorter last one when the data needs them.
struct Codewords {
    Bytes first;
    std::vector<Bytes> second;
};
Codewords make_codewords(std::span<const std::uint8_t> airlink, int first_payload);

// The code bytes on the wire: the first block encoded by itself, the second
// blocks concatenated and encoded as one stream (empty when there are none).
struct CodeStreams {
    Bytes first;
    Bytes second;
};
CodeStreams encode_codewords(const Codewords& words);

// "x" followed by every code byte as two uppercase hexadecimal digits.
std::string to_stream(const CodeStreams& code);

// Fault injection. corrupt_symbols changes count distinct bytes of a codeword
// (chosen from seed); flip_code_bits inverts the given bits (0 = MSB of byte 0).
void corrupt_symbols(Bytes& codeword, int count, std::uint32_t seed);
void flip_code_bits(Bytes& code, std::span<const int> bit_positions);

} // namespace sondrel
