// Readings written as JSON Lines and as CSV, checked by parsing what is
// written: a JSON parser and a strict RFC 4180 reader.
#include "display/data/reading_csv.h"
#include "display/data/reading_json.h"
#include "display/data/registry.h"
#include "display/data/utc_time.h"
#include "tests/support/csv.h"
#include "tests/support/exchange_text.h"
#include "tests/support/readings.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace veltaro::data {
namespace {

using harness::exchange_content;
using harness::n_record;
using harness::p_record;
using Json = nlohmann::json;

// Each kind once, from a registered station with one registered sensor;
// the first two packets come with their frame's P record.
const std::string kTraffic = exchange_content({
    p_record("09.250", {{24, 3}, {9, -1}}),
    n_record("00 02 06 0A 11 2A 00 1E 3C", 0, "1234", {100}), // rain, 3 tips, registered
    n_record("00 01 06 05 34 7F 80 00 00", 0, "1234"),        // general, infinity
    n_record("00 03 02 02 64", 0, "55", {}, "11.0000"),       // multiple, station only
    n_record("08 34 A2 7F 05", 1, "66", {}, "12.0000"),       // compact, test packet
});

Registry TestRegistry() {
    return harness::registry_of("source,sensor,name,units,multiplier\n"
                                "1234,,\"Cedar Creek, \"\"upper\"\"\",,\n"
                                "1234,10,Gauge,in,0.01\n"
                                "55,,Dry Fork,,\n");
}

TEST(JsonLines, OneObjectAReadingWithExactlyItsKeys) {
    const Registry registry = TestRegistry();
    std::ostringstream out;
    JsonLinesWriter writer(out);
    harness::decode_into(kTraffic, {&writer}, &registry);
    std::vector<Json> objects;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(Json::parse(line));
    }

    // Keys only where they have a value: no link quality without a P record,
    // no station or units the registry does not give.
    const Json expected = Json::parse(R"([
        {"received": "2015-05-03T14:07:09.250Z", "time": "2015-05-03T14:07:09Z", "source": 1234,
         "type": 2, "kind": "rain", "sensor": 10, "value": 42, "text": "42",
         "tips": ["2015-05-03T14:07:09Z", "2015-05-03T14:06:39Z", "2015-05-03T14:06:09Z"],
         "test": false, "hop_limit": 3, "packet_id": 0, "path": [100], "fec_corrected": 3,
         "fec_failed": 1, "station": "Cedar Creek, \"upper\"", "units": "in", "scaled": 0.42},
        {"received": "2015-05-03T14:07:09.250Z", "time": "2015-05-03T14:07:09Z", "source": 1234,
         "type": 1, "kind": "general", "sensor": 5, "value": null, "text": "3.40282366920938E+38",
         "test": false, "hop_limit": 3, "packet_id": 0, "path": [], "fec_corrected": 3,
         "fec_failed": 1, "station": "Cedar Creek, \"upper\""},
        {"received": "2015-05-03T14:07:11.000Z", "time": "2015-05-03T14:07:11Z", "source": 55,
         "type": 3, "kind": "multiple", "sensor": 2, "value": 100, "text": "100", "test": false,
         "hop_limit": 3, "packet_id": 0, "path": [], "station": "Dry Fork"},
        {"received": "2015-05-03T14:07:12.000Z", "time": "2015-05-03T14:07:07Z", "source": 66,
         "type": 0, "kind": "compact", "sensor": 564, "value": 1407, "text": "1407", "test": true,
         "hop_limit": 3, "packet_id": 0, "path": []}
    ])");
    ASSERT_EQ(objects.size(), expected.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        EXPECT_EQ(objects[i], expected[i]);
        EXPECT_TRUE(objects[i].at("value").is_null() || objects[i].at("value").is_number_integer());
    }
}

TEST(CsvReadings, AHeaderRowThenOneRowAReading) {
    const Registry registry = TestRegistry();
    std::ostringstream out;
    {
        CsvReadingsWriter writer(out);
        harness::decode_into(kTraffic, {&writer}, &registry);
    }
    // No value for an infinity, tips only for rain, empty where the registry
    // says nothing.
    EXPECT_EQ(harness::parse_csv(out.str()),
              (harness::CsvRows{
                  {"received", "time", "source", "kind", "sensor", "value", "text", "tips", "test",
                   "hop_limit", "packet_id", "station", "units", "scaled"},
                  {"2015-05-03T14:07:09.250Z", "2015-05-03T14:07:09Z", "1234", "rain", "10", "42",
                   "42", "3", "false", "3", "0", "Cedar Creek, \"upper\"", "in", "0.42"},
                  {"2015-05-03T14:07:09.250Z", "2015-05-03T14:07:09Z", "1234", "general", "5", "",
                   "3.40282366920938E+38", "", "false", "3", "0", "Cedar Creek, \"upper\"", "", ""},
                  {"2015-05-03T14:07:11.000Z", "2015-05-03T14:07:11Z", "55", "multiple", "2", "100",
                   "100", "", "false", "3", "0", "Dry Fork", "", ""},
                  {"2015-05-03T14:07:12.000Z", "2015-05-03T14:07:07Z", "66", "compact", "564",
                   "1407", "1407", "", "true", "3", "0", "", "", ""},
              }));
}

TEST(UtcTime, Iso8601InUtc) {
    const std::pair<std::string, std::string> cases[] = {
        {IsoSeconds(0), "1970-01-01T00:00:00Z"},
        {IsoSeconds(1430662029), "2015-05-03T14:07:09Z"},
        {IsoSeconds(-1), "1969-12-31T23:59:59Z"},
        {IsoSeconds(253402300799), "9999-12-31T23:59:59Z"},
        {IsoMillis(1430662029250), "2015-05-03T14:07:09.250Z"},
        {IsoMillis(-1), "1969-12-31T23:59:59.999Z"},
    };
    for (const auto& [written, expected] : cases) {
        EXPECT_EQ(written, expected);
    }
}

TEST(UtcTime, Iso8601TextReadBack) {
    const std::pair<std::string, std::optional<std::int64_t>> cases[] = {
        {"2015-05-03T14:07:09Z", 1430662029000},
        {"2015-05-03T14:07:09.250Z", 1430662029250},
        {"2015-05-03T14:07:09.5Z", 1430662029500},
        {"1969-12-31T23:59:59.999Z", -1},
        {"2016-02-29T00:00:00Z", 1456704000000},
        {"2015-02-29T00:00:00Z", std::nullopt}, // no such day
        {"2015-05-03T24:00:00Z", std::nullopt},
        {"2015-05-03T14:07:09", std::nullopt}, // not said to be UTC
        {"2015-05-03 14:07:09Z", std::nullopt},
        {"2015-05-03T14:07:09.Z", std::nullopt},
        {"2015-05-03T14:07:09.2500Z", std::nullopt},
        {"2015-5-3T14:07:09Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, millis] : cases) {
        EXPECT_EQ(ParseIsoMillis(text), millis) << text;
    }
}

TEST(UtcTime, ReceiveTimesOfRecordsInMilliseconds) {
    constexpr std::int64_t kMinute = 1430662020000; // 2015-05-03 14:07 UTC
    const std::tuple<std::string, std::size_t, std::optional<std::int64_t>> cases[] = {
        {"N,2015,05,03,14,07,9.2500,0", 1, kMinute + 9250},
        {"P,0,2014,06,04,20,25,26.007,20", 2, 1401913526007},
        {"N,2015,05,03,14,07,59.9990", 1, kMinute + 59999},
        {"N,2015,05,03,14,07,60.0000", 1, kMinute + 60000},  // the next minute
        {"N,2015,5,3,14,7, 9.25,0", 1, kMinute + 9250},      // read as the display reads
        {"N,2015,05,03,14,07,9.25004,0", 1, kMinute + 9250}, // beyond milliseconds
        {"N,2015,05,03,14,07,x,0", 1, kMinute},              // no number reads as 0
        {"N,2015,05,03,14,07", 1, std::nullopt},
        {"N,2015,05,03,14,07,1e30", 1, std::nullopt},
    };
    for (const auto& [record, year_field, expected] : cases) {
        EXPECT_EQ(ReceiveMillis(record, year_field), expected) << record;
    }
}

} // namespace
} // namespace veltaro::data
