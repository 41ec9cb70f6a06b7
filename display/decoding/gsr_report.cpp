#include "display/decoding/report_decoders.h"

#include <exception>

namespace veltaro {

void ReadGSR(MStart& m, std::string& body, std::int16_t& /*length*/) {
    try {
        while (body.size() >= 6) {
            const auto sensor = static_cast<long long>(HexValue(body.substr(0, 2)));
            body.erase(0, 3);
            const int descriptor = static_cast<int>(HexValue(TakeByte(body)));
            const int type = (descriptor & 0xF0) / 16;
            const int length = descriptor & 0x0F;
            if (type < 1 || type > 3 || length < 1 || length > 4) {
                m.PacketUnreadable = true;
                return;
            }
            // A missing value byte would read as 0: better no reading than a false one.
            if (BytesPresent(body) < static_cast<std::size_t>(length)) {
                m.PacketUnreadable = true;
                return;
            }
            std::string field = TakeField(body, static_cast<std::size_t>(length));
            if (type == 3 && length != 4) {
                // The readings that follow are framed by their own bytes and still listed.
                m.PacketUnreadable = true;
                continue;
            }
            const ListedValue value = ReadListedValue(m, type, length, field, 3);
            ListReportLine(m, ReportLineStart(m, m.ReportTime, sensor) + value.text);
            HandOnReading(m, m.ReportTime, sensor, value);
        }
    } catch (const std::exception& e) {
        ReportProblem(m, e.what(), "  Problem reading GSR");
    }
}

} // namespace veltaro
