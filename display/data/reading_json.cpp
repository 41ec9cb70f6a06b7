#include "display/data/reading_json.h"

#include "display/data/numbers.h"
#include "display/data/registry.h"
#include "display/data/utc_time.h"

namespace veltaro::data {

namespace {

using Json = nlohmann::ordered_json;

// An address as a number when it is one, else as listed.
Json AddressJson(std::string_view text) {
    const std::optional<long long> number = WholeNumber(text);
    if (number && *number >= 0 && *number <= 65535) {
        return *number;
    }
    return std::string(text);
}

Json ValueJson(const Reading& reading) {
    if (!reading.value) {
        return nullptr;
    }
    if (reading.IsInteger()) {
        return static_cast<std::int64_t>(*reading.value);
    }
    return *reading.value;
}

} // namespace

Json ReadingJson(const Reading& reading) {
    const Packet& packet = *reading.packet;
    Json json;
    json["received"] = IsoMillis(packet.received);
    json["time"] = IsoSeconds(reading.time);
    json["source"] = AddressJson(packet.source);
    json["type"] = reading.type;
    json["kind"] = KindName(reading.type);
    json["sensor"] = reading.sensor;
    json["value"] = ValueJson(reading);
    json["text"] = reading.text;
    if (reading.type == 2) {
        Json tips = Json::array();
        for (const std::int64_t tip : reading.tips) {
            tips.push_back(IsoSeconds(tip));
        }
        json["tips"] = std::move(tips);
    }
    json["test"] = packet.test;
    json["hop_limit"] = packet.hop_limit;
    json["packet_id"] = packet.packet_id;
    Json path = Json::array();
    for (const std::string& address : packet.path) {
        path.push_back(AddressJson(address));
    }
    json["path"] = std::move(path);
    if (packet.link) {
        json["fec_corrected"] = packet.link->corrected;
        json["fec_failed"] = packet.link->failed;
    }
    if (reading.station != nullptr) {
        json["station"] = reading.station->name;
    }
    if (reading.sensor_entry != nullptr) {
        json["units"] = reading.sensor_entry->units;
        json["scaled"] = reading.scaled ? Json(*reading.scaled) : Json(nullptr);
    }
    return json;
}

std::string ReadingJsonLine(const Reading& reading) {
    return ReadingJson(reading).dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

void JsonLinesWriter::OnReading(const Reading& reading) {
    out_ << ReadingJsonLine(reading);
}

} // namespace veltaro::data
