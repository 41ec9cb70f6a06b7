// MANT packets: the network header in front of each application packet.
#pragma once

#include "simulator/encoder.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sondrel {

struct MantHeader {
    int version = 0;      // h[0] bits 7..6
    int extra_kind = 0;   // h[0] bits 5..3; 1 means one extra header byte follows
    int h0_bit2 = 0;      // h[0] bit 2
    int payload_kind = 0; // h[1] bits 7..4: 0 report elements, 1 compact reports
    int h1_middle = 0;    // h[1] bits 3..1
    int h1_bit0 = 0;      // h[1] bit 0
    int h2_bit7 = 0;      // h[2] bit 7
    int hop_limit = 0;    // h[2] bits 6..4
    std::uint16_t source = 0;
    std::optional<std::uint16_t> destination;       // sets h[0] bit 0
    std::uint8_t extra = 0;                         // sent only when extra_kind == 1
    std::optional<std::vector<std::uint16_t>> path; // sets h[0] bit 1
    // Written into the length field instead of the payload's size, to build
    // packets that claim more bytes than they carry.
    std::optional<int> claimed_length;
};

int mant_header_length(const MantHeader& header);

// Header bytes followed by the payload (at most 4095 bytes).
Bytes mant_packet(const MantHeader& header, std::span<const std::uint8_t> payload);

} // namespace sondrel
