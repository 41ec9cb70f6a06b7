#include "display/decoding/report_decoders.h"

#include <exception>
#include <stdexcept>
#include <vector>

namespace veltaro {

namespace {

std::string TipCountText(double tips) {
    if (tips == 1) {
        return "  (1 Tip)";
    }
    return "  (" + GeneralNumber(tips) + " Tips)";
}

} // namespace

void ReadRainReport(MStart& m, std::string& body, std::int16_t& /*length*/) {
    try {
        if (body.size() < 2) {
            throw std::runtime_error("The rain report is empty");
        }
        const auto sensor = static_cast<long long>(HexValue(body.substr(0, 2)));
        body.erase(0, 3);
        const int descriptor = static_cast<int>(HexValue(body.substr(0, 2)));
        const int type = (descriptor & 0xF0) / 16;
        if (type < 1 || type > 3) {
            m.PacketUnreadable = true;
            return;
        }
        const int length = descriptor & 0x0F;
        body.erase(0, 3);
        // A value that cannot be read whole would list a false 0 with every
        // tip after it: list nothing of this element.
        if (length < 1 || length > 4 || (type == 3 && length != 4)) {
            m.PacketUnreadable = true;
            return;
        }
        if (BytesPresent(body) < static_cast<std::size_t>(length)) {
            throw std::runtime_error("The rain report ends inside its value");
        }
        std::string field = TakeField(body, static_cast<std::size_t>(length));
        const ListedValue value = ReadListedValue(m, type, length, field, 2);

        const double tips = static_cast<double>(body.size()) / 3;
        ListReportLine(m,
                       ReportLineStart(m, m.ReportTime, sensor) + value.text + TipCountText(tips));
        const auto tip_count = static_cast<long long>(RoundHalfEven(tips));
        std::vector<long long> tip_times; // in UTC, for the sink
        for (long long k = 1; k <= tip_count; ++k) {
            const auto offset = static_cast<long long>(HexValue(TakeByte(body)));
            const DateTime tip = SecondsBefore(m.ReportTime, offset);
            ListReportLine(m, ReportLineStart(m, tip, sensor) + "Tip " + std::to_string(k));
            if (m.Sink != nullptr) {
                tip_times.push_back(UtcSeconds(m, tip));
            }
        }
        HandOnReading(m, m.ReportTime, sensor, value, tip_times);
    } catch (const std::exception& e) {
        ReportProblem(m, e.what(), "  Problem reading Rain report");
    }
}

} // namespace veltaro
