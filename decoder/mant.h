// The MANT stage: reads a finished P record back, reassembles the AirLink data
// and queues one N record per intact MANT packet (S,12 lines for problems).
#pragma once

#include "decoder/records.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quorvel {

constexpr int kAirLinkSize = 1057; // reassembled AirLink data of one P record
constexpr int kMaxBlockResults = 42;

// record: the P record text as queued (ends in CR LF). first_payload: L.
void process_p_string(std::string_view record, int first_payload, RecordOutput& out);

// The date and time of a P record, repeated in each of its N records.
struct PacketDate {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    float seconds = 0;
};

// The N record's fields 1..23 (no payload bytes, no line end). header: the
// AirLink data from the header's first byte to the end of the data; header
// bytes beyond it read as 0.
std::string format_n_record(std::span<const std::uint8_t> header, const PacketDate& date);

} // namespace quorvel
