// The station table on archives the display's own path writes: overdue at
// the interval's edge, stations heard only in test packets, the gauge and
// battery the registry names, and the hourly rain. (Packet counts and link
// quality are checked on the whole table that veltaro-stations --print gives.)
#include "display/data/archive.h"
#include "display/data/station_table.h"
#include "tests/support/exchange_text.h"
#include "tests/support/harness.h"
#include "tests/support/readings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace veltaro::data {
namespace {

using harness::gsr_payload;
using harness::n_record_at;
using harness::rain_payload;

constexpr std::int64_t kNow = 1430661600LL * 1000; // 2015-05-03T14:00:00Z
constexpr std::int64_t kMinute = 60 * 1000;
constexpr std::int64_t kHour = 60 * kMinute;

class StationTableTest : public testing::Test {
protected:
    void Store(const std::vector<std::string>& records) {
        Archive archive(db_, [](const std::string& message) { FAIL() << message; });
        harness::decode_into(harness::exchange_content(records), {&archive}, &registry_);
        ASSERT_TRUE(archive.Flush());
    }

    std::vector<StationRow> Table() {
        StationArchive archive(db_);
        return BuildStationTable(archive, registry_, {kNow, kNow / 1000 - 14 * 3600});
    }

    std::map<std::string, StationRow> TableBySource() {
        std::map<std::string, StationRow> rows;
        for (StationRow& row : Table()) {
            rows[row.source] = std::move(row);
        }
        return rows;
    }

    harness::TempDir dir_;
    std::string db_ = dir_.file("veltaro.sqlite");
    Registry registry_;
};

TEST_F(StationTableTest, OverdueOnlyPastTheIntervalAndFirst) {
    registry_ = harness::registry_of("source,sensor,name,interval_minutes\n"
                           "10,,On the edge,60\n"
                           "20,,Past it,60\n"
                           "30,,Never heard,60\n");
    Store({
        n_record_at(kNow - 60 * kMinute, gsr_payload(1, 1), "10"),
        n_record_at(kNow - 60 * kMinute - 1, gsr_payload(1, 1), "20"),
        n_record_at(kNow - 7 * 60 * kMinute, gsr_payload(1, 1), "5"),        // default interval 360
        n_record_at(kNow - 5 * kMinute, rain_payload(1, 1, {}, true), "66"), // test packets only
    });
    using Row = std::tuple<std::string, bool, std::optional<long long>>; // overdue, age
    std::vector<Row> rows;
    for (const StationRow& row : Table()) {
        rows.emplace_back(row.source, row.overdue, row.age_minutes);
    }
    EXPECT_EQ(
        rows,
        (std::vector<Row>{
            {"5", true, 420}, {"20", true, 60}, {"30", true, std::nullopt}, {"10", false, 60}}));
}

TEST_F(StationTableTest, TheRegistryNamesTheGaugeAndTheBattery) {
    registry_ = harness::registry_of("source,sensor,name,kind,units,multiplier\n"
                           "1,10,Gauge,rain,in,0.04\n"
                           "1,20,Battery,battery,V,0.1\n"
                           "3,7,Stage,stage,ft,\n");
    const auto rain = [](const std::string& source, int sensor, unsigned from, unsigned to) {
        return std::vector<std::string>{
            n_record_at(kNow - 2 * kHour, rain_payload(sensor, from), source),
            n_record_at(kNow - 10 * kMinute, rain_payload(sensor, to), source)};
    };
    std::vector<std::string> records;
    for (const auto& part :
         {rain("1", 3, 0, 50), rain("1", 10, 100, 113), rain("2", 7, 5, 9), rain("3", 7, 5, 9)}) {
        records.insert(records.end(), part.begin(), part.end());
    }
    records.push_back(n_record_at(kNow - 3 * kHour, gsr_payload(20, 130), "1"));
    records.push_back(n_record_at(kNow - kHour, gsr_payload(20, 125), "1"));
    Store(records);
    std::map<std::string, StationRow> rows = TableBySource();

    struct Expected {
        std::string source;
        std::optional<long long> sensor;
        std::string units;
        std::optional<double> rain_1h;
    };
    const Expected cases[] = {
        {"1", 10, "in", 0.52}, // the registered gauge before an unregistered one
        {"2", 7, "tips", 4},   // rain reports of a sensor the registry does not know
        {"3", std::nullopt, "", std::nullopt}, // registered as something else
    };
    for (const Expected& c : cases) {
        SCOPED_TRACE(c.source);
        const StationRow& row = rows[c.source];
        EXPECT_EQ(row.rain_sensor, c.sensor);
        EXPECT_EQ(row.RainUnitsText(), c.units);
        EXPECT_EQ(row.rain[1], c.rain_1h);
    }
    EXPECT_EQ(rows["1"].battery, 12.5); // the latest reading, scaled
    EXPECT_EQ(rows["2"].battery, std::nullopt);
}

TEST_F(StationTableTest, HourlyRainEndsWithTheHourNowIsIn) {
    registry_ = harness::registry_of("source,sensor,kind,units,multiplier\n1234,10,rain,in,0.04\n");
    const std::int64_t now = kNow + 20 * kMinute; // 14:20
    Store({
        n_record_at(kNow - 160 * kMinute, rain_payload(10, 100)), // 11:20
        n_record_at(kNow - 90 * kMinute, rain_payload(10, 103)),  // 12:30
        n_record_at(kNow, rain_payload(10, 104)),                 // 14:00
    });
    StationArchive archive(db_);
    const std::vector<StationRow> rows = BuildStationTable(archive, registry_, {now, 0});
    ASSERT_EQ(rows.size(), 1u);
    const std::vector<HourOfRain> hours = HourlyRain(archive, rows[0], now / 1000, 72);
    ASSERT_EQ(hours.size(), 72u);
    struct Expected {
        int hour; // UTC hour the window ends at
        double rain;
        bool known;
    };
    const Expected expected[] = {
        {12, 0, false}, {13, 0.12, true}, {14, 0.04, true}, {15, 0, false}};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const HourOfRain& hour = hours[hours.size() - std::size(expected) + i];
        SCOPED_TRACE(expected[i].hour);
        EXPECT_EQ(hour.end, kNow / 1000 + (expected[i].hour - 14) * 3600);
        EXPECT_DOUBLE_EQ(hour.rain, expected[i].rain);
        EXPECT_EQ(hour.known, expected[i].known);
    }
}

} // namespace
} // namespace veltaro::data
