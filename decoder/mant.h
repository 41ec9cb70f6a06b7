// The MANT stage: reads a finished P record back, reassembles the AirLink data
// and queues one N record per intact MANT packet (S,12 lines for problems).
#pragma once

#include "decoder/records.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// record: the P record text as queued (ends in CR LF). first_payload: L.
void process_p_string(std::string_view record, int first_payload, RecordOutput& out);

// The N record's fields 1..23 (no payload bytes, no line end) for the header
// at h (its length in header_length), dated from the P record.
struct PacketDate {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    float seconds = 0;
};
std::string format_n_record(const std::uint8_t* h, int header_length, const PacketDate& date);

} // namespace quorvel
