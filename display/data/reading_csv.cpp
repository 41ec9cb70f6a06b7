#include "display/data/reading_csv.h"

#include "display/data/csv.h"
#include "display/data/numbers.h"
#include "display/data/registry.h"
#include "display/data/utc_time.h"

#include <array>
#include <string>

namespace veltaro::data {

namespace {

const std::array<std::string, 14> kHeader{"received",  "time",    "source", "kind",  "sensor",
                                          "value",     "text",    "tips",   "test",  "hop_limit",
                                          "packet_id", "station", "units",  "scaled"};

std::string ValueText(const Reading& reading) {
    if (!reading.value) {
        return {};
    }
    if (reading.IsInteger()) {
        return std::to_string(static_cast<long long>(*reading.value));
    }
    return NumberText(*reading.value);
}

} // namespace

CsvReadingsWriter::CsvReadingsWriter(std::ostream& out) : out_(out) {
    std::string row;
    AppendCsvRecord(row, kHeader);
    out_ << row;
}

void CsvReadingsWriter::OnReading(const Reading& reading) {
    const Packet& packet = *reading.packet;
    const bool known = reading.sensor_entry != nullptr;
    const std::array<std::string, 14> fields{
        IsoMillis(packet.received),
        IsoSeconds(reading.time),
        packet.source,
        std::string(KindName(reading.type)),
        std::to_string(reading.sensor),
        ValueText(reading),
        reading.text,
        reading.type == 2 ? std::to_string(reading.tips.size()) : std::string(),
        packet.test ? "true" : "false",
        std::to_string(packet.hop_limit),
        std::to_string(packet.packet_id),
        reading.station != nullptr ? reading.station->name : std::string(),
        known ? reading.sensor_entry->units : std::string(),
        known && reading.scaled ? NumberText(*reading.scaled) : std::string(),
    };
    std::string row;
    AppendCsvRecord(row, fields);
    out_ << row;
}

} // namespace veltaro::data
