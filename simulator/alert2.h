// ALERT2 application-layer packets: the header byte, the optional time stamp
// and the report elements a field station sends.
#pragma once

#include "simulator/encoder.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sondrel::alert2 {

enum ElementType : std::uint8_t { kGeneralSensor = 1, kRainTip = 2, kMultipleSensor = 3 };
enum ValueType : std::uint8_t { kUnsigned = 1, kSigned = 2, kFloat = 3 };

// One value with its descriptor: type in bits 7..4, length in bytes in 3..0.
struct Value {
    ValueType type = kUnsigned;
    int length = 2;
    std::uint32_t bits = 0; // the value's bytes, big-endian, in the low `length` bytes

    static Value unsigned_int(std::uint32_t v, int length);
    static Value signed_int(std::int32_t v, int length);
    static Value real(float v);
};

struct Reading {
    std::uint8_t sensor = 0;
    Value value;
};

struct AppHeader {
    int packet_id = 0; // 0..7
    bool test = false;
    // Seconds since the last 00:00 or 12:00 UTC.
    std::optional<std::uint16_t> time_stamp;
};

// Seconds since the most recent 00:00 or 12:00 UTC for a time in seconds
// since 1970.
std::uint16_t half_day_seconds(std::int64_t unix_seconds);

Bytes app_header(const AppHeader& header);

// A report element: type byte, length byte, body.
Bytes element(ElementType type, std::span<const std::uint8_t> body);

Bytes general_sensor_body(std::span<const Reading> readings);

// Tip offsets are seconds (0..255) before the report time, in listed order.
Bytes rain_tip_body(const Reading& accumulator, std::span<const std::uint8_t> tip_offsets);

// Values of the sensors present in the mask, sensor 1 (mask bit 0) first;
// entries for absent sensors are ignored. Widths and signedness are fixed by
// the mask bit.
Bytes multiple_sensor_body(std::uint8_t mask, const std::array<std::int32_t, 8>& values);

// Multiple sensor report: value width in bytes and signedness of mask bit i.
int msr_width(int bit);
bool msr_signed(int bit);

struct CompactReport {
    std::uint16_t sensor = 0; // 13 bits
    std::uint16_t value = 0;  // 11 bits
    std::uint8_t age = 0;     // seconds
};
Bytes compact_report(const CompactReport& report);

} // namespace sondrel::alert2
