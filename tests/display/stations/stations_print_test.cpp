// veltaro-stations --print on an archive that veltaro-decode imported from
// known traffic: the whole table against hand-computed figures, and the
// command line's faults.
#include "tests/support/csv.h"
#include "tests/support/exchange_text.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using harness::gsr_payload;
using harness::n_record_at;
using harness::p_record_at;
using harness::rain_payload;

const std::string kBin = VELTARO_BIN_DIR;
// Local times in a zone with daylight saving: 14:00 UTC is 09:00 there, and
// the day began at 05:00 UTC.
const std::vector<std::string> kChicago = {"TZ=America/Chicago"};

constexpr std::int64_t kNow = 1430661600LL * 1000; // 2015-05-03T14:00:00Z
constexpr std::int64_t kMinute = 60 * 1000;
constexpr std::int64_t kHour = 60 * kMinute;

// 1234: a registered gauge (0.04 in a tip) and battery, with a test packet
// and one received after the table's moment.
// 2001: an unregistered gauge whose two-byte count rolls over. 3000:
// registered, never heard. 4000: last heard 7 hours ago.
std::vector<std::string> KnownTraffic() {
    std::vector<std::string> records;
    const auto rain = [&](std::int64_t before, unsigned value) {
        records.push_back(n_record_at(kNow - before, rain_payload(10, value)));
    };
    rain(25 * kHour, 100);
    rain(20 * kHour, 110);
    rain(10 * kHour, 120);
    rain(7 * kHour, 122);
    rain(4 * kHour, 125);
    records.push_back(p_record_at(kNow - 2 * kHour, {{24, 2}, {9, -1}}));
    rain(2 * kHour, 130);
    records.push_back(p_record_at(kNow - 30 * kMinute, {{24, 1}}));
    rain(30 * kMinute, 131);
    rain(10 * kMinute, 133);
    records.push_back(n_record_at(kNow - 9 * kMinute, gsr_payload(20, 1250)));
    records.push_back(p_record_at(kNow - 5 * kMinute, {{24, 7}}));
    records.push_back(n_record_at(kNow - 5 * kMinute, rain_payload(10, 200, {}, true)));
    records.push_back(n_record_at(kNow + 10 * kMinute, rain_payload(10, 300))); // after now

    records.push_back(n_record_at(kNow - 3 * kHour, rain_payload(5, 65530, {30, 60}), "2001"));
    records.push_back(n_record_at(kNow - 50 * kMinute, rain_payload(5, 4), "2001"));
    records.push_back(n_record_at(kNow - 7 * kHour, gsr_payload(1, 7), "4000"));
    return records;
}

constexpr const char* kRegistry = "source,sensor,name,kind,units,multiplier,interval_minutes\n"
                                  "1234,,Cedar Creek,,,,60\n"
                                  "1234,10,Gauge,rain,in,0.04,\n"
                                  "1234,20,Battery,battery,V,0.01,\n"
                                  "3000,,Dry Fork,,,,\n";

class StationsPrint : public testing::Test {
protected:
    void SetUp() override {
        harness::write_file(dir_ / "stations.csv", kRegistry);
        harness::write_file(dir_ / "traffic.txt", harness::exchange_content(KnownTraffic()));
        const harness::Outcome import =
            harness::run({kBin + "/veltaro-decode", "--stations", Path("stations.csv"), "--archive",
                          Path("veltaro.sqlite"), Path("traffic.txt")},
                         dir_.path());
        ASSERT_EQ(import.status, 0) << import.err;
    }

    std::string Path(const std::string& name) const { return dir_.file(name); }

    harness::Outcome Print(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {kBin + "/veltaro-stations", "--print", "--stations",
                                             Path("stations.csv")});
        return harness::run(arguments, dir_.path(), "", 120, kChicago);
    }

    harness::TempDir dir_;
};

TEST_F(StationsPrint, GivesTheHandComputedTable) {
    const harness::Outcome printed =
        Print({"--data-dir", dir_.path().string(), "--now", "2015-05-03T14:00:00Z"});
    ASSERT_EQ(printed.status, 0) << printed.err;
    EXPECT_EQ(printed.err, "");
    const harness::CsvRows expected{
        {"source", "station", "last_heard", "age", "reports_1h", "reports_24h", "fec_corrected_24h",
         "fec_failed_24h", "battery", "rain_15m", "rain_1h", "rain_3h", "rain_6h", "rain_12h",
         "rain_24h", "rain_today", "rain_units", "overdue"},
        {"3000", "Dry Fork", "", "", "0", "0", "", "", "", "", "", "", "", "", "", "", "", "true"},
        {"4000", "", "2015-05-03T02:00:00-05:00", "420", "0", "1", "", "", "", "", "", "", "", "",
         "", "", "", "true"},
        // Rises from the baselines 131, 130, 125, 122, 110 and 100; today from 120.
        {"1234", "Cedar Creek", "2015-05-03T08:51:00-05:00", "9", "3", "8", "3", "1", "12.5",
         "0.08", "0.12", "0.32", "0.44", "0.92", "1.32", "0.52", "in", "false"},
        // 65530 -> 4 is 10 tips; without a baseline its two listed tips count too.
        {"2001", "", "2015-05-03T08:10:00-05:00", "50", "1", "2", "", "", "", "0", "10", "10", "12",
         "12", "12", "12", "tips", "false"},
    };
    EXPECT_EQ(harness::parse_csv(printed.out), expected);
}

TEST_F(StationsPrint, FaultsOfTheCommandLineAreReported) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        int status;
        std::string message;
    };
    const std::string folder = dir_.path().string();
    const Case cases[] = {
        {"a time without its zone",
         {"--data-dir", folder, "--now", "2015-05-03T14:00:00"},
         2,
         "--now takes a time in UTC such as 2015-05-03T14:07:09Z, not '2015-05-03T14:00:00'"},
        {"a data folder that is not there",
         {"--data-dir", Path("gone")},
         2,
         "no data folder '" + Path("gone") + "'"},
        {"an unknown option", {"--data-dir", folder, "--bogus"}, 2, "Unknown option 'bogus'."},
        {"a folder without an archive",
         {"--data-dir", Path("empty")},
         1,
         "no archive at " + Path("empty") + "/veltaro.sqlite"},
    };
    harness::fs::create_directory(dir_ / "empty");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const harness::Outcome printed = Print(c.arguments);
        EXPECT_EQ(printed.status, c.status);
        EXPECT_EQ(printed.out, "");
        EXPECT_NE(printed.err.find("veltaro-stations: " + c.message), std::string::npos)
            << printed.err;
    }
}

} // namespace
