// The rain rules on accumulator series with hand-computed totals: windows
// open at their start, gaps, rollovers, resets, test reports and gauges
// first heard inside a window.
#include "display/data/rain_totals.h"
#include "display/data/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltaro::data {
namespace {

constexpr std::int64_t kT0 = 1430661600; // 2015-05-03T14:00:00Z

// Minutes after kT0.
std::int64_t At(int minutes) {
    return kT0 + minutes * 60;
}

struct Report {
    int minute;
    double value;
    std::vector<int> tip_minutes = {};
    bool test = false;
};

// Every report of a series has the same kind and width.
struct Width {
    ValueKind kind = ValueKind::unsigned_integer;
    int bits = 8;
};
constexpr Width kTwoBytes{ValueKind::unsigned_integer, 16};
constexpr Width kCompact{ValueKind::unsigned_integer, 11};
constexpr Width kSigned{ValueKind::signed_integer, 8};
constexpr Width kReal{ValueKind::real, 32};

RainSeries Series(const std::vector<Report>& reports, Width width = {}) {
    std::vector<GaugeReport> series;
    for (const Report& r : reports) {
        GaugeReport g{At(r.minute), r.value, width.kind, width.bits, {}, r.test};
        for (const int tip : r.tip_minutes) {
            g.tips.push_back(At(tip));
        }
        series.push_back(g);
    }
    return RainSeries(series);
}

TEST(RainTotals, TipsInAWindowFollowTheRules) {
    struct Case {
        const char* name;
        int start; // minutes, exclusive
        int end;   // minutes, inclusive
        double tips;
        std::vector<Report> reports;
        Width width = {};
    };
    const Case cases[] = {
        {"rise from the baseline", 0, 60, 5, {{0, 10}, {30, 12}, {60, 15}}},
        {"a report at the start is the baseline", 0, 30, 2, {{-10, 8}, {0, 10}, {30, 12}}},
        {"a report at the end is inside", 0, 60, 5, {{0, 10}, {60, 15}}},
        {"the next window starts at that report", 60, 120, 0, {{0, 10}, {60, 15}}},
        {"a report after the end waits for its window", 0, 60, 2, {{0, 10}, {30, 12}, {90, 20}}},
        {"gap: nothing in the quiet hours", 60, 120, 0, {{0, 10}, {180, 25}}},
        {"gap: all of it when the next report comes", 120, 180, 15, {{0, 10}, {180, 25}}},
        {"gap: a window over the gap", 0, 180, 15, {{0, 10}, {180, 25}}},
        {"rollover of one byte", 0, 60, 12, {{0, 250}, {30, 4}, {60, 6}}},
        {"rollover of exactly half the range", 0, 30, 128, {{0, 200}, {30, 72}}},
        {"a fall past half the range is a reset", 0, 30, 0, {{0, 200}, {30, 73}}},
        {"reset: a new baseline", 0, 60, 2, {{0, 100}, {30, 3}, {60, 5}}},
        {"rollover of two bytes", 0, 60, 8, {{0, 65530}, {30, 2}}, kTwoBytes},
        {"compact reports wrap at 2048", 0, 30, 13, {{0, 2040}, {30, 5}}, kCompact},
        {"a signed value wraps", 0, 30, 3, {{0, 126}, {30, -127}}, kSigned},
        {"a real that falls was reset", 0, 60, 1.5, {{0, 10.5}, {30, 2}, {60, 3.5}}, kReal},
        {"a test report inside counts nothing", 0, 60, 2, {{0, 10}, {20, 50, {}, true}, {30, 12}}},
        {"a test report is never the baseline", 0, 60, 7, {{-10, 5}, {0, 9, {}, true}, {30, 12}}},
        {"no baseline: tips listed inside, rises", 0, 60, 4, {{10, 5, {-20, 5, 8}}, {30, 7}}},
        {"no baseline: a report after the end counts nothing", 0, 6, 0, {{10, 5, {5, 8}}}},
        {"no baseline, only test reports", 0, 60, 0, {{10, 5, {5, 8}, true}}},
        {"no report inside the window", 0, 60, 0, {{0, 10}}},
        {"no report at all", 0, 60, 0, {}},
        {"a report heard twice counts once", 0, 60, 3, {{0, 10}, {30, 12}, {30, 12}, {40, 13}}},
        {"a first report heard twice", 0, 60, 2, {{10, 5, {8}}, {10, 5, {8}}, {20, 6}}},
        {"reports in any order", 0, 60, 5, {{60, 15}, {0, 10}, {30, 12}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(Series(c.reports, c.width).Tips({At(c.start), At(c.end)}), c.tips);
    }
}

TEST(RainTotals, AWindowIsKnownWithAReportOnEachSide) {
    struct Case {
        const char* name;
        int start;
        int end;
        bool known;
        std::vector<Report> reports;
    };
    const Case cases[] = {
        {"reports at both edges", 0, 60, true, {{0, 1}, {60, 2}}},
        {"reports outside both edges", 0, 60, true, {{-5, 1}, {65, 2}}},
        {"nothing at or before the start", 0, 60, false, {{1, 1}, {60, 2}}},
        {"nothing at or after the end", 0, 60, false, {{0, 1}, {59, 2}}},
        {"the report after is a test", 0, 60, false, {{0, 1}, {60, 2, {}, true}}},
        {"no reports", 0, 60, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Series(c.reports).Known({At(c.start), At(c.end)}), c.known);
    }
}

TEST(RainTotals, DepthIsTipsTimesTheDepthOfATipInTheRegistrysUnits) {
    SensorEntry gauge;
    gauge.units = "in";
    gauge.multiplier = 0.04;
    gauge.adder = 7; // a depth has no offset
    EXPECT_EQ(RainDepth(13, &gauge), 0.52);
    EXPECT_EQ(RainUnits(&gauge), "in");
    EXPECT_EQ(RainDepth(13, nullptr), 13);
    EXPECT_EQ(RainUnits(nullptr), "tips");
}

} // namespace
} // namespace veltaro::data
