// What the decoding core hands on besides its lists: every record line as it
// is listed, every packet whose header line is listed, and every reading it
// lists, as data. Outputs (archive, JSON and CSV writers, network feeds)
// implement this; the core never knows which are attached, and attaches none
// by default.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace veltaro {

// A packet as its line in lstMessage shows it.
struct PacketEvent {
    std::string_view record; // the N record as read
    std::string_view source; // SourceAddress as listed
    bool test = false;
    std::int16_t hop_limit = 0;
    std::int16_t packet_id = 0;
    std::span<const std::string> path; // the PathCount path addresses as listed
    std::string_view bytes;            // the "Bytes" column
};

enum class ValueKind : std::uint8_t { unsigned_integer = 1, signed_integer = 2, real = 3 };

// A reading as its line in lstReport shows it. Times are seconds since
// 1970-01-01 UTC: the listed local time minus the offset in use.
struct ReadingEvent {
    std::int16_t type = 0; // 0 compact, 1 general, 2 rain, 3 multiple
    long long sensor = 0;
    long long time = 0;
    std::string_view text; // the value as listed
    // Integers exactly; a real is the IEEE single the station sent, before
    // the list's rounding (zero is 0, an infinity or NaN stays one).
    double value = 0;
    ValueKind value_kind = ValueKind::unsigned_integer;
    int value_bits = 0;              // 8 a byte; 11 for a compact report
    std::span<const long long> tips; // rain: the tip times, in body order
};

class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    // Every S, P and N line exactly as read, when it is listed.
    virtual void OnRecord(std::string_view line) = 0;
    // A packet whose header line was just listed; the readings that follow are its own.
    virtual void OnPacket(const PacketEvent& packet) = 0;
    virtual void OnReading(const ReadingEvent& reading) = 0;

    // What was handed on since the last slice end stays listed. Every pass
    // over content ends with one of these two calls.
    virtual void OnSliceKept() {}
    // What was handed on since the last slice end was taken back out of the
    // lists and will be handed on again: an output that cannot take it back
    // holds it until the slice is kept.
    virtual void OnSliceUndone() {}
};

} // namespace veltaro
