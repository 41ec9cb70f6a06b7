#include "display/data/station_table.h"

#include "display/data/csv.h"
#include "display/data/numbers.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
#include <set>

namespace veltaro::data {

namespace {

constexpr std::int64_t kMinuteMs = 60 * 1000;
constexpr std::int64_t kHour = 3600;
// Digits kept of a scaled value, as the readings' "scaled".
constexpr int kScaledDigits = 12;

std::int64_t NowSeconds(const StationClock& clock) {
    return clock.now_ms >= 0 ? clock.now_ms / 1000 : (clock.now_ms - 999) / 1000;
}

std::optional<int> Address(const std::string& source) {
    const std::optional<long long> number = WholeNumber(source);
    if (!number || *number < 0 || *number > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

// The registry's sensors of a source, by sensor number.
std::vector<std::pair<long long, const SensorEntry*>>
RegisteredSensors(const Registry& registry, std::optional<int> address) {
    std::vector<std::pair<long long, const SensorEntry*>> sensors;
    if (!address) {
        return sensors;
    }
    const auto& all = registry.Sensors();
    for (auto it = all.lower_bound({*address, std::numeric_limits<long long>::min()});
         it != all.end() && it->first.first == *address; ++it) {
        sensors.emplace_back(it->first.second, &it->second);
    }
    return sensors;
}

const LatestReading* LatestOf(const StationRow& row, long long sensor) {
    for (const LatestReading& reading : row.latest) {
        if (reading.sensor == sensor) {
            return &reading;
        }
    }
    return nullptr;
}

void ChooseGauge(StationRow& row, const Registry& registry, std::optional<int> address) {
    for (const auto& [sensor, entry] : RegisteredSensors(registry, address)) {
        if (entry->IsKind("rain")) {
            row.rain_sensor = sensor;
            row.rain_entry = *entry;
            return;
        }
    }
    for (const LatestReading& reading : row.latest) {
        if (reading.kind == "rain" && !(address && registry.Sensor(*address, reading.sensor))) {
            row.rain_sensor = reading.sensor;
            return;
        }
    }
}

void ReadBattery(StationRow& row, const Registry& registry, std::optional<int> address) {
    for (const auto& [sensor, entry] : RegisteredSensors(registry, address)) {
        if (entry->IsKind("battery")) {
            const LatestReading* reading = LatestOf(row, sensor);
            if (reading != nullptr && reading->value) {
                row.battery = RoundSignificant(entry->Scaled(*reading->value), kScaledDigits);
            }
            return;
        }
    }
}

void TotalRain(StationRow& row, StationArchive& archive, const StationClock& clock) {
    if (!row.rain_sensor) {
        return;
    }
    const std::int64_t now = NowSeconds(clock);
    const std::int64_t since = std::min(now - kRainWindowSeconds.back(), clock.today_start);
    const RainSeries series(
        archive.GaugeReports(row.source, *row.rain_sensor, !row.rain_entry, since, now));
    if (series.Reports().empty()) {
        return; // the gauge has never been heard
    }
    const SensorEntry* entry = row.rain_entry ? &*row.rain_entry : nullptr;
    for (std::size_t i = 0; i < kRainWindowSeconds.size(); ++i) {
        row.rain[i] = RainDepth(series.Tips({now - kRainWindowSeconds[i], now}), entry);
    }
    row.rain.back() = RainDepth(series.Tips({clock.today_start, now}), entry);
}

StationRow BuildRow(StationArchive& archive, const Registry& registry, const std::string& source,
                    const StationClock& clock) {
    StationRow row;
    row.source = source;
    const std::optional<int> address = Address(source);
    const StationEntry* station = address ? registry.Station(*address) : nullptr;
    row.name = station != nullptr ? station->name : "";
    row.interval_minutes = (station != nullptr ? *station : StationEntry{}).interval_minutes;
    row.packets = archive.Packets(source, clock.now_ms);
    if (row.packets.last_heard) {
        const std::int64_t quiet = clock.now_ms - *row.packets.last_heard;
        row.age_minutes = quiet / kMinuteMs;
        row.overdue = quiet > row.interval_minutes * kMinuteMs;
    } else {
        row.overdue = true;
    }
    row.latest = archive.LatestReadings(source, NowSeconds(clock));
    ChooseGauge(row, registry, address);
    ReadBattery(row, registry, address);
    TotalRain(row, archive, clock);
    return row;
}

// Overdue first; then numbers in order, then texts.
bool ShownBefore(const StationRow& a, const StationRow& b) {
    if (a.overdue != b.overdue) {
        return a.overdue;
    }
    const std::optional<long long> x = WholeNumber(a.source);
    const std::optional<long long> y = WholeNumber(b.source);
    if (x && y) {
        return *x < *y;
    }
    if (x.has_value() != y.has_value()) {
        return x.has_value();
    }
    return a.source < b.source;
}

std::string Optional(const std::optional<long long>& value) {
    return value ? std::to_string(*value) : "";
}

std::string Optional(const std::optional<double>& value) {
    return value ? NumberText(*value) : "";
}

} // namespace

StationClock LocalClock(std::int64_t now_ms) {
    StationClock clock{now_ms, 0};
    const std::time_t now = static_cast<std::time_t>(NowSeconds(clock));
    std::tm local{};
    localtime_r(&now, &local);
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1; // as it is at midnight
    clock.today_start = std::mktime(&local);
    return clock;
}

std::string StationRow::RainUnitsText() const {
    return rain_sensor ? RainUnits(rain_entry ? &*rain_entry : nullptr) : "";
}

std::vector<StationRow> BuildStationTable(StationArchive& archive, const Registry& registry,
                                          const StationClock& clock) {
    std::set<std::string> registered;
    for (const auto& [source, station] : registry.Stations()) {
        registered.insert(std::to_string(source));
    }
    for (const auto& [key, sensor] : registry.Sensors()) {
        registered.insert(std::to_string(key.first));
    }
    std::vector<StationRow> rows;
    const ArchiveSnapshot snapshot(archive);
    std::vector<std::string> sources = archive.Sources();
    sources.insert(sources.end(), registered.begin(), registered.end());
    std::set<std::string> done;
    for (const std::string& source : sources) {
        if (!done.insert(source).second) {
            continue;
        }
        StationRow row = BuildRow(archive, registry, source, clock);
        // Heard only in test packets, or only after the table's moment.
        if (row.packets.last_heard || registered.contains(source)) {
            rows.push_back(std::move(row));
        }
    }
    std::sort(rows.begin(), rows.end(), ShownBefore);
    return rows;
}

const std::vector<std::string>& StationColumns() {
    static const std::vector<std::string> kColumns{
        "source",      "station",           "last_heard",     "age",      "reports_1h",
        "reports_24h", "fec_corrected_24h", "fec_failed_24h", "battery",  "rain_15m",
        "rain_1h",     "rain_3h",           "rain_6h",        "rain_12h", "rain_24h",
        "rain_today",  "rain_units",        "overdue"};
    return kColumns;
}

std::vector<std::string> StationFields(const StationRow& row) {
    const PacketFigures& p = row.packets;
    std::vector<std::string> fields{row.source,
                                    row.name,
                                    p.last_heard ? LocalTimeText(*p.last_heard / 1000) : "",
                                    Optional(row.age_minutes),
                                    std::to_string(p.reports_1h),
                                    std::to_string(p.reports_24h),
                                    Optional(p.fec_corrected_24h),
                                    Optional(p.fec_failed_24h),
                                    Optional(row.battery)};
    for (const std::optional<double>& rain : row.rain) {
        fields.push_back(Optional(rain));
    }
    fields.push_back(row.RainUnitsText());
    fields.push_back(row.overdue ? "true" : "false");
    return fields;
}

std::string StationTableCsv(const std::vector<StationRow>& rows) {
    std::string csv;
    AppendCsvRecord(csv, StationColumns());
    for (const StationRow& row : rows) {
        AppendCsvRecord(csv, StationFields(row));
    }
    return csv;
}

std::string LocalTimeText(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&time, &local);
    const int offset = static_cast<int>(local.tm_gmtoff / 60); // minutes east of UTC
    const int magnitude = offset < 0 ? -offset : offset;
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, "%c%02d:%02d", offset < 0 ? '-' : '+',
                  magnitude / 60 % 100, magnitude % 60);
    return text;
}

std::vector<HourOfRain> HourlyRain(StationArchive& archive, const StationRow& row, std::int64_t now,
                                   int hours) {
    std::vector<HourOfRain> result;
    if (!row.rain_sensor || hours <= 0) {
        return result;
    }
    // Hours end on the clock's whole hours; the last one holds now.
    const std::int64_t last_end = (now / kHour + (now % kHour > 0 ? 1 : 0)) * kHour;
    const std::int64_t first_start = last_end - hours * kHour;
    const ArchiveSnapshot snapshot(archive);
    const RainSeries series(
        archive.GaugeReports(row.source, *row.rain_sensor, !row.rain_entry, first_start, now));
    const SensorEntry* entry = row.rain_entry ? &*row.rain_entry : nullptr;
    for (std::int64_t end = first_start + kHour; end <= last_end; end += kHour) {
        const RainWindow hour{end - kHour, end};
        result.push_back({end, RainDepth(series.Tips(hour), entry), series.Known(hour)});
    }
    return result;
}

} // namespace veltaro::data
