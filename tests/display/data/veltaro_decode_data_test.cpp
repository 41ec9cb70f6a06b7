// veltaro-decode with the readings as data, on the records the real decoder
// makes of the simulator's traffic: JSON that matches the report lines the
// display lists and logs, CSV that parses, an import that is idempotent,
// SHEF that carries the scaled values and the hourly rain.
#include "display/data/registry.h"
#include "display/data/shef_export.h"
#include "tests/support/csv.h"
#include "tests/support/exchange_text.h"
#include "tests/support/readings.h"
#include "tests/support/records.h"
#include "tests/support/run.h"
#include "tests/support/shef.h"
#include "tests/support/sqlite.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ctime>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

const std::string kBin = VELTARO_BIN_DIR;
const std::string kDecode = "'" + kBin + "/veltaro-decode'";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// "05/03/2015  08:07:09" shown at UTC - 6 -> "2015-05-03T14:07:09Z".
std::string UtcFromListed(const std::string& listed) {
    std::tm t{};
    std::istringstream(listed) >> std::get_time(&t, "%m/%d/%Y %H:%M:%S");
    const std::time_t utc = ::timegm(&t) + 6 * 3600;
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&utc));
    return text;
}

// A reading as the report log has it: "time    source,type,sensor,value,".
struct LoggedReading {
    std::string time;
    std::string source;
    int type = 0;
    long long sensor = 0;
    std::string text;
    std::vector<std::string> tips;
};

std::vector<LoggedReading> ReadingsOfReportLog(const std::string& log) {
    std::vector<LoggedReading> readings;
    for (const std::string& line : Lines(log)) {
        const std::vector<std::string> f = harness::split_fields(line);
        const std::string time = UtcFromListed(f[0].substr(0, 20));
        if (f[3].rfind("Tip ", 0) == 0) {
            readings.back().tips.push_back(time);
            continue;
        }
        LoggedReading r{time, f[0].substr(24), std::stoi(f[1]), std::stoll(f[2]), f[3], {}};
        if (r.type == 2) {
            r.text = r.text.substr(0, r.text.find("  ("));
        }
        readings.push_back(r);
    }
    return readings;
}

class VeltaroDecodeData : public ::testing::Test {
protected:
    // The decoder's records of 300 frames of the simulator's traffic, with
    // symbol errors the Reed-Solomon decoder corrects in some.
    static void SetUpTestSuite() {
        work_ = new harness::TempDir("veltaro-data");
        const std::string capture = work_->file("capture");
        harness::RunResult sim =
            harness::run("'" + kBin + "/sondrel-sim' --count 300 --seed 7 " +
                             "--time 1700000000 --rs-errors 30 --output '" + capture + "'",
                         *work_);
        ASSERT_EQ(sim.status, 0) << sim.err;
        harness::RunResult decoder = harness::run(
            "'" + kBin + "/quorvel' -p '" + capture + "' -e '" + Exchange() + "'", *work_);
        ASSERT_EQ(decoder.status, 0) << decoder.err;
    }
    static void TearDownTestSuite() { delete work_; }
    static std::string Exchange() { return work_->file("exchange.txt"); }

    harness::RunResult Decode(const std::string& arguments) {
        return harness::run(kDecode + " --stations '" + dir.file("none.csv") + "' " + arguments,
                            dir);
    }

    void SetUp() override { harness::write_file(dir / "none.csv", "source,sensor\n"); }

    harness::TempDir dir;
    static harness::TempDir* work_;
};

harness::TempDir* VeltaroDecodeData::work_ = nullptr;

TEST_F(VeltaroDecodeData, JsonAndCsvHoldEachReadingTheReportLogShows) {
    const harness::RunResult logged =
        Decode("--gmt-offset -6 --log-dir '" + dir.path().string() + "' '" + Exchange() + "'");
    ASSERT_EQ(logged.status, 0) << logged.err;
    const std::vector<LoggedReading> expected =
        ReadingsOfReportLog(harness::read_file(dir / "A2Reports.txt"));
    ASSERT_GT(expected.size(), 1000u);

    const harness::RunResult json = Decode("--gmt-offset -6 --format json '" + Exchange() + "'");
    ASSERT_EQ(json.status, 0) << json.err;
    const std::vector<std::string> lines = Lines(json.out);
    ASSERT_EQ(lines.size(), expected.size());
    int corrected = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Json object = Json::parse(lines[i]);
        const LoggedReading& r = expected[i];
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(object["time"], r.time);
        EXPECT_EQ(object["source"].dump(), r.source);
        EXPECT_EQ(object["type"], r.type);
        EXPECT_EQ(object["sensor"], r.sensor);
        EXPECT_EQ(object["text"], r.text);
        if (r.type == 2) {
            EXPECT_EQ(object["tips"], Json(r.tips));
        }
        // Every frame's P record precedes its N records in the decoder's output.
        ASSERT_TRUE(object.contains("fec_corrected"));
        corrected += object["fec_corrected"].get<int>();
    }
    EXPECT_GT(corrected, 0);

    const harness::RunResult csv = Decode("--format csv '" + Exchange() + "'");
    ASSERT_EQ(csv.status, 0) << csv.err;
    const harness::CsvRows rows = harness::parse_csv(csv.out); // RFC 4180 or it throws
    ASSERT_EQ(rows.size(), lines.size() + 1);
    EXPECT_EQ(rows[0].front(), "received");
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 14u);
    }
}

TEST_F(VeltaroDecodeData, ImportingTwiceLeavesTheRowCountsUnchanged) {
    const std::string db = dir.file("veltaro.sqlite");
    const std::string counts = "SELECT (SELECT count(*) FROM packets) || ' ' || "
                               "(SELECT count(*) FROM readings) || ' ' || "
                               "(SELECT count(*) FROM tips)";
    const harness::RunResult first = Decode("--archive '" + db + "' '" + Exchange() + "'");
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, ""); // no lists with --archive alone
    const std::string after_first = harness::query_value(db, counts);
    const harness::RunResult second = Decode("--archive '" + db + "' '" + Exchange() + "'");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(harness::query_value(db, counts), after_first);
    EXPECT_NE(second.err.find(db + ": 0 packets and 0 readings added"), std::string::npos)
        << second.err;
    EXPECT_NE(after_first.rfind("0 ", 0), 0u);
}

TEST_F(VeltaroDecodeData, AnArchiveThatCannotBeWrittenEndsTheImportWithStatusOne) {
    const std::string db = dir.file("missing/veltaro.sqlite");
    const harness::RunResult run = Decode("--archive '" + db + "' '" + Exchange() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("(" + db + ")  Can't save Archive"), std::string::npos) << run.err;
}

TEST_F(VeltaroDecodeData, TheRegistryNamesStationsAndItsBadRowsAreReported) {
    const std::string record = harness::n_record("00 01 04 0A 12 01 F4", 0, "1234");
    harness::write_file(dir / "in.txt", harness::exchange_content({record}));
    harness::write_file(dir / "stations.csv", "source,sensor,name\n1234,,Cedar\nx,,Bad\n");
    const harness::RunResult run =
        harness::run(kDecode + " --format json --stations '" + dir.file("stations.csv") + "' '" +
                         dir.file("in.txt") + "'",
                     dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "veltaro-decode: " + dir.file("stations.csv") +
                           " line 3: source \"x\" is not a whole number from 0 to 65535\n");
    EXPECT_EQ(Json::parse(run.out)["station"], "Cedar");

    const harness::RunResult missing = harness::run(
        kDecode + " --stations '" + dir.file("missing.csv") + "' '" + dir.file("in.txt") + "'",
        dir);
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("missing.csv"), std::string::npos);
}

TEST_F(VeltaroDecodeData, ABigImportShowsItsProgress) {
    std::vector<std::string> records;
    for (int i = 0; records.size() < 80000; ++i) {
        records.push_back(harness::n_record("00 01 04 0A 12 01 F4", 0, std::to_string(i % 500), {},
                                            std::to_string(i % 60) + ".0000"));
    }
    harness::write_file(dir / "big.txt", harness::exchange_content(records));
    harness::write_file(dir / "small.txt", harness::exchange_content({records[0]}));
    const std::string db = dir.file("veltaro.sqlite");
    const harness::RunResult run = Decode("--archive '" + db + "' '" + dir.file("small.txt") +
                                          "' '" + dir.file("big.txt") + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> progress;
    for (const std::string& line : Lines(run.err)) {
        if (line.find("importing") != std::string::npos) {
            progress.push_back(line);
        }
    }
    ASSERT_EQ(progress.size(), 11u) << run.err; // 0 %, each tenth, 100 %; none for small.txt
    EXPECT_EQ(progress.front(), "veltaro-decode: importing " + dir.file("big.txt") + ": 0%");
    EXPECT_EQ(progress.back(), "veltaro-decode: importing " + dir.file("big.txt") + ": 100%");
}

// The simulator's stations with an nws_id each but the last; their rain
// gauge (sensor 1) in in or mm, stage and battery with shef codes.
std::string ShefRegistryFor(const std::set<int>& sources) {
    std::string text = "source,sensor,kind,units,multiplier,nws_id,shef\n";
    int i = 0;
    for (const int source : sources) {
        const std::string s = std::to_string(source);
        const bool last = ++i == static_cast<int>(sources.size());
        text += s + ",,,,," + (last ? "" : "ST" + s) + ",\n";
        text += s + ",1,rain," + (i % 2 == 0 ? "mm,0.2" : "in,0.01") + ",,PCIRRZZ\n";
        text += s + ",2,stage,ft,0.01,,HGIRRZZ\n" + s + ",3,battery,V,0.01,,VBIRRZZ\n";
    }
    return text;
}

// The rain rules and the lines themselves are the writer's own tests; here
// the program must give what the writer makes of the traffic with the file's
// registry, and that must be sound SHEF with each kind of line in it.
TEST_F(VeltaroDecodeData, ShefIsWhatTheWriterMakesOfTheTrafficWithTheRegistry) {
    harness::ReadingCollector traffic;
    harness::decode_into(harness::read_file(Exchange()), {&traffic});
    std::set<int> sources;
    for (const auto& r : traffic.readings) {
        sources.insert(*r.packet.address);
    }
    const std::string stations = ShefRegistryFor(sources);
    harness::write_file(dir / "stations.csv", stations);
    std::vector<veltaro::data::RegistryProblem> problems;
    const auto registry = veltaro::data::Registry::Parse(stations, problems);
    ASSERT_TRUE(problems.empty());
    std::ostringstream expected;
    veltaro::data::ShefWriter writer(expected, "veltaro-decode");
    harness::decode_into(harness::read_file(Exchange()), {&writer}, &registry);
    writer.Finish();

    const harness::RunResult run =
        harness::run(kDecode + " --format shef --stations '" + dir.file("stations.csv") + "' '" +
                         Exchange() + "'",
                     dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected.str());
    std::map<std::string, int> known; // values that are not M, by code
    for (const harness::ShefObservation& o : harness::parse_shef(run.out)) {
        known[o.code] += o.value ? 1 : 0;
    }
    EXPECT_EQ(known.size(), 4u); // PCIRRZZ, HGIRRZZ, VBIRRZZ, PPHRRZZ
    for (const auto& [code, count] : known) {
        EXPECT_GT(count, 0) << code;
    }
}

TEST_F(VeltaroDecodeData, JsonFollowsTheDocumentedSchema) {
    const harness::RunResult json = Decode("--format json '" + Exchange() + "'");
    harness::write_file(dir / "readings.jsonl", json.out);
    const std::string schema = std::string(VELTARO_SOURCE_DIR) + "/docs/readings.schema.json";
    const harness::RunResult check =
        harness::run("python3 -c 'import json, sys, jsonschema\n"
                     "schema = json.load(open(sys.argv[1]))\n"
                     "jsonschema.Draft202012Validator.check_schema(schema)\n"
                     "validator = jsonschema.Draft202012Validator(schema)\n"
                     "lines = open(sys.argv[2]).read().splitlines()\n"
                     "for line in lines: validator.validate(json.loads(line))\n"
                     "print(len(lines))' '" +
                         schema + "' '" + dir.file("readings.jsonl") + "'",
                     dir);
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, std::to_string(Lines(json.out).size()) + "\n");
}

} // namespace
