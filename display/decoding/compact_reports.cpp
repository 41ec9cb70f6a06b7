#include "display/decoding/report_decoders.h"

#include <exception>
#include <stdexcept>

namespace veltaro {

namespace {

constexpr int kCompactValueBits = 11;

long long TakeWholeByte(std::string& text) {
    if (text.size() < 3) {
        throw std::runtime_error("A compact report is cut short");
    }
    const auto value = static_cast<long long>(HexValue(text.substr(0, 2)));
    text.erase(0, 3);
    return value;
}

} // namespace

void ReadCompactReports(MStart& m, std::string& text) {
    try {
        m.ReportType = 0;
        for (;;) {
            const long long b1 = TakeWholeByte(text);
            const long long b2 = TakeWholeByte(text);
            const long long b3 = TakeWholeByte(text);
            // Without its age byte the reading's time is unknown: no line
            // rather than one with a false time.
            if (BytesPresent(text) < 1) {
                m.PacketUnreadable = true;
                return;
            }
            const auto age = static_cast<long long>(HexValue(TakeByte(text)));
            const long long sensor = (b2 & 31) * 256 + b1;
            const long long value = (b2 & 224) * 8 + b3;
            const DateTime time = SecondsBefore(m.ReportTime, age);
            const ListedValue listed{std::to_string(value), static_cast<double>(value),
                                     ValueKind::unsigned_integer, kCompactValueBits};
            m.ReportLine = ReportLineStart(m, time, sensor) + listed.text;
            ListReportLine(m, m.ReportLine);
            m.ReportLine.clear();
            HandOnReading(m, time, sensor, listed);
            if (text.size() < 3) {
                return;
            }
        }
    } catch (const std::exception& e) {
        ReportProblem(m, e.what(), "  Problem calculating report time");
    }
}

} // namespace veltaro
