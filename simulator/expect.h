// What the decoder must report for a frame as it arrives, written from the
// record definitions: every record's text without its line end, the six
// timestamp fields written "T" and the timing fields "U", so that the lines
// can be compared with the decoder's output once those fields are masked.
#pragma once

#include "simulator/encoder.h"

#include <span>
#include <string>
#include <vector>

namespace sondrel {

// One block as the decoder sees it after FEC: its payload (descrambled; for an
// uncorrectable block the corrupted bytes) and its Reed-Solomon result
// (corrected symbols, or -1).
struct ReceivedBlock {
    Bytes payload;
    int result = 0;
};

// The receiver's descrambler, the inverse of scramble().
Bytes descramble(std::span<const std::uint8_t> bytes);

struct FrameRecords {
    std::vector<std::string> lines;
    // The MANT walk reached a case whose outcome the decoder may choose
    // (a header or a skip reaching beyond the AirLink data).
    bool ambiguous = false;
};

// Records of a completely received frame: S,1 when the first block failed,
// otherwise the P record and what the MANT walk finds in it.
FrameRecords expected_frame_records(std::span<const ReceivedBlock> blocks, int first_payload);

// S,2: a packet aborted inside its first block.
std::string expected_first_block_abort();

// S,3: a packet aborted inside its second blocks (first block decoded).
std::string expected_second_block_abort(const ReceivedBlock& first);

} // namespace sondrel
