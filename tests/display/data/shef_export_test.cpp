// What is sent to the forecast office: a line for each reading of an
// exported sensor with its scaled value, and the hourly rain of exported
// gauges by the rain rules, M where it cannot be known; on standard output
// and in the outbox's hourly files.
#include "display/data/registry.h"
#include "display/data/shef_export.h"
#include "display/data/shef_outbox.h"
#include "tests/support/exchange_text.h"
#include "tests/support/harness.h"
#include "tests/support/readings.h"
#include "tests/support/shef.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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
                        "55,10,rain,in,0.01,,,PCIRRZZ\n"
                        "66,,,,,,DRYF1,\n"
                        "66,10,rain,in,0.01,,,PCIRRZZ\n",
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

// code, minute of the day, value, revision.
using Sent = std::tuple<std::string, int, std::optional<double>, bool>;

std::vector<Sent> SentOf(const std::vector<harness::ShefObservation>& observations) {
    std::vector<Sent> sent;
    for (const auto& o : observations) {
        EXPECT_EQ(o.location, "CDRC1");
        sent.emplace_back(o.code, static_cast<int>(o.time - kDay) / 60, o.value, o.revision);
    }
    return sent;
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
    EXPECT_EQ(harness::parse_shef(text).size(), 3u); // sound SHEF, as a reader takes it
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
        At("14,00", Rain(10, 50), "66"), // another station: its own series
        At("15,00", Rain(10, 52), "66"),
    });
    std::vector<harness::ShefObservation> hourly = harness::parse_shef(text);
    std::erase_if(hourly, [](const auto& o) { return !o.code.starts_with("PPH"); });
    const auto other = std::stable_partition(hourly.begin(), hourly.end(),
                                             [](const auto& o) { return o.location == "CDRC1"; });
    ASSERT_EQ(hourly.end() - other, 2) << text;
    EXPECT_EQ(other[0].value, std::nullopt); // to 14:00: nothing heard before 13:00
    EXPECT_EQ(other[1].time, kDay + 15 * 3600);
    EXPECT_EQ(other[1].value, 0.02); // 50 -> 52
    hourly.erase(other, hourly.end());
    EXPECT_EQ(SentOf(hourly),
              (std::vector<Sent>{
                  {"PPHRRZZ", 15 * 60, std::nullopt, false}, // no report at or before 14:00
                  {"PPHRRZZ", 16 * 60, 0.12, false},         // 203 -> 215, 0.01 in a tip
                  {"PPHRRZZ", 17 * 60, 0, false},
                  {"PPHRRZZ", 18 * 60, 0.45, false},         // 215 -> 256 + 4
                  {"PPHRRZZ", 19 * 60, 0, false},            // known: reports at 17:30 and 19:20
                  {"PPHR2ZZ", 15 * 60, std::nullopt, false}, // the second gauge
                  {"PPHR2ZZ", 16 * 60, 0.6, false},          // 10 -> 13, 0.2 mm a tip
              }))
        << text;
    for (const auto& o : hourly) {
        EXPECT_EQ(o.si, o.code == "PPHR2ZZ") << o.code; // mm after DUS, inches before
    }
    EXPECT_NE(text.find(".A CDRC1 20150503 Z DH1600/PPHRRZZ 0.12\n"), std::string::npos);
}

// The outbox on a clock the test moves, with the registry above.
class ShefOutboxTest : public ::testing::Test {
protected:
    void Start(int hour, int minute) {
        now_ = kDay + hour * 3600 + minute * 60;
        outbox_ = std::make_unique<ShefOutbox>(
            folder_, "veltaro", [this](const std::string& m) { reports_.push_back(m); },
            [this] { return now_; });
    }
    void Feed(const std::vector<std::string>& records) {
        harness::decode_into(harness::exchange_content(records), {outbox_.get()}, &registry_);
    }
    void TickAt(int hour, int minute, int second = 0) {
        now_ = kDay + hour * 3600 + minute * 60 + second;
        outbox_->Tick();
    }
    // Every name in the outbox, hidden ones too.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        if (harness::fs::is_directory(folder_)) {
            for (const auto& entry : harness::fs::directory_iterator(folder_)) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<harness::ShefObservation> File(const std::string& name) const {
        return harness::parse_shef(harness::read_file(harness::fs::path(folder_) / name));
    }

    const Registry registry_ = ShefRegistry();
    harness::TempDir dir_;
    const std::string folder_ = dir_.file("shef");
    std::int64_t now_ = 0;
    std::vector<std::string> reports_;
    std::unique_ptr<ShefOutbox> outbox_;
};

TEST_F(ShefOutboxTest, OneFilePerUtcHourWithTheHourlyRainOnceItIsKnown) {
    Start(14, 10);
    Feed({At("14,07", Rain(10, 200)), At("14,50", Rain(10, 203))});
    TickAt(14, 59);
    EXPECT_EQ(Names(), std::vector<std::string>{});
    TickAt(15, 0);
    EXPECT_EQ(Names(), std::vector<std::string>{"2015050314.shef"});
    EXPECT_EQ(SentOf(File("2015050314.shef")),
              (std::vector<Sent>{{"PCIRRZZ", 14 * 60 + 7, 2.0, false},
                                 {"PCIRRZZ", 14 * 60 + 50, 2.03, false}}));

    Feed({At("15,10", Rain(10, 210)), At("16,00", Rain(10, 215))});
    TickAt(16, 0, 30); // the hour to 15:00 cannot be known; its station is overdue
    EXPECT_EQ(SentOf(File("2015050315.shef")),
              (std::vector<Sent>{{"PCIRRZZ", 15 * 60 + 10, 2.1, false},
                                 {"PCIRRZZ", 16 * 60, 2.15, false},
                                 {"PPHRRZZ", 15 * 60, std::nullopt, false},
                                 {"PPHRRZZ", 16 * 60, 0.12, false}}));

    TickAt(17, 0, 10); // no report since 16:00: the hour to 17:00 waits
    TickAt(18, 0, 10); // ... until its station is overdue
    EXPECT_EQ(Names(),
              (std::vector<std::string>{"2015050314.shef", "2015050315.shef", "2015050317.shef"}));
    EXPECT_EQ(SentOf(File("2015050317.shef")),
              (std::vector<Sent>{{"PPHRRZZ", 17 * 60, std::nullopt, false}}));

    Feed({At("18,30", Rain(10, 4))});
    TickAt(19, 0, 10); // now both hours are known; the one sent as M is revised
    EXPECT_EQ(SentOf(File("2015050318.shef")),
              (std::vector<Sent>{{"PCIRRZZ", 18 * 60 + 30, 0.04, false},
                                 {"PPHRRZZ", 17 * 60, 0.0, true},
                                 {"PPHRRZZ", 18 * 60, 0.0, false}}));
    EXPECT_TRUE(reports_.empty());
}

TEST_F(ShefOutboxTest, AFailedWriteIsReportedOnceAndTriedAgainEachHourUntilTheEnd) {
    Start(14, 10);
    harness::write_file(folder_, ""); // a file where the folder should be
    Feed({At("14,07", Rain(10, 200))});
    TickAt(15, 0, 5);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_NE(reports_[0].find("(" + folder_ + "/2015050314.shef)  Can't write SHEF file"),
              std::string::npos)
        << reports_[0];
    Feed({At("15,20", Rain(10, 201))});
    TickAt(16, 0, 5);
    EXPECT_EQ(reports_.size(), 1u);

    harness::fs::remove(folder_);
    Feed({At("16,20", Rain(10, 202))});
    TickAt(17, 0, 5);
    EXPECT_EQ(reports_, (std::vector<std::string>{reports_[0], "  SHEF files written again"}));
    EXPECT_EQ(Names(),
              (std::vector<std::string>{"2015050314.shef", "2015050315.shef", "2015050316.shef"}));
    EXPECT_EQ(File("2015050314.shef").size(), 1u);
    EXPECT_EQ(File("2015050315.shef")[0].value, 2.01);
    EXPECT_EQ(File("2015050316.shef")[0].value, 2.02);

    harness::fs::rename(folder_, dir_.file("taken"));
    harness::write_file(folder_, "");
    Feed({At("17,20", Rain(10, 203))});
    TickAt(18, 0, 5);
    Feed({At("18,20", Rain(10, 204))});
    outbox_.reset();
    EXPECT_EQ(reports_.back(),
              "  SHEF files not written to " + folder_ + ": 2015050317.shef, 2015050318.shef");
}

TEST_F(ShefOutboxTest, ARunStoppedInAnHourLeavesItsLinesAndTheNextAddsToThem) {
    Start(14, 10);
    const std::string reading = At("14,07", Rain(10, 200));
    Feed({reading});
    Feed({reading}); // handed on twice, sent once
    outbox_.reset();
    EXPECT_EQ(Names(), std::vector<std::string>{"2015050314.shef"});

    Start(14, 20);
    Feed({At("14,15", Rain(10, 201))});
    TickAt(15, 0, 5);
    EXPECT_EQ(Names(), std::vector<std::string>{"2015050314.shef"});
    EXPECT_EQ(SentOf(File("2015050314.shef")), // one header: the reader takes no second
              (std::vector<Sent>{{"PCIRRZZ", 14 * 60 + 7, 2.0, false},
                                 {"PCIRRZZ", 14 * 60 + 15, 2.01, false}}));
}

TEST(ShefOutboxFolder, FromTheSettingAndTheDataFolder) {
    const std::pair<std::optional<std::string>, std::optional<std::string>> cases[] = {
        {std::nullopt, "/data/shef"},
        {"", std::nullopt},
        {"out/shef", "/data/out/shef"},
        {"/srv/pickup", "/srv/pickup"},
    };
    for (const auto& [setting, folder] : cases) {
        EXPECT_EQ(ShefOutboxFolder(setting, "/data"), folder) << setting.value_or("(unset)");
    }
}

} // namespace
} // namespace veltaro::data
