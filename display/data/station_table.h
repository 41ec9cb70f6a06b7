// Stations at a glance: one row per station heard or registered, with how
// long it has been quiet, its packets and radio link over the last day, its
// battery and its rain over windows from 15 minutes to a day. Overdue
// stations (quiet for longer than their interval, or never heard) come
// first, the rest by source.
#pragma once

#include "display/data/registry.h"
#include "display/data/station_archive.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltaro::data {

// The moment a table is made for.
struct StationClock {
    std::int64_t now_ms = 0;      // milliseconds since 1970 UTC
    std::int64_t today_start = 0; // local midnight before now, seconds since 1970 UTC
};

// The clock at now_ms in the system's time zone.
StationClock LocalClock(std::int64_t now_ms);

// The rain windows, each ending now: 15 minutes to 24 hours, then "today"
// (since local midnight).
inline constexpr std::array<std::int64_t, 6> kRainWindowSeconds{900,      3600,      3 * 3600,
                                                                6 * 3600, 12 * 3600, 24 * 3600};
inline constexpr std::size_t kRainWindows = kRainWindowSeconds.size() + 1;

struct StationRow {
    std::string source; // the address, or the text listed for it
    std::string name;   // from the registry
    int interval_minutes = 0;
    PacketFigures packets;
    std::optional<long long> age_minutes; // whole minutes since last heard
    std::optional<double> battery;        // scaled
    // The gauge the rain columns are of: the station's first sensor of kind
    // "rain" in the registry, else its first unregistered sensor whose
    // latest reading is a rain report.
    std::optional<long long> rain_sensor;
    std::optional<SensorEntry> rain_entry;                // when the registry describes the gauge
    std::array<std::optional<double>, kRainWindows> rain; // in RainUnits
    bool overdue = false;
    std::vector<LatestReading> latest; // of each sensor of the station

    std::string RainUnitsText() const;
};

// The table at clock's moment.
std::vector<StationRow> BuildStationTable(StationArchive& archive, const Registry& registry,
                                          const StationClock& clock);

// The table's columns, and a row's fields as texts in their order
// (last_heard in local time, ISO 8601 with the offset from UTC).
const std::vector<std::string>& StationColumns();
std::vector<std::string> StationFields(const StationRow& row);
// RFC 4180 with a header row.
std::string StationTableCsv(const std::vector<StationRow>& rows);

// "2015-05-03T09:07:09-05:00" for seconds since 1970 UTC, in the system's
// time zone.
std::string LocalTimeText(std::int64_t seconds);

struct HourOfRain {
    std::int64_t end = 0; // the hour's end, seconds since 1970 UTC (the hour is open at its start)
    double rain = 0;      // in the row's rain units
    bool known = false;   // a report on each side of the hour
};

// The rain of the row's gauge in each whole hour of the last `hours`, the
// hour now is in last; none without a gauge.
std::vector<HourOfRain> HourlyRain(StationArchive& archive, const StationRow& row, std::int64_t now,
                                   int hours);

} // namespace veltaro::data
