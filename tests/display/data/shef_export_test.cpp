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
const std::string kHeader = std::string(": veltaro ") + VELTARO_VERSION + "\n";

Registry ShefRegistry() {
    return harness::registry_of("source,sensor,kind,units,multiplier,interval_minutes,nws_id,shef\n"
                        "1234,,,,,60,CDRC1,\n"
                        "1234,10,rain,in,0.01,,,PCIRRZZ\n"
                        "1234,11,rain,mm,0.2,,,PCIR2ZZ\n"
                        "1234,5,stage,m,0.001,,,HGIRRZZ\n"
                        "1234,6,battery,V,0.01,,,\n"
                        "1234,7,,,,,,TAIRRZZ\n"
                        "55,,,,,,,\n"
                        "55,10,rain,in,0.01,,,PCIRRZZ\n"
                        "66,,,,,,DRYF1,\n"
                                "66,10,rain,in,0.01,,,PCIRRZZ\n");
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

// The lines of a text that hold the given text.
std::string LinesWith(const std::string& text, const std::string& part) {
    std::istringstream in(text);
    std::string kept;
    for (std::string line; std::getline(in, line);) {
        kept += line.find(part) != std::string::npos ? line + "\n" : "";
    }
    return kept;
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
    // 203 -> 215 at 0.01 in a tip; 215 -> 256 + 4 rolled over; 10 -> 13 at 0.2 mm;
    // M where no report came at or before the hour's start.
    EXPECT_EQ(LinesWith(text, "/PPH"), ".A DRYF1 20150503 Z DH1400/PPHRRZZ M\n"
                                       ".A DRYF1 20150503 Z DH1500/PPHRRZZ 0.02\n"
                                       ".A CDRC1 20150503 Z DH1500/PPHRRZZ M\n"
                                       ".A CDRC1 20150503 Z DH1600/PPHRRZZ 0.12\n"
                                       ".A CDRC1 20150503 Z DH1700/PPHRRZZ 0.\n"
                                       ".A CDRC1 20150503 Z DH1800/PPHRRZZ 0.45\n"
                                       ".A CDRC1 20150503 Z DH1900/PPHRRZZ 0.\n"
                                       ".A CDRC1 20150503 Z DH1500/DUS/PPHR2ZZ M\n"
                                       ".A CDRC1 20150503 Z DH1600/DUS/PPHR2ZZ 0.6\n")
        << text;
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
    std::string File(const std::string& name) const {
        return harness::read_file(harness::fs::path(folder_) / name);
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
    EXPECT_EQ(File("2015050314.shef"), kHeader + ".A CDRC1 20150503 Z DH140700/PCIRRZZ 2.\n"
                                                 ".A CDRC1 20150503 Z DH145000/PCIRRZZ 2.03\n");

    Feed({At("15,10", Rain(10, 210)), At("16,00", Rain(10, 215))});
    TickAt(16, 0, 30); // the hour to 15:00 cannot be known; its station is overdue
    EXPECT_EQ(File("2015050315.shef"), kHeader + ".A CDRC1 20150503 Z DH151000/PCIRRZZ 2.1\n"
                                                 ".A CDRC1 20150503 Z DH160000/PCIRRZZ 2.15\n"
                                                 ".A CDRC1 20150503 Z DH1500/PPHRRZZ M\n"
                                                 ".A CDRC1 20150503 Z DH1600/PPHRRZZ 0.12\n");

    TickAt(17, 0, 10); // no report since 16:00: the hour to 17:00 waits
    TickAt(18, 0, 10); // ... until its station is overdue
    EXPECT_EQ(Names(),
              (std::vector<std::string>{"2015050314.shef", "2015050315.shef", "2015050317.shef"}));
    EXPECT_EQ(File("2015050317.shef"), kHeader + ".A CDRC1 20150503 Z DH1700/PPHRRZZ M\n");

    Feed({At("18,30", Rain(10, 4))});
    TickAt(19, 0, 10); // now both hours are known; the one sent as M is revised
    EXPECT_EQ(File("2015050318.shef"), kHeader + ".A CDRC1 20150503 Z DH183000/PCIRRZZ 0.04\n"
                                                 ".AR CDRC1 20150503 Z DH1700/PPHRRZZ 0.\n"
                                                 ".A CDRC1 20150503 Z DH1800/PPHRRZZ 0.\n");
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
    EXPECT_EQ(File("2015050314.shef") + File("2015050315.shef") + File("2015050316.shef"),
              kHeader + ".A CDRC1 20150503 Z DH140700/PCIRRZZ 2.\n" + kHeader +
                  ".A CDRC1 20150503 Z DH152000/PCIRRZZ 2.01\n"
                  ".A CDRC1 20150503 Z DH1500/PPHRRZZ M\n" +
                  kHeader +
                  ".A CDRC1 20150503 Z DH162000/PCIRRZZ 2.02\n"
                  ".A CDRC1 20150503 Z DH1600/PPHRRZZ 0.01\n");

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
    EXPECT_EQ(File("2015050314.shef"), kHeader + // one header
                                           ".A CDRC1 20150503 Z DH140700/PCIRRZZ 2.\n"
                                           ".A CDRC1 20150503 Z DH141500/PCIRRZZ 2.01\n");
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
