#include "display/data/rain_totals.h"

#include "display/data/numbers.h"
#include "display/data/registry.h"

#include <algorithm>
#include <cmath>

namespace veltaro::data {

namespace {

// Digits kept of a depth, so that 13 x 0.04 is 0.52 (as the scaled values).
constexpr int kDepthDigits = 12;
// Doubles hold integers exactly up to 2^53; wider values cannot wrap here.
constexpr int kWidestWrap = 53;

// The rain between two reports that follow each other.
double Rise(const GaugeReport& before, const GaugeReport& after) {
    const double rise = after.value - before.value;
    if (rise >= 0) {
        return rise;
    }
    if (after.value_kind == ValueKind::real || after.value_bits <= 0 ||
        after.value_bits > kWidestWrap) {
        return 0; // a reset
    }
    const double range = std::ldexp(1.0, after.value_bits);
    const double wrapped = rise + range;
    return wrapped >= 0 && wrapped <= range / 2 ? wrapped : 0;
}

bool ByTime(const GaugeReport& a, const GaugeReport& b) {
    return a.time < b.time;
}

} // namespace

RainSeries::RainSeries(std::vector<GaugeReport> reports) : reports_(std::move(reports)) {
    std::erase_if(reports_, [](const GaugeReport& r) { return r.test || !std::isfinite(r.value); });
    std::stable_sort(reports_.begin(), reports_.end(), ByTime);
}

double RainSeries::Tips(RainWindow window) const {
    const auto at = [](std::int64_t time) {
        GaugeReport key;
        key.time = time;
        return key;
    };
    const auto first_inside =
        std::upper_bound(reports_.begin(), reports_.end(), at(window.start), ByTime);
    const auto past_end = std::upper_bound(first_inside, reports_.end(), at(window.end), ByTime);
    if (first_inside >= past_end) {
        return 0;
    }
    double tips = 0;
    auto from = first_inside;
    if (first_inside != reports_.begin()) {
        from = first_inside - 1; // the baseline
    } else {
        tips += static_cast<double>(
            std::count_if(from->tips.begin(), from->tips.end(), [&](std::int64_t tip) {
                return tip > window.start && tip <= window.end;
            }));
    }
    for (auto it = from + 1; it != past_end; ++it) {
        tips += Rise(*(it - 1), *it);
    }
    return tips;
}

bool RainSeries::Known(RainWindow window) const {
    return !reports_.empty() && reports_.front().time <= window.start &&
           reports_.back().time >= window.end;
}

double RainDepth(double tips, const SensorEntry* sensor) {
    return sensor != nullptr ? RoundSignificant(tips * sensor->multiplier, kDepthDigits) : tips;
}

std::string RainUnits(const SensorEntry* sensor) {
    return sensor != nullptr ? sensor->units : "tips";
}

} // namespace veltaro::data
