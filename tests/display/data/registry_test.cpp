// The station registry: what it loads, and each row it cannot read reported
// with its line number while the other rows still load.
#include "display/data/registry.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace veltaro::data {
namespace {

constexpr const char* kHeader =
    "source,sensor,name,kind,units,multiplier,adder,interval_minutes,nws_id,shef";

// Every field of an entry, to compare whole entries.
auto Fields(const StationEntry& e) {
    return std::tie(e.name, e.interval_minutes, e.nws_id, e.line);
}
auto Fields(const SensorEntry& e) {
    return std::tie(e.name, e.kind, e.units, e.multiplier, e.adder, e.shef, e.line);
}

TEST(Registry, LoadsStationsAndSensorsWithTheirDefaults) {
    std::vector<RegistryProblem> problems;
    const Registry registry =
        Registry::Parse("\xEF\xBB\xBF" + std::string(kHeader) +
                            "\r\n"
                            "1234,,\"Cedar Creek, upper\",,,,,60,CDRC1,\r\n"
                            "\r\n"
                            "1234,10,\"Gauge \"\"A\"\"\", Rain ,in,0.04,,,,PCIRRZZ\r\n"
                            "77,,\"Two\nlines\",,,,,\r\n"
                            "77,3,,battery,V,,,\r\n",
                        problems);
    EXPECT_TRUE(problems.empty());
    const StationEntry* cedar = registry.Station(1234);
    const StationEntry* two = registry.Station(77);
    const SensorEntry* gauge = registry.Sensor(1234, 10);
    const SensorEntry* battery = registry.Sensor(77, 3);
    ASSERT_TRUE(cedar && two && gauge && battery);
    EXPECT_EQ(Fields(*cedar), Fields(StationEntry{"Cedar Creek, upper", 60, "CDRC1", 2}));
    EXPECT_EQ(Fields(*two), Fields(StationEntry{"Two\nlines", 360, "", 5}));
    EXPECT_EQ(Fields(*gauge),
              Fields(SensorEntry{"Gauge \"A\"", "Rain", "in", 0.04, 0, "PCIRRZZ", 4}));
    EXPECT_TRUE(gauge->IsKind("rain"));
    // The quoted line break counts in the line number.
    EXPECT_EQ(Fields(*battery), Fields(SensorEntry{"", "battery", "V", 1, 0, "", 7}));
    EXPECT_EQ(registry.Sensor(1234, 11), nullptr);
    EXPECT_EQ(registry.Station(5), nullptr);
}

TEST(Registry, ColumnsAreFoundByTheirNames) {
    std::vector<RegistryProblem> problems;
    const Registry registry = Registry::Parse("units,sensor,source\nmm,4,9\n", problems);
    EXPECT_TRUE(problems.empty());
    ASSERT_NE(registry.Sensor(9, 4), nullptr);
    EXPECT_EQ(registry.Sensor(9, 4)->units, "mm");
}

TEST(Registry, ARowThatCannotBeReadIsReportedWithItsLineAndTheOthersLoad) {
    struct Case {
        std::string row;
        std::string reason;
    };
    const Case cases[] = {
        {"abc,,Name,,,,,", "source \"abc\" is not a whole number from 0 to 65535"},
        {"70000,,Name,,,,,", "source \"70000\" is not a whole number from 0 to 65535"},
        {"5,x,Name,,,,,", "sensor \"x\" is not a whole number from 0 to 8191"},
        {"5,8192,,,,,,", "sensor \"8192\" is not a whole number from 0 to 8191"},
        {"5,1,,rain,mm,0,2,", ""}, // a zero multiplier is allowed
        {"5,2,,rain,mm,\"0,2\",,", "multiplier \"0,2\" is not a number"},
        {"5,3,,,,,abc,", "adder \"abc\" is not a number"},
        {"5,,Name,,,,,0", "interval_minutes \"0\" is not a whole number from 1 to 527040"},
        {"5,,Name,,,,,1.5", "interval_minutes \"1.5\" is not a whole number from 1 to 527040"},
        {"5,4,,,,,,,,,extra", "11 fields where the header has 10"},
        {"5,\"4\"x,,,,,,", "text follows the closing quote of a field"},
        {"5,,,,,,,,CDRC1,", ""},
        {"5,,,,,,,,AB,", "nws_id \"AB\" is not 3 to 8 characters A-Z, 0-9 or _"},
        {"5,,,,,,,,ABCDEFGHI,", "nws_id \"ABCDEFGHI\" is not 3 to 8 characters A-Z, 0-9 or _"},
        {"5,,,,,,,,cdrc1,", "nws_id \"cdrc1\" is not 3 to 8 characters A-Z, 0-9 or _"},
        {"5,,,,,,,,CD-C1,", "nws_id \"CD-C1\" is not 3 to 8 characters A-Z, 0-9 or _"},
        {"5,1,,,,,,,CDRC1,", "nws_id \"CDRC1\" belongs on the station's row (with no sensor)"},
        {"5,,,,,,,,,PCIRRZZ", "shef \"PCIRRZZ\" belongs on a sensor's row"},
        {"5,1,,rain,,,,,,PCIRRZZ", ""},
        {"5,1,,stage,m,,,,,HGIR2ZZ", ""},
        {"5,1,,Rain,ft,,,,,HGIRRZZ", "shef HGIRRZZ sends rain in in or mm, not in units \"ft\""},
        {"5,1,,,cm,,,,,PPHRRZZ", "shef PPHRRZZ sends rain in in or mm, not in units \"cm\""},
        {"5,1,,,,,,,,PCIRR", "shef \"PCIRR\" is not 7 characters"},
        {"5,1,,,,,,,,pcirrzz",
         "shef \"pcirrzz\" has \"p\" in place 1 (letters A-Z; digits only in places 4, 5 and 7)"},
        {"5,1,,,,,,,,P1IRRZZ",
         "shef \"P1IRRZZ\" has \"1\" in place 2 (letters A-Z; digits only in places 4, 5 and 7)"},
        {"5,1,,,,,,,,TXIRRZZ", "shef \"TXIRRZZ\" starts with TX, which takes no further letters"},
        {"5,1,,,,,,,,HGORRZZ", "shef \"HGORRZZ\" has no duration O"},
        {"5,1,,,,,,,,PPVRRZZ",
         "shef \"PPVRRZZ\" has the variable duration V, which needs a DV element"},
        {"5,1,,,,,,,,HGIZRZZ", "shef \"HGIZRZZ\" has type Z, which needs source Z"},
        {"5,1,,,,,,,,HGIRAZZ", "shef \"HGIRAZZ\" has type and source RA, which are never sent"},
        {"1234,,Again,,,,,", "source 1234 is already described on line 2"},
        {"1234,10,Again,,,,,", "source 1234 sensor 10 is already described on line 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        std::vector<RegistryProblem> problems;
        const Registry registry = Registry::Parse(
            std::string(kHeader) + "\n1234,,Cedar,,,,,\n1234,10,Gauge,rain,in,,,\n" + c.row +
                "\n1234,11,After,,,,,\n",
            problems);
        if (c.reason.empty()) {
            EXPECT_TRUE(problems.empty());
        } else {
            ASSERT_EQ(problems.size(), 1u);
            EXPECT_EQ(problems[0].line, 4u);
            EXPECT_EQ(problems[0].reason, c.reason);
        }
        EXPECT_EQ(registry.Station(1234)->name, "Cedar");
        EXPECT_EQ(registry.Sensor(1234, 10)->name, "Gauge");
        EXPECT_NE(registry.Sensor(1234, 11), nullptr);
    }
}

TEST(Registry, HeaderProblems) {
    struct Case {
        std::string text;
        std::vector<std::string> reasons;
        bool loads;
    };
    const Case cases[] = {
        {"source,sensor,nmae\n5,1,x\n", {"unknown column \"nmae\" is ignored"}, true},
        {"source,sensor,name,name\n5,1,x,y\n", {"column \"name\" appears twice"}, true},
        {"name,sensor\nx,1\n",
         {"the header row needs the columns source and sensor; no row is loaded"},
         false},
        {"source,sensor\n5,\"1\n", {"a quoted field opened on line 2 is never closed"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<RegistryProblem> problems;
        const Registry registry = Registry::Parse(c.text, problems);
        std::vector<std::string> reasons;
        for (const RegistryProblem& problem : problems) {
            reasons.push_back(problem.reason);
        }
        EXPECT_EQ(reasons, c.reasons);
        EXPECT_EQ(registry.Sensor(5, 1) != nullptr, c.loads);
    }
}

TEST(Registry, LoadsFromTheConfigurationFolder) {
    const harness::TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const std::string path = DefaultRegistryPath();
    EXPECT_EQ(path, config.file("Veltaro/stations.csv"));

    std::vector<RegistryProblem> problems;
    bool found = true;
    EXPECT_TRUE(LoadRegistry(path, problems, found).Stations().empty());
    EXPECT_FALSE(found);

    harness::fs::create_directories(config / "Veltaro");
    harness::write_file(path, "source,sensor,name\n5,,Dry Fork\n6,x,\n");
    const Registry registry = LoadRegistry(path, problems, found);
    EXPECT_TRUE(found);
    EXPECT_EQ(registry.Station(5)->name, "Dry Fork");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(DescribeProblem(path, problems[0]),
              path + " line 3: sensor \"x\" is not a whole number from 0 to 8191");
    EXPECT_THROW(LoadRegistry(config.path().string(), problems, found), std::runtime_error);
}

} // namespace
} // namespace veltaro::data
