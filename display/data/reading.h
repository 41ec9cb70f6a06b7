// Readings as data: each packet and reading the display lists, with its
// times in UTC, its link quality and what the station registry says of it,
// and the one interface through which outputs receive them.
#pragma once

#include "display/decoding/reading_sink.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltaro::data {

struct StationEntry;
struct SensorEntry;

// Reed-Solomon results of the frame a packet came in (its P record).
struct LinkQuality {
    int corrected = 0; // symbols corrected, summed over the blocks
    int failed = 0;    // blocks that could not be corrected
};

struct Packet {
    std::int64_t received = 0;  // milliseconds since 1970-01-01 UTC
    std::string source;         // as listed
    std::optional<int> address; // the source as a number, when it is one
    bool test = false;
    int hop_limit = 0;
    int packet_id = 0;
    std::optional<int> bytes; // the "Bytes" column
    std::vector<std::string> path;
    std::string record; // the N record as read
    std::optional<LinkQuality> link;
};

struct Reading {
    const Packet* packet = nullptr;
    std::int64_t time = 0; // seconds since 1970-01-01 UTC
    int type = 0;          // 0 compact, 1 general, 2 rain, 3 multiple
    long long sensor = 0;
    // Integers exactly, reals as the shortest decimal that gives back the
    // single the station sent; none for an infinity or NaN.
    std::optional<double> value;
    ValueKind value_kind = ValueKind::unsigned_integer;
    int value_bits = 0;
    std::string text;               // the value as listed
    std::vector<std::int64_t> tips; // rain: tip times, seconds since 1970 UTC
    // From the station registry; null when it does not know them.
    const StationEntry* station = nullptr;
    const SensorEntry* sensor_entry = nullptr;
    std::optional<double> scaled; // value x multiplier + adder, for a known sensor

    bool IsInteger() const { return value_kind != ValueKind::real; }
};

// "compact", "general", "rain" or "multiple" for types 0 to 3.
std::string_view KindName(int type);
// "unsigned", "signed" or "float".
std::string_view ValueKindName(ValueKind kind);

// What the JSON and CSV writers, the archive and the feeds implement.
class ReadingOutput {
public:
    virtual ~ReadingOutput() = default;
    // Every S, P and N line exactly as read.
    virtual void OnRecord(std::string_view /*line*/) {}
    // A packet; the readings that follow are its own.
    virtual void OnPacket(const Packet& /*packet*/) {}
    virtual void OnReading(const Reading& reading) = 0;
    // The slice ends of ReadingSink: an output that cannot take a line back
    // (a network feed) holds what it received until the slice is kept; one
    // that can ignore them (the archive stores a row once however often it
    // is given).
    virtual void OnSliceKept() {}
    virtual void OnSliceUndone() {}
};

} // namespace veltaro::data
