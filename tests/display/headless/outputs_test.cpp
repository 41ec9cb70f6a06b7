// What the headless display does with its readings besides listing them: the
// archive and the SHEF outbox in its data folder, read with the station
// registry, and on or off by the settings file.
#include "headless_fixture.h"
#include "tests/support/sqlite.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

namespace {

using namespace harness;

constexpr const char* kUtc = "optUseOffset=True\ntxtGMTOffset=0\n";

TEST_F(HeadlessTest, TheArchiveHoldsEveryPacketAndReadingTheDisplayLists) {
    SaveSettings(kUtc);
    SaveStations("1234,,Cedar Creek,,,,,60\nabc,,Bad Row,,,,,\n");
    ASSERT_TRUE(RunPackets(12, 5));

    // The same rows as an import of the raw log into an archive of its own.
    const std::string archive = Data() + "/veltaro.sqlite";
    const std::string reference = dir_.file("reference.sqlite");
    const Outcome import = run({kBin + "/veltaro-decode", "--archive", reference, "--stations",
                                dir_.file("config/Veltaro/stations.csv"), "--gmt-offset", "0",
                                Data() + "/A2RawData.txt"},
                               dir_.path());
    ASSERT_EQ(import.status, 0) << import.err;
    for (const char* table : {"packets", "readings", "tips"}) {
        SCOPED_TRACE(table);
        const std::string rows = std::string("SELECT * FROM ") + table + " ORDER BY 1";
        EXPECT_EQ(query(archive, rows), query(reference, rows));
    }
    EXPECT_GT(std::stoi(query_value(archive, "SELECT COUNT(*) FROM readings")), 12);
    // The registry's bad row is told once, the good one still loads.
    const std::string errors = read_file(dir_ / "errors.txt");
    const std::string bad_row = "stations.csv line 3: ";
    EXPECT_EQ(errors.find(bad_row), errors.rfind(bad_row)) << errors;
    EXPECT_NE(errors.find(bad_row), std::string::npos) << errors;
}

TEST_F(HeadlessTest, TheArchiveSettingTurnsItOffOrIsReportedAndLeavesItOn) {
    struct Case {
        const char* value;
        bool archived;
        const char* message;
    };
    const Case cases[] = {
        {"false", false, ""},
        {"maybe", true, "  Archive: enabled=\"maybe\" is not true or false; the archive stays on"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        // A fresh data folder: the run is over when its raw log is complete.
        fs::remove_all(dir_ / "data");
        fs::create_directories(dir_ / "data");
        fs::remove(dir_ / "errors.txt");
        SaveSettings(kUtc, std::string("[Archive]\nenabled=") + c.value + "\n");
        ASSERT_TRUE(RunPackets(3, 2));
        EXPECT_EQ(fs::exists(dir_ / "data/veltaro.sqlite"), c.archived);
        EXPECT_NE(read_file(dir_ / "errors.txt").find(c.message), std::string::npos);
    }
}

// The .A lines of the outbox files, without the hourly rain lines, sorted.
// The same line twice (a reading the radio brought twice, by a relay say) is
// one observation, which the outbox sends once.
std::vector<std::string> ReadingLines(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept), [](const std::string& l) {
        return l.rfind(".A ", 0) == 0 && l.find("/PPH") == std::string::npos;
    });
    std::sort(kept.begin(), kept.end());
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    return kept;
}

TEST_F(HeadlessTest, TheShefOutboxSendsEachReadingOfAnExportedSensor) {
    SaveSettings(kUtc);
    SaveStations("");
    ASSERT_TRUE(RunPackets(12, 5));
    // The same run again, every general sensor it had now exported as stage.
    std::string rows = "source,sensor,kind,units,multiplier,nws_id,shef\n";
    std::set<long long> stations;
    std::set<std::pair<long long, long long>> sensors;
    for (const std::string& line : Decoded("json")) {
        const auto reading = nlohmann::json::parse(line);
        const long long source = reading["source"];
        const long long sensor = reading["sensor"];
        if (reading["kind"] != "general" || !sensors.insert({source, sensor}).second) {
            continue;
        }
        if (stations.insert(source).second) {
            rows += std::to_string(source) + ",,,,,S" + std::to_string(source) + ",\n";
        }
        rows += std::to_string(source) + "," + std::to_string(sensor) + ",stage,ft,0.01,,HGIRRZZ\n";
    }
    ASSERT_FALSE(sensors.empty());
    write_file(dir_ / "config/Veltaro/stations.csv", rows);
    fs::remove_all(dir_ / "data");
    fs::create_directories(dir_ / "data");
    ASSERT_TRUE(RunPackets(12, 5));

    std::vector<std::string> sent;
    for (const auto& entry : fs::directory_iterator(dir_ / "data/shef")) {
        const std::string name = entry.path().filename();
        ASSERT_EQ(name.find(".shef"), 10u) << name; // <ccyymmddhh>.shef, never a temporary
        const std::vector<std::string> lines = read_lines(entry.path());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front().rfind(": veltaro", 0), 0u) << lines.front();
        sent.insert(sent.end(), lines.begin(), lines.end());
    }
    const std::vector<std::string> expected = ReadingLines(Decoded("shef"));
    EXPECT_GE(expected.size(), sensors.size());
    EXPECT_EQ(ReadingLines(sent), expected);

    // An empty folder setting turns the outbox off.
    fs::remove_all(dir_ / "data");
    fs::create_directories(dir_ / "data");
    SaveSettings(kUtc, "[Export]\nshef_dir=\n");
    ASSERT_TRUE(RunPackets(3, 2));
    EXPECT_FALSE(fs::exists(dir_ / "data/shef"));
}

} // namespace
