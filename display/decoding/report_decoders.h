// The report decoders of payload kind 0, one file each, and what their lines
// share. To add an element type: write its decoder in a file of its own,
// declare it in procedures.h and add one row to kReportDecoders.
#pragma once

#include "display/decoding/procedures.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <span>
#include <string>

namespace veltaro {

using ReportDecoder = void (*)(MStart& m, std::string& body, std::int16_t& length);

struct ReportDecoderEntry {
    std::int16_t type;
    ReportDecoder read;
};

inline constexpr std::array<ReportDecoderEntry, 3> kReportDecoders{{
    {1, ReadGSR},
    {2, ReadRainReport},
    {3, ReadMSR},
}};

// The decoder for an element type, or nullptr for a type no decoder reads.
inline ReportDecoder FindReportDecoder(std::int16_t type) {
    for (const auto& entry : kReportDecoders) {
        if (entry.type == type) {
            return entry.read;
        }
    }
    return nullptr;
}

// A reading time `seconds` before `time`, kept in whole seconds.
inline DateTime SecondsBefore(DateTime time, long long seconds) {
    return FromWholeSeconds(ToWholeSeconds(time) - seconds);
}

// A report line up to its last column: two blanks, the reading time, four
// blanks, the source, then type and sensor each after a TAB, and the TAB
// before the value.
// Built in one buffer: a busy cycle makes thousands of these.
inline std::string ReportLineStart(const MStart& m, DateTime time, long long sensor) {
    std::string line;
    line.reserve(96 + m.SourceAddress.size()); // the value follows
    line += "  ";
    AppendDateTime(line, time);
    line += "    ";
    line += m.SourceAddress;
    line += m.FieldSep;
    char number[24];
    line.append(number, std::to_chars(number, number + sizeof number, m.ReportType).ptr);
    line += m.FieldSep;
    line.append(number, std::to_chars(number, number + sizeof number, sensor).ptr);
    line += m.FieldSep;
    return line;
}

// Lists a report line at the top of lstReport and logs it when the option
// "Displayed" is selected.
inline void ListReportLine(MStart& m, const std::string& line) {
    m.ui.InsertTop(ListId::lstReport, line);
    if (m.ui.IsSelected(OptionId::optDisplayed)) {
        SaveReport(m);
    }
}

// A value as a report line lists it (text) and as the sink receives it.
struct ListedValue {
    std::string text;
    double number = 0;
    ValueKind kind = ValueKind::unsigned_integer;
    int bits = 0;
};

// The IEEE single of a four-byte field: the list's reader gives the zero
// pattern a tiny non-zero value that only its rounding hides.
inline double SingleValue(const std::string& field) {
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        bits = bits * 256 + static_cast<std::uint32_t>(HexValue(field.substr(3 * k, 2))) % 256;
    }
    return static_cast<double>(std::bit_cast<float>(bits));
}

// Reads a general sensor or rain value of a known type (1 to 3) and length
// from its field; reals are listed rounded to `places` decimals.
inline ListedValue ReadListedValue(MStart& m, int type, int length, std::string& field,
                                   int places) {
    ListedValue value;
    value.kind = static_cast<ValueKind>(type);
    value.bits = 8 * length;
    if (type == 3) {
        value.number = SingleValue(field);
        value.text = GeneralNumber(RoundToPlaces(ReadFloat(m, 3, field), places));
    } else {
        const std::int64_t integer = ReadInteger(m, static_cast<std::int16_t>(type),
                                                 static_cast<std::int16_t>(length), field);
        value.number = static_cast<double>(integer);
        value.text = std::to_string(integer);
    }
    return value;
}

// A listed (local) time as seconds since 1970 UTC: minus the offset in use.
inline long long UtcSeconds(const MStart& m, DateTime listed) {
    return ToUnixSeconds(listed) - static_cast<long long>(m.GmtOffsetHours) * 3600;
}

// Hands a reading that has just been listed on to the sink, if one is attached.
inline void HandOnReading(MStart& m, DateTime listed, long long sensor, const ListedValue& value,
                          std::span<const long long> tips = {}) {
    if (m.Sink == nullptr) {
        return;
    }
    ReadingEvent reading;
    reading.type = m.ReportType;
    reading.sensor = sensor;
    reading.time = UtcSeconds(m, listed);
    reading.text = value.text;
    reading.value = value.number;
    reading.value_kind = value.kind;
    reading.value_bits = value.bits;
    reading.tips = tips;
    m.Sink->OnReading(reading);
}

// Whole bytes held by a byte text; the last byte may lack its separator.
inline std::size_t BytesPresent(const std::string& text) {
    return (text.size() + 1) / 3;
}

// Takes a value of `bytes` bytes off the front of a body that holds them all,
// as byte text with every separator, the last included.
inline std::string TakeField(std::string& body, std::size_t bytes) {
    std::string field = body.substr(0, bytes * 3);
    body.erase(0, field.size());
    if (field.size() % 3 == 2) {
        field += ',';
    }
    return field;
}

} // namespace veltaro
