#include "display/data/shef_export.h"

#include <algorithm>

namespace veltaro::data {

namespace {

constexpr std::int64_t kHour = 3600;

bool Exported(const Reading& reading) {
    return !reading.packet->test && reading.station != nullptr &&
           !reading.station->nws_id.empty() && reading.sensor_entry != nullptr &&
           !reading.sensor_entry->shef.empty();
}

// The time element first, then the units, then the value.
ShefMessage Message(const std::string& location, std::int64_t time, bool seconds, bool si,
                    const std::string& code, std::optional<double> value) {
    ShefMessage message;
    message.location = location;
    message.date = time;
    message.elements.push_back(ShefTimeElement(time, seconds));
    if (si) {
        message.elements.emplace_back("DUS");
    }
    message.elements.push_back(code + ' ' + ShefValue(value));
    return message;
}

GaugeReport ReportOf(const Reading& reading) {
    GaugeReport report;
    report.time = reading.time;
    report.value = *reading.value;
    report.value_kind = reading.value_kind;
    report.value_bits = reading.value_bits;
    report.tips = reading.tips;
    return report;
}

ShefGauge GaugeOf(const Reading& reading) {
    ShefGauge gauge;
    gauge.location = reading.station->nws_id;
    gauge.code = "PPH" + reading.sensor_entry->shef.substr(3, 2) + "ZZ";
    gauge.sensor = *reading.sensor_entry;
    gauge.interval = std::int64_t{reading.station->interval_minutes} * 60;
    return gauge;
}

} // namespace

std::optional<ShefMessage> ShefReadingMessage(const Reading& reading) {
    if (!Exported(reading)) {
        return std::nullopt;
    }
    const SensorEntry& sensor = *reading.sensor_entry;
    return Message(reading.station->nws_id, reading.time, true, IsShefSiUnits(sensor.units),
                   sensor.shef, reading.scaled);
}

void ShefGauges::Add(const Reading& reading) {
    // A value that is no number tells nothing of the rain, and is no baseline.
    if (!Exported(reading) || !reading.sensor_entry->IsKind("rain") || !reading.packet->address ||
        !reading.value) {
        return;
    }
    const auto key = std::make_pair(*reading.packet->address, reading.sensor);
    auto found = gauges_.find(key);
    if (found == gauges_.end()) {
        found = gauges_.emplace(key, GaugeOf(reading)).first;
    }
    std::vector<GaugeReport>& reports = found->second.reports;
    const auto later = std::upper_bound(
        reports.begin(), reports.end(), reading.time,
        [](std::int64_t time, const GaugeReport& report) { return time < report.time; });
    reports.insert(later, ReportOf(reading));
}

std::int64_t HourStart(std::int64_t time) {
    return (time >= 0 ? time : time - (kHour - 1)) / kHour * kHour;
}

RainWindow HourEndingAt(std::int64_t end) {
    return {end - kHour, end};
}

std::optional<double> HourlyRain(const ShefGauge& gauge, const RainSeries& series,
                                 std::int64_t end) {
    const RainWindow hour = HourEndingAt(end);
    if (!series.Known(hour)) {
        return std::nullopt;
    }
    return RainDepth(series.Tips(hour), &gauge.sensor);
}

ShefMessage ShefHourlyMessage(const ShefGauge& gauge, std::int64_t end, std::optional<double> rain,
                              bool revision) {
    ShefMessage message =
        Message(gauge.location, end, false, IsShefSiUnits(gauge.sensor.units), gauge.code, rain);
    message.revision = revision;
    return message;
}

ShefWriter::ShefWriter(std::ostream& out, std::string_view program) : out_(out) {
    out_ << ShefHeader(program);
}

void ShefWriter::OnReading(const Reading& reading) {
    if (const auto message = ShefReadingMessage(reading)) {
        out_ << ShefLines(*message);
    }
    gauges_.Add(reading);
}

void ShefWriter::Finish() {
    for (auto& [key, gauge] : gauges_.All()) {
        const RainSeries series(gauge.reports);
        const auto first = series.Reports().front().time;
        const auto last = series.Reports().back().time;
        // Whole hours from the first report on, up to the last.
        for (std::int64_t end = HourStart(first + kHour - 1); end <= last; end += kHour) {
            out_ << ShefLines(ShefHourlyMessage(gauge, end, HourlyRain(gauge, series, end)));
        }
    }
}

} // namespace veltaro::data
