#include "simulator/mant_packet.h"

#include <stdexcept>

namespace sondrel {

namespace {

void put16(Bytes& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

} // namespace

int mant_header_length(const MantHeader& header) {
    int length = 6;
    if (header.destination) {
        length += 2;
    }
    if (header.extra_kind == 1) {
        length += 1;
    }
    if (header.path) {
        length += 1 + 2 * static_cast<int>(header.path->size());
    }
    return length;
}

Bytes mant_packet(const MantHeader& header, std::span<const std::uint8_t> payload) {
    const int length = header.claimed_length.value_or(static_cast<int>(payload.size()));
    if (length < 0 || length > 4095 || payload.size() > 4095) {
        throw std::invalid_argument("MANT payload length must be 0..4095");
    }
    if (header.path && header.path->size() > 255) {
        throw std::invalid_argument("MANT path holds at most 255 addresses");
    }
    Bytes out;
    out.push_back(static_cast<std::uint8_t>(
        ((header.version & 3) << 6) | ((header.extra_kind & 7) << 3) | ((header.h0_bit2 & 1) << 2) |
        (header.path ? 2 : 0) | (header.destination ? 1 : 0)));
    out.push_back(static_cast<std::uint8_t>(((header.payload_kind & 15) << 4) |
                                            ((header.h1_middle & 7) << 1) | (header.h1_bit0 & 1)));
    out.push_back(static_cast<std::uint8_t>(((header.h2_bit7 & 1) << 7) |
                                            ((header.hop_limit & 7) << 4) | (length >> 8)));
    out.push_back(static_cast<std::uint8_t>(length & 0xFF));
    put16(out, header.source);
    if (header.destination) {
        put16(out, *header.destination);
    }
    if (header.extra_kind == 1) {
        out.push_back(header.extra);
    }
    if (header.path) {
        out.push_back(static_cast<std::uint8_t>(header.path->size()));
        for (std::uint16_t address : *header.path) {
            put16(out, address);
        }
    }
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

} // namespace sondrel
