// What the headless display does with its readings besides listing them: the
// archive in its data folder, read with the station registry, and on or off
// by the settings file.
#include "headless_fixture.h"
#include "tests/support/sqlite.h"

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

} // namespace
