// What goes to the forecast office in SHEF: one .A line for each reading of
// an exported sensor, and the hourly rain of each exported rain gauge.
//
// A sensor is exported when its station has an nws_id and it has a shef
// parameter code; a rain gauge (kind "rain") that is exported also gets a
// PPH line for each whole UTC hour, with the type and source of its own code
// (PCIRRZZ gives PPHRRZZ). Readings from packets with the test flag set are
// never exported.
#pragma once

#include "display/data/rain_totals.h"
#include "display/data/reading.h"
#include "display/data/registry.h"
#include "display/data/shef.h"

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace veltaro::data {

// The reading's message, or nothing when it is not exported.
std::optional<ShefMessage> ShefReadingMessage(const Reading& reading);

struct ShefGauge {
    std::string location;
    std::string code;                 // PPH with the type and source of the gauge's code
    SensorEntry sensor;               // its depth per tip and units
    std::int64_t interval = 0;        // seconds its station may be quiet
    std::vector<GaugeReport> reports; // in time order
};

// The exported rain gauges heard, with their reports, by source and sensor.
class ShefGauges {
public:
    using Map = std::map<std::pair<int, long long>, ShefGauge>;

    // Keeps the reading when it is a report of an exported rain gauge.
    void Add(const Reading& reading);
    Map& All() { return gauges_; }

private:
    Map gauges_;
};

// The whole UTC hour at or before a time, both in seconds since 1970.
std::int64_t HourStart(std::int64_t time);

// The hour that ends at `end`: open at its start, so that a report on the
// hour belongs to the hour it ends.
RainWindow HourEndingAt(std::int64_t end);

// The gauge's rain in the hour ending at `end`, in its registry units;
// nothing when it cannot be known (no report on each side of the hour).
std::optional<double> HourlyRain(const ShefGauge& gauge, const RainSeries& series,
                                 std::int64_t end);

// The PPH message of that hour: the rain, or M for none.
ShefMessage ShefHourlyMessage(const ShefGauge& gauge, std::int64_t end, std::optional<double> rain,
                              bool revision = false);

// SHEF text on a stream (veltaro-decode): the header comment, a line for
// each exported reading as it comes, and at Finish the hourly lines of
// every gauge for each whole hour from its first report to its last.
class ShefWriter final : public ReadingOutput {
public:
    ShefWriter(std::ostream& out, std::string_view program);
    void OnReading(const Reading& reading) override;
    void Finish();

private:
    std::ostream& out_;
    ShefGauges gauges_;
};

} // namespace veltaro::data
