#include "decoder/mant.h"

#include "decoder/fec.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>

namespace quorvel {

namespace {

constexpr int kFieldScanLimit = 8192;
constexpr std::size_t kMessageSize = 254;

// The AirLink data of one P record; zeroed for every record so that nothing
// from an earlier record can leak into this one.
struct AirLink {
    std::array<std::uint8_t, kAirLinkSize> data{};
    std::array<int, kMaxBlockResults> results{};
};

[[gnu::format(printf, 2, 3)]] void queue_message(RecordOutput& out, const char* format, ...) {
    char text[kMessageSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    queue_line(out, text);
}

void queue_overflow(RecordOutput& out) {
    queue_message(out, "S,12,Error 11: block groups exceed the AirLink data.\r\n");
}

// Moves position past the next ","; false when a line end or the end of the
// text comes first, or no comma lies within the scan limit.
bool next_field(const std::string& record, int& position) {
    const int limit = std::min<int>(static_cast<int>(record.size()), position + kFieldScanLimit);
    for (int i = position; i < limit; ++i) {
        const char c = record[i];
        if (c == ',') {
            position = i + 1;
            return true;
        }
        if (c == '\r' || c == '\n') {
            return false;
        }
    }
    return false;
}

bool next_field_or_error(const std::string& record, int& position, RecordOutput& out) {
    const int start = position;
    if (next_field(record, position)) {
        return true;
    }
    queue_message(out, "S,12,Error 10: Expected another field after position %d.\r\n", start);
    return false;
}

// Reads block group k at position into the AirLink data; returns its payload
// length, or -1 after queuing a message.
int parse_block(const std::string& record, int& position, int k, int first_payload,
                AirLink& airlink, RecordOutput& out) {
    const int destination = k == 0 ? 0 : first_payload + kFullBlockPayload * (k - 1);
    unsigned short blk_len = 0;
    if (std::sscanf(record.c_str() + position, "%hu,", &blk_len) != 1) {
        queue_message(out, "S,12,Error 1: parse_block could not find a valid block length.\r\n");
        return -1;
    }
    if (k == 0 && blk_len != first_payload) {
        queue_message(out, "S,12,Error 2: first block must be %d bytes long.\r\n", first_payload);
        return -1;
    }
    if (k >= kMaxBlockResults || destination + blk_len > kAirLinkSize) {
        queue_overflow(out);
        return -1;
    }
    if (!next_field_or_error(record, position, out)) {
        return -1;
    }
    for (int i = 0; i < blk_len; ++i) {
        unsigned char value = 0;
        if (std::sscanf(record.c_str() + position, "%hhx,", &value) != 1) {
            queue_message(out, "S,12,Error 3: parse_block could not find enough data blocks.\r\n");
            return -1;
        }
        airlink.data[destination + i] = value;
        if (!next_field_or_error(record, position, out)) {
            return -1;
        }
    }
    unsigned int result = 0;
    if (std::sscanf(record.c_str() + position, "%u,", &result) != 1) {
        queue_message(out, "S,12,Error 4: parse_block could not find a bit error count.\r\n");
        return -1;
    }
    // "-1" read as unsigned wraps; the stored value is the signed -1.
    airlink.results[k] = static_cast<int>(result);
    if (!next_field_or_error(record, position, out)) {
        return -1;
    }
    return blk_len;
}

// A MANT packet's place in the AirLink data.
struct MantGeometry {
    int header_length = 0;  // H
    int payload_length = 0; // P
};

class MantWalk {
public:
    MantWalk(const AirLink& airlink, int total, int first_payload)
        : airlink_(airlink), total_(total), first_payload_(first_payload) {}

    // Bytes at or beyond the end of the AirLink data read as 0.
    std::uint8_t byte_at(int offset) const {
        return offset >= 0 && offset < total_ ? airlink_.data[offset] : 0;
    }

    MantGeometry geometry_at(int off) const {
        const std::uint8_t h0 = byte_at(off);
        const int extra = ((h0 >> 3) & 7) == 1 ? 1 : 0;
        int length = 6 + 2 * (h0 & 1) + extra;
        if ((h0 & 2) != 0) {
            length += 2 * byte_at(off + length) + 1;
        }
        return {length % 256, (byte_at(off + 2) & 0x0F) * 256 + byte_at(off + 3)};
    }

    // Whether a byte in [from, to) inside the data lies in a block that failed.
    bool touches_bad_block(int from, int to) const {
        for (int i = from; i < std::min(to, total_); ++i) {
            const int block = i < first_payload_ ? 0 : 1 + (i - first_payload_) / 32;
            if (airlink_.results[block] < 0) {
                return true;
            }
        }
        return false;
    }

    std::span<const std::uint8_t> from(int off) const {
        return std::span(airlink_.data.data() + off, static_cast<std::size_t>(total_ - off));
    }

    int total() const { return total_; }

private:
    const AirLink& airlink_;
    int total_;
    int first_payload_;
};

void queue_error_5(RecordOutput& out, int remaining, const MantGeometry& g) {
    queue_message(out,
                  "S,12,Error 5: Specified MANT packet length exceeds airlink length. Remaining "
                  "AirLink Len: %d; MANT Header Len: %d; MANT Payload Len: %d\r\n",
                  remaining, g.header_length, g.payload_length);
}

void queue_n_record(const MantWalk& walk, int off, const MantGeometry& g, const PacketDate& date,
                    RecordOutput& out) {
    std::string record = format_n_record(walk.from(off), date);
    const int payload = off + g.header_length;
    for (int i = 0; i < g.payload_length; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, ",%02X", walk.byte_at(payload + i));
        record += hex;
    }
    record += "\r\n";
    queue_line(out, record);
}

void walk_mant_packets(const MantWalk& walk, const PacketDate& date, RecordOutput& out) {
    int off = 2;
    for (;;) {
        const int remaining = walk.total() - off;
        if (remaining == 0) {
            return;
        }
        const MantGeometry g = walk.geometry_at(off);
        const int length = g.header_length + g.payload_length;
        if (length == 0) {
            // A header whose length wraps to 0 would hold the walk in place forever.
            queue_message(
                out, "S,12,Error 12: MANT packet of zero length at AirLink offset %d.\r\n", off);
            return;
        }
        const bool header_bad = walk.touches_bad_block(off, off + g.header_length);
        const bool payload_bad = walk.touches_bad_block(off + g.header_length, off + length);
        const bool skip = header_bad || (payload_bad && (walk.byte_at(off + 1) >> 4) != 1);
        // A packet reaching past the data ends the walk, skipped or not: the
        // next header would lie outside it.
        if (remaining < length) {
            if (skip && header_bad) {
                return;
            }
            queue_error_5(out, remaining, g);
            return;
        }
        if (!skip && !payload_bad) {
            queue_n_record(walk, off, g, date, out);
        }
        off += length;
    }
}

} // namespace

std::string format_n_record(std::span<const std::uint8_t> header, const PacketDate& date) {
    auto h = [&](std::size_t j) -> int { return j < header.size() ? header[j] : 0; };
    char text[512];
    int used = std::snprintf(
        text, sizeof text, "N,%04d,%02d,%02d,%02d,%02d,%.4f,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d",
        date.year, date.month, date.day, date.hour, date.minute, static_cast<double>(date.seconds),
        h(0) >> 6, (h(0) >> 3) & 7, (h(0) >> 2) & 1, (h(0) >> 1) & 1, h(0) & 1, h(1) >> 4,
        (h(1) >> 1) & 7, h(1) & 1, h(2) >> 7, (h(2) >> 4) & 7, (h(2) & 0x0F) * 256 + h(3),
        h(4) * 256 + h(5));
    std::string record(text, static_cast<std::size_t>(std::max(used, 0)));
    std::size_t next = 6;
    if ((h(0) & 1) != 0) {
        record += "," + std::to_string(h(6) * 256 + h(7));
        next = 8;
    }
    if (((h(0) >> 3) & 7) == 1) {
        record += "," + std::to_string(h(next));
        ++next;
    }
    if ((h(0) & 2) != 0) {
        const int count = h(next);
        record += "," + std::to_string(count);
        ++next;
        for (int i = 0; i < count; ++i, next += 2) {
            record += "," + std::to_string(h(next) * 256 + h(next + 1));
        }
    }
    return record;
}

void process_p_string(std::string_view record_view, int first_payload, RecordOutput& out) {
    if (record_view.empty() || record_view[0] != 'P') {
        return;
    }
    // sscanf needs a terminated string; the copy also bounds every scan.
    const std::string record(record_view);
    char kind = 0;
    unsigned short alres = 0;
    unsigned short mant_len = 0;
    PacketDate date;
    if (std::sscanf(record.c_str(), "%c,%hu,%d,%d,%d,%d,%d,%f,%hu,", &kind, &alres, &date.year,
                    &date.month, &date.day, &date.hour, &date.minute, &date.seconds,
                    &mant_len) != 9) {
        queue_message(out, "S,12,Error 6: Failed to correctly parse the header fields on a 'P' "
                           "input string.\r\n");
        return;
    }
    int position = 0;
    for (int field = 0; field < 9; ++field) {
        if (!next_field(record, position)) {
            queue_message(out, "S,12,Error 7: Failed to correctly parse the header fields on a "
                               "'P' input string.\r\n");
            return;
        }
    }

    AirLink airlink;
    const int total = mant_len + 2;
    int bytes_read = 0;
    for (int k = 0; bytes_read < total; ++k) {
        const int n = parse_block(record, position, k, first_payload, airlink, out);
        if (k == 0 && airlink.results[0] < 0) {
            queue_message(out,
                          "S,12,Skipping packet due to uncorrectable errors in first block.\r\n");
            return;
        }
        if (n == -1) {
            return;
        }
        bytes_read += n;
    }
    // Only block groups longer than 32 bytes can announce more than the data holds.
    if (total > kAirLinkSize) {
        queue_overflow(out);
        return;
    }
    walk_mant_packets(MantWalk(airlink, total, first_payload), date, out);
}

} // namespace quorvel
