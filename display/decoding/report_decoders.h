// The report decoders of payload kind 0, one file each, and what their lines
// share. To add an element type: write its decoder in a file of its own,
// declare it in procedures.h and add one row to kReportDecoders.
#pragma once

#include "display/decoding/procedures.h"

#include <array>
#include <charconv>
#include <cstdint>
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
