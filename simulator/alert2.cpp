#include "simulator/alert2.h"

#include <bit>
#include <stdexcept>

namespace sondrel::alert2 {

namespace {

void put_value(Bytes& out, const Value& value) {
    if (value.length < 1 || value.length > 4) {
        throw std::invalid_argument("value length must be 1..4 bytes");
    }
    out.push_back(static_cast<std::uint8_t>((value.type << 4) | value.length));
    for (int i = value.length - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>((value.bits >> (8 * i)) & 0xFFU));
    }
}

std::uint32_t low_bytes(std::uint32_t v, int length) {
    return length >= 4 ? v : v & ((1U << (8 * length)) - 1U);
}

} // namespace

Value Value::unsigned_int(std::uint32_t v, int length) {
    return Value{kUnsigned, length, low_bytes(v, length)};
}

Value Value::signed_int(std::int32_t v, int length) {
    return Value{kSigned, length, low_bytes(static_cast<std::uint32_t>(v), length)};
}

Value Value::real(float v) {
    return Value{kFloat, 4, std::bit_cast<std::uint32_t>(v)};
}

std::uint16_t half_day_seconds(std::int64_t unix_seconds) {
    std::int64_t s = unix_seconds % 43200;
    return static_cast<std::uint16_t>(s < 0 ? s + 43200 : s);
}

Bytes app_header(const AppHeader& header) {
    Bytes out;
    std::uint8_t b = static_cast<std::uint8_t>((header.packet_id & 7) << 4);
    if (header.test) {
        b |= 0x08;
    }
    if (header.time_stamp) {
        b |= 0x04;
    }
    out.push_back(b);
    if (header.time_stamp) {
        out.push_back(static_cast<std::uint8_t>(*header.time_stamp >> 8));
        out.push_back(static_cast<std::uint8_t>(*header.time_stamp & 0xFF));
    }
    return out;
}

Bytes element(ElementType type, std::span<const std::uint8_t> body) {
    if (body.size() > 255) {
        throw std::invalid_argument("report element body longer than 255 bytes");
    }
    Bytes out{type, static_cast<std::uint8_t>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes general_sensor_body(std::span<const Reading> readings) {
    Bytes out;
    for (const Reading& r : readings) {
        out.push_back(r.sensor);
        put_value(out, r.value);
    }
    return out;
}

Bytes rain_tip_body(const Reading& accumulator, std::span<const std::uint8_t> tip_offsets) {
    Bytes out{accumulator.sensor};
    put_value(out, accumulator.value);
    out.insert(out.end(), tip_offsets.begin(), tip_offsets.end());
    return out;
}

int msr_width(int bit) {
    return bit % 2 == 0 ? 2 : 1;
}

bool msr_signed(int bit) {
    return bit == 0 || bit == 6;
}

Bytes multiple_sensor_body(std::uint8_t mask, const std::array<std::int32_t, 8>& values) {
    Bytes out{mask};
    for (int bit = 0; bit < 8; ++bit) {
        if ((mask >> bit) & 1) {
            auto v = static_cast<std::uint32_t>(values[static_cast<std::size_t>(bit)]);
            if (msr_width(bit) == 2) {
                out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
            }
            out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        }
    }
    return out;
}

Bytes compact_report(const CompactReport& report) {
    const unsigned sensor = report.sensor & 0x1FFFU;
    const unsigned value = report.value & 0x7FFU;
    return Bytes{static_cast<std::uint8_t>(sensor & 0xFF),
                 static_cast<std::uint8_t>(((value >> 8) << 5) | (sensor >> 8)),
                 static_cast<std::uint8_t>(value & 0xFF), report.age};
}

} // namespace sondrel::alert2
