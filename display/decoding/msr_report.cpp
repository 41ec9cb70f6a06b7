#include "display/decoding/report_decoders.h"

#include <exception>
#include <stdexcept>

namespace veltaro {

namespace {

// The eight sensors of the presence mask, lowest bit first.
struct MsrSensor {
    std::size_t bytes;
    std::int16_t signedness; // 2 signed, 1 unsigned
};

constexpr std::array<MsrSensor, 8> kMsrSensors{{
    {2, 2},
    {1, 1},
    {2, 1},
    {1, 1},
    {2, 1},
    {1, 1},
    {2, 2},
    {1, 1},
}};

} // namespace

void ReadMSR(MStart& m, std::string& body, std::int16_t& /*length*/) {
    try {
        if (body.empty()) {
            throw std::runtime_error("The multiple sensor report is empty");
        }
        const int mask = static_cast<int>(HexValue(body.substr(0, 2)));
        std::string rest = body.size() > 3 ? body.substr(3) : std::string();
        for (std::size_t bit = 0; bit < kMsrSensors.size(); ++bit) {
            if ((mask & (1 << bit)) == 0) {
                continue;
            }
            const MsrSensor& sensor = kMsrSensors[bit];
            const std::size_t present = BytesPresent(rest);
            // A body that ends at a value boundary would list a made-up 0:
            // no line, and the packet is reported unreadable.
            if (present == 0) {
                m.PacketUnreadable = true;
                return;
            }
            // A two-byte value cut after its first byte is a problem of this
            // report alone; the packet's next element is still read.
            if (present < sensor.bytes) {
                throw std::runtime_error("The multiple sensor report ends inside a two-byte value");
            }
            std::string field = TakeField(rest, sensor.bytes);
            const std::int64_t value =
                ReadInteger(m, sensor.signedness, static_cast<std::int16_t>(sensor.bytes), field);
            const ListedValue listed{std::to_string(value), static_cast<double>(value),
                                     static_cast<ValueKind>(sensor.signedness),
                                     static_cast<int>(8 * sensor.bytes)};
            const long long number = static_cast<long long>(bit) + 1;
            ListReportLine(m, ReportLineStart(m, m.ReportTime, number) + listed.text);
            HandOnReading(m, m.ReportTime, number, listed);
        }
    } catch (const std::exception& e) {
        ReportProblem(m, e.what(), "  Problem reading MSR");
    }
}

} // namespace veltaro
