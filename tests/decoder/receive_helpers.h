// Builders for receiver streams and expected records, shared by the receive
// loop and end-to-end tests. Expected values come from the encoder's input
// bytes, never from the decoder's own code.
#pragma once

#include "simulator/encoder.h"
#include "tests/support/records.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace receive_test {

using sondrel::Bytes;

// A MANT packet: six header bytes (no optional fields), then the payload.
inline Bytes mant_packet(int source, const Bytes& payload, int h1 = 0x00, int hop = 3) {
    // Sized first: growing a six-byte vector by insert trips a false
    // -Warray-bounds of GCC 12 at -O2.
    Bytes packet(6 + payload.size());
    packet[1] = static_cast<std::uint8_t>(h1);
    packet[2] = static_cast<std::uint8_t>((hop << 4) | ((payload.size() >> 8) & 0x0F));
    packet[3] = static_cast<std::uint8_t>(payload.size() & 0xFF);
    packet[4] = static_cast<std::uint8_t>(source >> 8);
    packet[5] = static_cast<std::uint8_t>(source);
    std::copy(payload.begin(), payload.end(), packet.begin() + 6);
    return packet;
}

inline Bytes counting_bytes(std::size_t count, int start = 1) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(start + static_cast<int>(i));
    }
    return bytes;
}

inline Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

// What to spoil in the codewords before they are encoded.
struct Faults {
    int first_symbols = 0;
    int second_block = -1; // index of the second block to corrupt
    int second_symbols = 0;
    std::uint32_t seed = 7;
};

inline std::string packet_stream(const Bytes& airlink, int first_payload, Faults faults = {}) {
    sondrel::Codewords words = sondrel::make_codewords(airlink, first_payload);
    if (faults.first_symbols > 0) {
        sondrel::corrupt_symbols(words.first, faults.first_symbols, faults.seed);
    }
    if (faults.second_block >= 0) {
        sondrel::corrupt_symbols(words.second.at(static_cast<std::size_t>(faults.second_block)),
                                 faults.second_symbols, faults.seed);
    }
    return sondrel::to_stream(sondrel::encode_codewords(words));
}

inline void append_hex(std::string& text, std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
    text += ',';
}

// The P record with timestamp fields as "T" and timings as "U". rs: each
// block's expected result in order (first block first).
inline std::string expected_p_record(const Bytes& airlink, int first_payload,
                                     const std::vector<int>& rs) {
    const int mant_len = static_cast<int>(airlink.size()) - 2;
    std::string text =
        "P," + std::to_string(airlink[0] >> 2) + ",T,T,T,T,T,T," + std::to_string(mant_len) + ",";
    std::size_t offset = 0;
    std::size_t block = 0;
    auto add_block = [&](std::size_t length) {
        text += std::to_string(length) + ",";
        for (std::size_t i = 0; i < length; ++i) {
            append_hex(text, offset + i < airlink.size() ? airlink[offset + i] : 0);
        }
        text += std::to_string(rs.at(block++)) + ",";
        offset += length;
    };
    add_block(static_cast<std::size_t>(first_payload));
    while (offset < airlink.size()) {
        add_block(std::min<std::size_t>(32, airlink.size() - offset));
    }
    text += block > 1 ? "U,U" : "U";
    return text;
}

// The N record (dates masked) of a packet built by mant_packet.
inline std::string expected_n_record(const Bytes& packet) {
    std::string text = "N,T,T,T,T,T,T,0,0,0,0,0,";
    text += std::to_string(packet[1] >> 4) + "," + std::to_string((packet[1] >> 1) & 7) + "," +
            std::to_string(packet[1] & 1) + "," + std::to_string(packet[2] >> 7) + "," +
            std::to_string((packet[2] >> 4) & 7) + ",";
    const std::size_t length = static_cast<std::size_t>((packet[2] & 0x0F) * 256 + packet[3]);
    text += std::to_string(length) + "," + std::to_string(packet[4] * 256 + packet[5]);
    for (std::size_t i = 0; i < length; ++i) {
        text += ",";
        append_hex(text, packet[6 + i]);
        text.pop_back();
    }
    return text;
}

using harness::join_fields;
using harness::mask_record;
using harness::read_file;
using harness::read_records;
using harness::split_fields;
using harness::TempDir;

} // namespace receive_test
