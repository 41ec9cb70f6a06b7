#include "display/data/reading_assembler.h"

#include "display/data/numbers.h"
#include "display/data/utc_time.h"

#include <cmath>

namespace veltaro::data {

namespace {

constexpr std::size_t kNYearField = 1;
constexpr int kScaledDigits = 12;

std::optional<int> Address(std::string_view source) {
    const std::optional<long long> value = WholeNumber(source);
    if (!value || *value < 0 || *value > 65535) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<double> Value(const ReadingEvent& event) {
    if (event.value_kind != ValueKind::real) {
        return event.value;
    }
    const auto single = static_cast<float>(event.value);
    if (!std::isfinite(single)) {
        return std::nullopt;
    }
    return ShortestDecimal(single);
}

} // namespace

void ReadingAssembler::OnRecord(std::string_view line) {
    link_quality_.OnRecord(line);
    for (ReadingOutput* output : outputs_) {
        output->OnRecord(line);
    }
}

void ReadingAssembler::OnPacket(const PacketEvent& event) {
    packet_ = Packet();
    packet_.record = event.record;
    // The core has read the same fields, so they are numbers.
    packet_.received = ReceiveMillis(event.record, kNYearField).value_or(0);
    packet_.source = event.source;
    packet_.address = Address(event.source);
    packet_.test = event.test;
    packet_.hop_limit = event.hop_limit;
    packet_.packet_id = event.packet_id;
    if (const auto bytes = WholeNumber(event.bytes)) {
        packet_.bytes = static_cast<int>(*bytes);
    }
    packet_.path.assign(event.path.begin(), event.path.end());
    packet_.link = link_quality_.ForPacket(packet_.received);
    have_packet_ = true;
    for (ReadingOutput* output : outputs_) {
        output->OnPacket(packet_);
    }
}

void ReadingAssembler::OnReading(const ReadingEvent& event) {
    if (!have_packet_) {
        return; // a reading always follows its packet's header line
    }
    Reading& reading = reading_;
    reading.packet = &packet_;
    reading.time = event.time;
    reading.type = event.type;
    reading.sensor = event.sensor;
    reading.value = Value(event);
    reading.value_kind = event.value_kind;
    reading.value_bits = event.value_bits;
    reading.text = event.text;
    reading.tips.assign(event.tips.begin(), event.tips.end());
    reading.station = nullptr;
    reading.sensor_entry = nullptr;
    reading.scaled.reset();
    if (registry_ != nullptr && packet_.address) {
        reading.station = registry_->Station(*packet_.address);
        reading.sensor_entry = registry_->Sensor(*packet_.address, event.sensor);
    }
    if (reading.sensor_entry != nullptr && reading.value) {
        reading.scaled =
            RoundSignificant(reading.sensor_entry->Scaled(*reading.value), kScaledDigits);
    }
    for (ReadingOutput* output : outputs_) {
        output->OnReading(reading);
    }
}

void ReadingAssembler::OnSliceKept() {
    for (ReadingOutput* output : outputs_) {
        output->OnSliceKept();
    }
}

void ReadingAssembler::OnSliceUndone() {
    for (ReadingOutput* output : outputs_) {
        output->OnSliceUndone();
    }
}

} // namespace veltaro::data
