// Rain at a tipping-bucket gauge, from the reports of its accumulator: a
// count that rises by one a tip, wraps at the width of its value and starts
// again when the station is reset. One set of rules for every screen and
// export that totals rain.
//
// The rain in a window is the accumulator's rise from the last report at or
// before the window's start (the baseline) to the last report inside it. A
// fall is a rollover when the value wraps at its width (2^bits) and the
// wrapped rise is at most half that range; any other fall is a reset, which
// counts nothing and starts a new baseline. Without a baseline the tips the
// first report inside the window lists count, then its rises. Rain that
// falls while reports are missed is counted when a later report arrives.
#pragma once

#include "display/decoding/reading_sink.h"

#include <cstdint>
#include <string>
#include <vector>

namespace veltaro::data {

struct SensorEntry;

// One report of a gauge's accumulator.
struct GaugeReport {
    std::int64_t time = 0; // the reading's time, seconds since 1970-01-01 UTC
    double value = 0;      // the accumulator
    ValueKind value_kind = ValueKind::unsigned_integer;
    int value_bits = 8;             // the value's width: 8 a byte, 11 for a compact report
    std::vector<std::int64_t> tips; // tip times the report lists, seconds since 1970 UTC
    bool test = false;              // from a packet with the test flag: counts in nothing
};

// A span of time open at its start: a report exactly at `start` belongs to
// the window before.
struct RainWindow {
    std::int64_t start = 0; // exclusive
    std::int64_t end = 0;   // inclusive
};

class RainSeries {
public:
    // The reports in any order. Test reports and values that are not finite
    // numbers are left out; the rest are ordered by time, reports of the
    // same second keeping their order.
    explicit RainSeries(std::vector<GaugeReport> reports);

    // The rain in the window, in counts of the accumulator (tips); never
    // negative.
    double Tips(RainWindow window) const;

    // Whether the window's rain is known: a report at or before its start
    // and one at or after its end.
    bool Known(RainWindow window) const;

    const std::vector<GaugeReport>& Reports() const { return reports_; }

private:
    std::vector<GaugeReport> reports_;
};

// Tips as a depth: times the registry's depth per tip, in its units; plain
// tips for a gauge the registry does not describe (sensor null).
double RainDepth(double tips, const SensorEntry* sensor);
// The units of RainDepth: the registry's, or "tips".
std::string RainUnits(const SensorEntry* sensor);

} // namespace veltaro::data
