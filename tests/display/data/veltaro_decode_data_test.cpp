// veltaro-decode with the readings as data, on the records the real decoder
// makes of the simulator's traffic: each output format chosen by its option,
// the registry read, exit statuses and messages. What each format holds is
// its writer's own tests.
#include "display/data/registry.h"
#include "display/data/shef_export.h"
#include "tests/support/csv.h"
#include "tests/support/exchange_text.h"
#include "tests/support/harness.h"
#include "tests/support/readings.h"
#include "tests/support/sqlite.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

const std::string kBin = VELTARO_BIN_DIR;
const std::string kDecode = kBin + "/veltaro-decode";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class VeltaroDecodeData : public ::testing::Test {
protected:
    // The decoder's records of 300 frames of the simulator's traffic, with
    // symbol errors the Reed-Solomon decoder corrects in some.
    static void SetUpTestSuite() {
        work_ = new harness::TempDir("veltaro-data");
        const std::string capture = work_->file("capture");
        const harness::Outcome sim =
            harness::run({kBin + "/sondrel-sim", "--count", "300", "--seed", "7", "--time",
                          "1700000000", "--rs-errors", "30", "--output", capture},
                         work_->path());
        ASSERT_EQ(sim.status, 0) << sim.err;
        const harness::Outcome decoder =
            harness::run({kBin + "/quorvel", "-p", capture, "-e", Exchange()}, work_->path());
        ASSERT_EQ(decoder.status, 0) << decoder.err;
    }
    static void TearDownTestSuite() { delete work_; }
    static std::string Exchange() { return work_->file("exchange.txt"); }

    // veltaro-decode with an empty registry.
    harness::Outcome Decode(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {kDecode, "--stations", dir.file("none.csv")});
        return harness::run(arguments, dir.path());
    }

    void SetUp() override { harness::write_file(dir / "none.csv", "source,sensor\n"); }

    harness::TempDir dir;
    static harness::TempDir* work_;
};

harness::TempDir* VeltaroDecodeData::work_ = nullptr;

TEST_F(VeltaroDecodeData, JsonFollowsTheDocumentedSchemaAndCsvHasARowForEachReading) {
    const harness::Outcome json = Decode({"--format", "json", Exchange()});
    ASSERT_EQ(json.status, 0) << json.err;
    const std::vector<std::string> lines = Lines(json.out);
    ASSERT_GT(lines.size(), 1000u);
    for (const std::string& line : lines) {
        // Every frame's P record precedes its N records in the decoder's output.
        ASSERT_TRUE(Json::parse(line).contains("fec_corrected")) << line;
    }
    harness::write_file(dir / "readings.jsonl", json.out);
    const std::string schema = std::string(VELTARO_SOURCE_DIR) + "/docs/readings.schema.json";
    const harness::Outcome check =
        harness::run({"/usr/bin/python3", "-c",
                      "import json, sys, jsonschema\n"
                      "schema = json.load(open(sys.argv[1]))\n"
                      "jsonschema.Draft202012Validator.check_schema(schema)\n"
                      "validator = jsonschema.Draft202012Validator(schema)\n"
                      "lines = open(sys.argv[2]).read().splitlines()\n"
                      "for line in lines: validator.validate(json.loads(line))\n"
                      "print(len(lines))",
                      schema, dir.file("readings.jsonl")},
                     dir.path());
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, std::to_string(lines.size()) + "\n");

    const harness::Outcome csv = Decode({"--format", "csv", Exchange()});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const harness::CsvRows rows = harness::parse_csv(csv.out); // RFC 4180 or it throws
    ASSERT_EQ(rows.size(), lines.size() + 1);
    EXPECT_EQ(rows[0].front(), "received");
}

TEST_F(VeltaroDecodeData, AnImportSaysWhatItAddedAndAFailedOneEndsWithStatusOne) {
    const std::string db = dir.file("veltaro.sqlite");
    const harness::Outcome run = Decode({"--archive", db, Exchange()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, ""); // no lists with --archive alone
    const std::string packets = harness::query_value(db, "SELECT count(*) FROM packets");
    const std::string readings = harness::query_value(db, "SELECT count(*) FROM readings");
    EXPECT_NE(packets, "0");
    EXPECT_NE(run.err.find(db + ": " + packets + " packets and " + readings + " readings added"),
              std::string::npos)
        << run.err;

    const std::string missing = dir.file("missing/veltaro.sqlite");
    const harness::Outcome failed = Decode({"--archive", missing, Exchange()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("(" + missing + ")  Can't save Archive"), std::string::npos)
        << failed.err;
}

TEST_F(VeltaroDecodeData, TheRegistryNamesStationsAndItsBadRowsAreReported) {
    const std::string record = harness::n_record("00 01 04 0A 12 01 F4", 0, "1234");
    harness::write_file(dir / "in.txt", harness::exchange_content({record}));
    harness::write_file(dir / "stations.csv", "source,sensor,name\n1234,,Cedar\nx,,Bad\n");
    const harness::Outcome run = harness::run(
        {kDecode, "--format", "json", "--stations", dir.file("stations.csv"), dir.file("in.txt")},
        dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "veltaro-decode: " + dir.file("stations.csv") +
                           " line 3: source \"x\" is not a whole number from 0 to 65535\n");
    EXPECT_EQ(Json::parse(run.out)["station"], "Cedar");
}

TEST_F(VeltaroDecodeData, AMissingRegistryOrAnUnknownFormatPrintsNothingAndExitsTwo) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--stations", dir.file("missing.csv")}, "missing.csv"},
        {{"--format", "xml"}, "unknown format 'xml' (lists, json, csv or shef)"},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(message);
        std::vector<std::string> argv = {kDecode};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        argv.push_back(Exchange());
        const harness::Outcome run = harness::run(argv, dir.path());
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
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
    const harness::Outcome run =
        Decode({"--archive", db, dir.file("small.txt"), dir.file("big.txt")});
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

// The program gives what the writer makes of the traffic with the file's
// registry, with a value for each kind of line in it.
TEST_F(VeltaroDecodeData, ShefIsWhatTheWriterMakesOfTheTrafficWithTheRegistry) {
    harness::ReadingCollector traffic;
    harness::decode_into(harness::read_file(Exchange()), {&traffic});
    std::set<int> sources;
    for (const auto& r : traffic.readings) {
        sources.insert(*r.packet.address);
    }
    const std::string stations = ShefRegistryFor(sources);
    harness::write_file(dir / "stations.csv", stations);
    const auto registry = harness::registry_of(stations);
    std::ostringstream expected;
    veltaro::data::ShefWriter writer(expected, "veltaro-decode");
    harness::decode_into(harness::read_file(Exchange()), {&writer}, &registry);
    writer.Finish();

    const harness::Outcome run = harness::run(
        {kDecode, "--format", "shef", "--stations", dir.file("stations.csv"), Exchange()},
        dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected.str());
    // Each code with a number at least once: the comparison cannot pass on
    // output that sends nothing.
    for (const std::string code : {"PCIRRZZ", "HGIRRZZ", "VBIRRZZ", "PPHRRZZ"}) {
        bool valued = false;
        for (std::size_t at = 0;
             !valued && (at = run.out.find(code + " ", at)) != std::string::npos; ++at) {
            const char first = run.out[at + code.size() + 1];
            valued = first == '-' || std::isdigit(static_cast<unsigned char>(first));
        }
        EXPECT_TRUE(valued) << code;
    }
}

} // namespace
