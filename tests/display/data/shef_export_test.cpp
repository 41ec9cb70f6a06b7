// What is sent to the forecast office: a line for each reading of an
// exported sensor with its scaled value, and the hourly rain of exported
// gauges by the rain rules, M where it cannot be known.
#include "display/data/registry.h"
#include "display/data/shef_export.h"
#include "tests/support/exchange_text.h"
#include "tests/support/readings.h"
#include "tests/support/shef.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace veltaro::data {
namespace {

constexpr std::int64_t kDay = 1430611200; // 2015-05-03T00:00:00Z

Registry ShefRegistry() {
    std::vector<RegistryProblem> problems;
    Registry registry =
        Registry::Parse("source,sensor,kind,units,multiplier,interval_minutes,nws_id,shef\n"
                        "1234,,,,,60,CDRC1,\n"
                        "1234,10,rain,in,0.01,,,PCIRRZZ\n"
                        "1234,11,rain,mm,0.2,,,PCIR2ZZ\n"
                        "1234,5,stage,m,0.001,,,HGIRRZZ\n"
                        "1234,6,battery,V,0.01,,,\n"
                        "1234,7,,,,,,TAIRRZZ\n"
                        "55,,,,,,,\n"
                        "55,10,rain,in,0.01,,,PCIRRZZ\n",
                        problems);
    EXPECT_TRUE(problems.empty());
    return registry;
}

// A record received on 2015-05-03 at hh_mm ("15,10") UTC.
std::string At(const std::string& hh_mm, const std::string& payload,
               const std::string& source = "1234") {
    return harness::n_record(payload, 0, source, {}, "0.0000").replace(13, 5, hh_mm);
}

// A rain report of a one-byte accumulator, without tips.
std::string Rain(int sensor, int value, bool test = false) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%s 02 03 %02X 11 %02X", test ? "08" : "00", sensor, value);
    return hex;
}

std::string Shef(const std::vector<std::string>& records) {
    const Registry registry = ShefRegistry();
    std::ostringstream out;
    ShefWriter writer(out, "veltaro-decode");
    harness::decode_into(harness::exchange_content(records), {&writer}, &registry);
    writer.Finish();
    return out.str();
}

TEST(ShefExport, ALineForEachReadingOfAnExportedSensor) {
    const std::string text = Shef({
        At("14,07", Rain(10, 42)), At("14,07", "00 01 04 05 12 01 F4"), // stage 500 x 0.001 m
        At("14,07", "00 01 04 06 12 01 F4"),                            // battery: no shef code
        At("14,07", "00 01 06 07 34 7F 80 00 00"),                      // an infinity
        At("14,07", "00 01 04 0C 12 01 F4"), // a sensor the registry does not know
        At("14,08", Rain(10, 42), "55"),     // a station without an nws_id
        At("14,08", Rain(10, 43, true)),     // the test flag
    });
    EXPECT_EQ(text, std::string(": veltaro-decode ") + VELTARO_VERSION +
                        "\n"
                        ".A CDRC1 20150503 Z DH140700/PCIRRZZ 0.42\n"
                        ".A CDRC1 20150503 Z DH140700/DUS/HGIRRZZ 0.5\n"
                        ".A CDRC1 20150503 Z DH140700/TAIRRZZ M\n"); // no whole hour heard
    const auto observations = harness::parse_shef(text);
    ASSERT_EQ(observations.size(), 3u);
    EXPECT_EQ(observations[0].time, kDay + 14 * 3600 + 7 * 60);
    EXPECT_EQ(observations[1].value, 0.5);
    EXPECT_TRUE(observations[1].si);
}

TEST(ShefExport, HourlyRainFollowsTheRainRules) {
    const std::string text = Shef({
        At("14,07", Rain(10, 200)),
        At("14,30", Rain(11, 10)),
        At("14,50", Rain(10, 203)),
        At("15,10", Rain(10, 210)),
        At("15,30", Rain(11, 13)),
        At("16,00", Rain(10, 215)), // on the hour: the hour it ends
        At("16,10", Rain(11, 13)),
        At("16,30", Rain(10, 100, true)), // test flag: counts nothing
        At("17,30", Rain(10, 4)),         // rolled over at 256
        At("19,20", Rain(10, 6)),
    });
    struct Hour {
        std::string code;
        int hour; // its end, UTC
        std::optional<double> rain;
        bool si;
    };
    const Hour expected[] = {
        {"PPHRRZZ", 15, std::nullopt, false}, // no report at or before 14:00
        {"PPHRRZZ", 16, 0.12, false},         // 203 -> 215, 0.01 in a tip
        {"PPHRRZZ", 17, 0, false},
        {"PPHRRZZ", 18, 0.45, false},        // 215 -> 256 + 4
        {"PPHRRZZ", 19, 0, false},           // known: reports at 17:30 and 19:20
        {"PPHR2ZZ", 15, std::nullopt, true}, // the second gauge, in mm
        {"PPHR2ZZ", 16, 0.6, true},          // 10 -> 13, 0.2 mm a tip
    };
    std::vector<harness::ShefObservation> hourly;
    for (const auto& observation : harness::parse_shef(text)) {
        if (observation.code.starts_with("PPH")) {
            hourly.push_back(observation);
        }
    }
    ASSERT_EQ(hourly.size(), std::size(expected)) << text;
    for (std::size_t i = 0; i < hourly.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(hourly[i].location, "CDRC1");
        EXPECT_EQ(hourly[i].code, expected[i].code);
        EXPECT_EQ(hourly[i].time, kDay + expected[i].hour * 3600);
        EXPECT_EQ(hourly[i].value, expected[i].rain);
        EXPECT_EQ(hourly[i].si, expected[i].si);
    }
    EXPECT_NE(text.find(".A CDRC1 20150503 Z DH1600/PPHRRZZ 0.12\n"), std::string::npos);
}

} // namespace
} // namespace veltaro::data
