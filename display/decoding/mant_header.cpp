// The MANT header of an N record: its fields, the source address filter, the
// receive time and the first columns of the header line.
#include "display/decoding/procedures.h"

#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>

namespace veltaro {

namespace {

// Walks the comma-separated fields of a record from field 2 on; every field
// must be closed by a comma (the payload bytes follow the header).
class FieldWalker {
public:
    explicit FieldWalker(std::string_view record) : record_(record) {
        const std::size_t comma = record_.find(',');
        if (comma == std::string_view::npos) {
            throw std::runtime_error(kEndsEarly);
        }
        next_ = comma + 1;
    }

    std::string_view Next() {
        const std::size_t comma = record_.find(',', next_);
        if (comma == std::string_view::npos) {
            throw std::runtime_error(kEndsEarly);
        }
        const std::string_view field = record_.substr(next_, comma - next_);
        next_ = comma + 1;
        return field;
    }

    void Skip(int count) {
        for (int i = 0; i < count; ++i) {
            Next();
        }
    }

private:
    static constexpr const char* kEndsEarly = "The record ends inside its MANT header";
    std::string_view record_;
    std::size_t next_ = 0;
};

// A field that must be a number as a whole (blanks around it allowed).
bool TryNumber(std::string_view field, double& value) {
    while (!field.empty() && field.front() == ' ') {
        field.remove_prefix(1);
    }
    while (!field.empty() && field.back() == ' ') {
        field.remove_suffix(1);
    }
    if (!field.empty() && field.front() == '+') {
        field.remove_prefix(1);
    }
    if (field.empty() || field.front() == '+') {
        return false;
    }
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value,
                                        std::chars_format::general);
    return result.ec == std::errc() && result.ptr == field.data() + field.size() &&
           std::isfinite(value);
}

double Number(std::string_view field) {
    double value = 0;
    if (!TryNumber(field, value)) {
        throw std::runtime_error("The field \"" + std::string(field) + "\" is not a number");
    }
    return value;
}

// A numeric field as a 16-bit integer, halves rounded to even.
std::int16_t SmallInteger(std::string_view field) {
    const double rounded = RoundHalfEven(Number(field));
    if (rounded < INT16_MIN || rounded > INT16_MAX) {
        throw std::runtime_error("The field \"" + std::string(field) + "\" is out of range");
    }
    return static_cast<std::int16_t>(rounded);
}

bool IsOne(std::string_view field) {
    double value = 0;
    return TryNumber(field, value) && value == 1;
}

struct ReceiveParts {
    std::array<std::string_view, 6> text; // year, month, day, hour, minute, seconds
};

DateTime ReceiveTimeOf(const ReceiveParts& parts) {
    std::array<long, 6> v{};
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i] = SmallInteger(parts.text[i]);
    }
    const DateTime value = MakeDateTime(v[0], v[1], v[2], v[3], v[4], v[5]);
    // The date-time range the display can show: years 100 to 9999.
    if (value < MakeDateTime(100, 1, 1, 0, 0, 0) || value >= MakeDateTime(10000, 1, 1, 0, 0, 0)) {
        throw std::runtime_error("The receive time is not a valid date");
    }
    return value;
}

void ReadFields(MStart& m, FieldWalker& fields, ReceiveParts& parts) {
    for (std::string_view& part : parts.text) {
        part = fields.Next(); // fields 2 to 7
    }
    fields.Skip(1);                                    // field 8
    const bool extra_byte = IsOne(fields.Next());      // field 9
    fields.Skip(1);                                    // field 10
    m.AddPath = SmallInteger(fields.Next()) == 1;      // field 11
    m.DestFlag = SmallInteger(fields.Next()) == 1;     // field 12
    m.PayloadKind = SmallInteger(fields.Next());       // field 13
    fields.Skip(3);                                    // fields 14 to 16
    m.HopLimit = SmallInteger(fields.Next());          // field 17
    m.PayloadChars = LeadingNumber(fields.Next()) * 3; // field 18
    m.SourceAddress = std::string(fields.Next());      // field 19

    double header_bytes = 6 + (m.DestFlag ? 2 : 0) + (extra_byte ? 1 : 0);
    m.PathCount = 0;
    if (m.AddPath) {
        // The destination address and the extra byte stand before the path count.
        fields.Skip((m.DestFlag ? 1 : 0) + (extra_byte ? 1 : 0));
        m.PathCount = SmallInteger(fields.Next());
        if (m.PathCount < 0) {
            throw std::runtime_error("The path count is negative");
        }
        header_bytes += 1 + 2.0 * m.PathCount;
    }
    m.PacketBytes = GeneralNumber(m.PayloadChars / 3 + header_bytes);

    m.PathAddress.fill(std::string());
    for (int i = 0; i < m.PathCount; ++i) {
        if (i == static_cast<int>(m.PathAddress.size())) {
            throw std::runtime_error("The path count is above five");
        }
        m.PathAddress[static_cast<std::size_t>(i)] = std::string(fields.Next());
    }
}

} // namespace

void ReadMantHeader(MStart& m) {
    // A record whose header cannot be read is never parsed further.
    m.RecordSelected = false;
    try {
        FieldWalker fields(m.NRecord);
        ReceiveParts parts;
        ReadFields(m, fields, parts);

        if (m.SourceFilter > 0 && m.SourceFilter != LeadingNumber(m.SourceAddress)) {
            return;
        }
        const DateTime receive = ReceiveTimeOf(parts);
        m.ReceiveTime = receive;
        m.HeaderLine = "  " + FormatDateTime(m.ReceiveTime + m.GmtOffsetHours / 24.0) + m.FieldSep +
                       m.SourceAddress + m.FieldSep + (m.AddPath ? "Yes" : "No") + m.FieldSep;
        m.RecordSelected = true;
    } catch (const std::exception& error) {
        ReportProblem(m, error.what(), "  Problem reading MANT components");
    }
}

} // namespace veltaro
