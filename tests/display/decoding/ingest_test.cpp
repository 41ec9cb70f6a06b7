#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/display/decoding/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltaro {
namespace {

namespace fs = std::filesystem;

constexpr const char* kIngestProblem = "  Problem ingesting N records";
constexpr const char* kWorkedRecord =
    "N,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,5,1234,00,01,02,00,2A";

TEST(LeadingNumber, ReadsTheNumberAtTheStartOfText) {
    const std::pair<const char*, double> cases[] = {
        {"", 0},
        {"-7", -7},
        {"2.5", 2.5},
        {"  1 2 3abc", 123},
        {"\t-\n4", -4},
        {"+5", 5},
        {"1.5.5", 1.5},
        {".5", 0.5},
        {"1e3", 1000},
        {"2.5E-1", 0.25},
        {"1e", 1},
        {"1d2", 100},
        {"abc", 0},
        {"-", 0},
        {"&HFF", 255},
        {"&HFFFF", -1},
        {"&H8000", -32768},
        {"&HFFFFFF", 16777215},
        {"&hff", 255},
        {"&O17", 15},
        {"&H", 0},
        {"&X1", 0},
        {"12,5", 12},
        {"1234\r", 1234},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(LeadingNumber(text), value) << '"' << text << '"';
    }
}

TEST(LeadingNumber, RejectsNumbersTooLargeToHold) {
    EXPECT_THROW(LeadingNumber("1e999"), std::runtime_error);
    EXPECT_THROW(LeadingNumber("&H123456789"), std::runtime_error);
    EXPECT_EQ(LeadingNumber("1e-999"), 0);
}

class Ingest : public ::testing::Test {
protected:
    Ingest() { Configure(ui); }
    static void Configure(Controls& controls) {
        controls.SetText(TextBoxId::txtInputFile, harness::kExchangeName);
        controls.SetText(TextBoxId::txtRawDataFile, harness::kRawLogName);
        controls.SetText(TextBoxId::txtMsgFile, harness::kHeaderLogName);
        controls.SetText(TextBoxId::txtReportFile, harness::kReportLogName);
        controls.SetOption(OptionId::optUseOffset, true);
        controls.SetText(TextBoxId::txtGMTOffset, "-6");
    }
    std::string ExchangePath() const { return dir.file(harness::kExchangeName); }
    const std::vector<std::string>& Lines(ListId list) const { return ui.Lines(list); }

    harness::TempDir dir;
    MemoryControls ui{dir.path().string()};
    MStart m{ui};
};

TEST_F(Ingest, OnlyExactRecordPrefixesAreListedWhateverTheLineEnds) {
    IngestExchangeText(m, "S,1,a\r\r\nn,lower\r\n N,blank\nX,other\rP,2\r\n\r\nS\nN,x,y\rS,last");
    const std::vector<std::string> expected = {"  S,last", "  N,x,y", "  P,2", "  S,1,a"};
    EXPECT_EQ(Lines(ListId::lstOutput), expected);
}

TEST_F(Ingest, GmtOffsetBoxRoundsHalvesToEven) {
    const std::pair<const char*, int> cases[] = {{"-7", -7}, {"2.5", 2},   {"3.5", 4},
                                                 {"", 0},    {"-2.5", -2}, {"5.5", 6}};
    for (const auto& [text, hours] : cases) {
        ui.SetText(TextBoxId::txtGMTOffset, text);
        IngestExchangeText(m, "");
        EXPECT_EQ(m.GmtOffsetHours, hours) << text;
    }
    ui.SetText(TextBoxId::txtGMTOffset, "1e999");
    IngestExchangeText(m, "S,1");
    EXPECT_TRUE(Lines(ListId::lstReport).at(0).ends_with("  Problem ingesting N records"));
    EXPECT_TRUE(Lines(ListId::lstOutput).empty());
}

class ZoneOverride {
public:
    explicit ZoneOverride(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            saved_ = old;
            had_ = true;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneOverride() {
        if (had_) {
            ::setenv("TZ", saved_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::string saved_;
    bool had_ = false;
};

TEST_F(Ingest, SystemTimeZoneUsesTheOffsetInEffectNow) {
    struct ZoneCase {
        const char* zone;
        int bias;
        int hours;
    };
    const ZoneCase cases[] = {
        {"UTC0", 0, 0},
        {"<+0530>-5:30", -330, 6},
        {"<+0430>-4:30", -270, 4},
        {"<-06>6", 360, -6},
        // Daylight time the whole year: the daylight offset is the one in effect.
        {"XST6XDT,J1/0,J365/25", 300, -5},
    };
    ui.SetOption(OptionId::optSystemTz, true);
    for (const auto& c : cases) {
        const ZoneOverride zone(c.zone);
        EXPECT_EQ(GetZoneBiasMinutes(), c.bias) << c.zone;
        IngestExchangeText(m, "");
        EXPECT_EQ(m.GmtOffsetHours, c.hours) << c.zone;
    }
}

TEST_F(Ingest, ExchangeFileIsListedAndDeleted) {
    harness::write_file(ExchangePath(), "S,1,first\r\r\nP,0,second\r\r\n");
    IngestExchangeFile(m);
    const std::vector<std::string> expected = {"  P,0,second", "  S,1,first"};
    EXPECT_EQ(Lines(ListId::lstOutput), expected);
    EXPECT_FALSE(std::filesystem::exists(ExchangePath()));
    EXPECT_EQ(m.InputPath, ExchangePath());

    IngestExchangeFile(m); // no file: the idle case, silent
    EXPECT_EQ(Lines(ListId::lstOutput), expected);
    EXPECT_TRUE(Lines(ListId::lstReport).empty());
}

TEST_F(Ingest, FileHeldByTheDecoderWaitsForTheNextCycle) {
    harness::write_file(ExchangePath(), "S,1,held\r\r\n");
    const int holder = ::open(ExchangePath().c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    IngestExchangeFile(m);
    EXPECT_TRUE(Lines(ListId::lstOutput).empty());
    EXPECT_TRUE(Lines(ListId::lstReport).empty());
    ASSERT_EQ(::write(holder, "S,2,appended\r\r\n", 15), 15);
    ::close(holder);
    EXPECT_EQ(harness::read_file(ExchangePath()), "S,1,held\r\r\nS,2,appended\r\r\n");

    IngestExchangeFile(m);
    const std::vector<std::string> expected = {"  S,2,appended", "  S,1,held"};
    EXPECT_EQ(Lines(ListId::lstOutput), expected);
    EXPECT_FALSE(std::filesystem::exists(ExchangePath()));
}

TEST_F(Ingest, MissingFolderIsReportedOnEveryTickAndTheListStaysBounded) {
    ui.SetText(TextBoxId::txtInputFile, "no-such-folder/SondrelMANTout.txt");
    IngestExchangeFile(m);
    IngestExchangeFile(m);
    const std::vector<std::string> expected(
        2, "No such file or directory  Problem ingesting N records");
    EXPECT_EQ(Lines(ListId::lstReport), expected);
    for (int tick = 0; tick < 1010; ++tick) {
        IngestExchangeFile(m);
    }
    EXPECT_EQ(Lines(ListId::lstReport).size(), 1000u);
}

// Someone else's entry under the exchange file's name or a claim name is
// named once, not at every tick; under a claim name, ingestion goes on.
TEST_F(Ingest, ForeignEntriesAreReportedOncePerChangeAndChangeNothing) {
    const fs::path outside = harness::make_outside_file(dir.path());
    const std::string claimed = ExchangePath() + ".claimed";
    for (const std::string& name : {ExchangePath(), claimed}) {
        for (const harness::ForeignEntry& entry : harness::kForeignEntries) {
            SCOPED_TRACE(name + " is " + entry.kind);
            ui.Clear(ListId::lstReport);
            ui.Clear(ListId::lstOutput);
            entry.make(name, outside);
            for (int tick = 0; tick < 3; ++tick) {
                if (name == claimed) {
                    harness::write_file(ExchangePath(), "S,1,tick\r\r\n");
                }
                IngestExchangeFile(m);
            }
            const std::vector<std::string> message = {name + " is " + entry.kind +
                                                      ", not a regular file" + kIngestProblem};
            EXPECT_EQ(Lines(ListId::lstReport), message);
            EXPECT_EQ(Lines(ListId::lstOutput).size(), name == claimed ? 3u : 0u);
            fs::remove(name);
            IngestExchangeFile(m); // gone: the next time it is named again
        }
    }
    EXPECT_EQ(harness::read_file(outside), harness::kOutsideText);
}

TEST_F(Ingest, ABacklogIsWorkedThroughASliceACycleAndResumedAfterAKill) {
    ui.SetOption(OptionId::optDisplayed, true);
    std::string content;
    std::string raw;
    for (int i = 0; i < 6; ++i) {
        content += "S,1," + std::to_string(i) + "\r\r\n";
        raw += "S,1," + std::to_string(i) + "\r\n";
    }
    harness::write_file(ExchangePath(), content);
    m.SliceTime = {}; // one line a slice: a record and its empty line take two
    for (int cycle = 0; cycle < 5; ++cycle) {
        EXPECT_TRUE(IngestExchangeFile(m));
    }
    EXPECT_EQ(Lines(ListId::lstOutput).size(), 3u);

    MemoryControls restarted_ui{dir.path().string()};
    Configure(restarted_ui);
    restarted_ui.SetOption(OptionId::optDisplayed, true);
    MStart restarted{restarted_ui};
    while (IngestExchangeFile(restarted)) {
    }
    EXPECT_EQ(restarted_ui.Lines(ListId::lstOutput).size(), 3u);
    EXPECT_EQ(restarted_ui.Lines(ListId::lstOutput).front(), "* S,1,5");
    EXPECT_EQ(harness::read_file(dir.file(harness::kRawLogName)), raw);
    EXPECT_FALSE(fs::exists(ExchangePath() + ".claimed"));
    EXPECT_FALSE(fs::exists(ExchangePath() + ".claimed-logs"));
}

// Calls fault once, right after the insertion numbered at.
class FaultAt : public MemoryControls {
public:
    using MemoryControls::MemoryControls;
    void InsertTop(ListId list, const std::string& text) override {
        MemoryControls::InsertTop(list, text);
        if (++insertions == at && fault) {
            fault();
        }
    }
    int insertions = 0;
    int at = -1;
    std::function<void()> fault;
};

// The logs' folder goes away in the middle of a slice, as writes fail on a
// full disk: the slice is undone and done again once writing works, with one
// message for the outage and no line listed or logged twice.
TEST_F(Ingest, ASliceWhoseLogsCannotBeWrittenIsUndoneAndDoneAgainOnce) {
    FaultAt faulty{dir.path().string()};
    Configure(faulty);
    faulty.SetOption(OptionId::optDisplayed, true);
    for (const TextBoxId box :
         {TextBoxId::txtRawDataFile, TextBoxId::txtMsgFile, TextBoxId::txtReportFile}) {
        faulty.SetText(box, "logs/" + faulty.Text(box));
    }
    fs::create_directory(dir / "logs");
    MStart f{faulty};
    const std::string content = std::string("S,1,a\r\r\n") + kWorkedRecord + "\r\r\nP,0,b\r\r\n";
    harness::write_file(ExchangePath(), content);
    faulty.at = 3; // after the N record's raw line
    faulty.fault = [&] { fs::rename(dir / "logs", dir / "away"); };
    for (int tick = 0; tick < 3; ++tick) {
        EXPECT_FALSE(IngestExchangeFile(f));
    }
    const std::vector<std::string> outage = {"No such file or directory  Can't save Message"};
    EXPECT_EQ(faulty.Lines(ListId::lstReport), outage);
    EXPECT_TRUE(faulty.Lines(ListId::lstOutput).empty());
    EXPECT_TRUE(fs::exists(ExchangePath() + ".claimed"));

    fs::rename(dir / "away", dir / "logs");
    EXPECT_FALSE(IngestExchangeFile(f));
    const std::vector<std::string> output = {"* P,0,b", std::string("* ") + kWorkedRecord,
                                             "* S,1,a"};
    EXPECT_EQ(faulty.Lines(ListId::lstOutput), output);
    const std::vector<std::string>& reports = faulty.Lines(ListId::lstReport);
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0], "Logs written again"); // after the lines it wrote
    EXPECT_EQ(reports[3], outage[0]);
    EXPECT_EQ(harness::read_file(dir.file("logs/A2RawData.txt")),
              std::string("S,1,a\r\n") + kWorkedRecord + "\r\nP,0,b\r\n");
    EXPECT_EQ(harness::read_file(dir.file("logs/A2Headers.txt")),
              "05/03/2015  08:07:09,1234,No,3,0,No,11,,,\r\n");
    EXPECT_FALSE(fs::exists(ExchangePath() + ".claimed"));
}

TEST_F(Ingest, ALineTooLongIsNamedAndSkipped) {
    const std::string long_line = "N," + std::string(70000, '7');
    IngestExchangeText(m, long_line + "\r\r\nS,1,next\r\r\n");
    const std::vector<std::string> output = {"  S,1,next"};
    EXPECT_EQ(Lines(ListId::lstOutput), output);
    const std::vector<std::string> reports = {"record too long, skipped: " +
                                              long_line.substr(0, 40)};
    EXPECT_EQ(Lines(ListId::lstReport), reports);
}

TEST_F(Ingest, FileNamesAreFixedAtTheFirstCycle) {
    IngestExchangeFile(m);
    ui.SetText(TextBoxId::txtInputFile, "other.txt");
    ui.SetText(TextBoxId::txtReportFile, "other-reports.txt");
    harness::write_file(ExchangePath(), "S,1\r\r\n");
    IngestExchangeFile(m);
    EXPECT_EQ(Lines(ListId::lstOutput).size(), 1u);
    EXPECT_EQ(m.ReportPath, dir.file("A2Reports.txt"));
    EXPECT_EQ(m.FieldSep, "\t");
}

TEST_F(Ingest, ListsAreTrimmedAfterEveryCycleThatReadTheFile) {
    for (int i = 0; i < 1005; ++i) {
        ui.InsertTop(ListId::lstReport, "  old report " + std::to_string(i));
        ui.InsertTop(ListId::lstMessage, "  old header " + std::to_string(i));
    }
    std::string content;
    for (int i = 0; i < 510; ++i) {
        content += "S,1," + std::to_string(i) + "\r\r\n";
    }
    harness::write_file(ExchangePath(), content);
    IngestExchangeFile(m);
    ASSERT_EQ(Lines(ListId::lstOutput).size(), 500u);
    EXPECT_EQ(Lines(ListId::lstOutput).front(), "  S,1,509");
    EXPECT_EQ(Lines(ListId::lstOutput).back(), "  S,1,10");
    EXPECT_EQ(Lines(ListId::lstMessage).size(), 1000u);
    EXPECT_EQ(Lines(ListId::lstReport).size(), 1000u);
    EXPECT_EQ(Lines(ListId::lstReport).back(), "  old report 5");
    EXPECT_EQ(ui.process_events_calls, 10 + 5 + 5);
}

struct NestedTick {
    MStart* m;
    std::string path;
    int ticks = 0;
};

TEST_F(Ingest, TickDuringTrimmingStartsNoNestedCycle) {
    NestedTick tick{&m, ExchangePath()};
    ui.on_process_events_context = &tick;
    ui.on_process_events = [](void* context) {
        auto* t = static_cast<NestedTick*>(context);
        ++t->ticks;
        harness::write_file(t->path, "S,9,queued meanwhile\r\r\n");
        IngestExchangeFile(*t->m);
    };
    std::string content;
    for (int i = 0; i < 502; ++i) {
        content += "P,0\r\r\n";
    }
    harness::write_file(ExchangePath(), content);
    IngestExchangeFile(m);
    EXPECT_EQ(tick.ticks, 2);
    EXPECT_EQ(Lines(ListId::lstOutput).size(), 500u);
    EXPECT_EQ(Lines(ListId::lstOutput).front(), "  P,0");
    EXPECT_FALSE(m.CycleRunning);

    ui.on_process_events = nullptr;
    IngestExchangeFile(m); // the record written meanwhile waited for this cycle
    EXPECT_EQ(Lines(ListId::lstOutput).front(), "  S,9,queued meanwhile");
}

TEST_F(Ingest, DisplayedOptionLogsEveryRawLineByteForByte) {
    ui.SetOption(OptionId::optDisplayed, true);
    ui.SetText(TextBoxId::txtFilter, "9999"); // raw lines are logged even when not decoded
    harness::write_file(ExchangePath(),
                        std::string("S,1,a\r\r\n") + kWorkedRecord + "\r\r\nP,0,b\r\r\n");
    IngestExchangeFile(m);
    EXPECT_EQ(harness::read_file(dir.file("A2RawData.txt")),
              std::string("S,1,a\r\n") + kWorkedRecord + "\r\nP,0,b\r\n");
    for (const std::string& line : Lines(ListId::lstOutput)) {
        EXPECT_EQ(line.substr(0, 2), "* ");
    }
}

TEST_F(Ingest, FilteredRecordLeavesOnlyItsRawLine) {
    ui.SetText(TextBoxId::txtFilter, "1235");
    IngestExchangeText(m, kWorkedRecord);
    EXPECT_EQ(Lines(ListId::lstOutput).size(), 1u);
    EXPECT_TRUE(Lines(ListId::lstMessage).empty());
    EXPECT_TRUE(Lines(ListId::lstReport).empty());
    EXPECT_EQ(ui.Text(TextBoxId::txtNMessage), "");
}

TEST_F(Ingest, UnreadableHeaderIsNotParsedWithStaleState) {
    IngestExchangeText(m, std::string(kWorkedRecord) + "\nN,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,"
                                                       "0,0,3,5,77\n");
    ASSERT_EQ(Lines(ListId::lstMessage).size(), 1u);
    EXPECT_EQ(ui.Text(TextBoxId::txtNMessage), kWorkedRecord);
    EXPECT_TRUE(Lines(ListId::lstReport).at(0).ends_with("  Problem reading MANT components"));
}

TEST_F(Ingest, WorkedRecordIsDecodedToItsLastLine) {
    IngestExchangeText(m, std::string(kWorkedRecord) + "\r\r\n");
    EXPECT_EQ(ui.Text(TextBoxId::txtNMessage), kWorkedRecord);
    const std::vector<std::string> headers = {
        "  05/03/2015  08:07:09\t1234\tNo\t3\t0\tNo\t11\t\t\t\t\t"};
    EXPECT_EQ(Lines(ListId::lstMessage), headers);
    // Element type 1 with a two-byte body: sensor 0, descriptor 2A (type 2,
    // length 10) is not a readable value, so the packet ends unreadable.
    const std::vector<std::string> reports = {"__________", "  Unreadable Data Packet"};
    EXPECT_EQ(Lines(ListId::lstReport), reports);
}

TEST_F(Ingest, RecordsAreDecodedInFileOrder) {
    IngestExchangeText(m, "N,2015,05,03,14,07,1.0,0,0,0,0,0,0,0,0,0,3,5,1,00,01,02,00,2A\r\r\n"
                          "N,2015,05,03,14,07,2.0,0,0,0,0,0,0,0,0,0,3,5,2,00,01,02,00,2A\r\r\n"
                          "N,2015,05,03,14,07,3.0,0,0,0,0,0,0,0,0,0,3,5,3,00,01,02,00,2A\r\r\n");
    ASSERT_EQ(Lines(ListId::lstMessage).size(), 3u);
    EXPECT_EQ(Lines(ListId::lstMessage)[0].substr(0, 25), "  05/03/2015  08:07:03\t3\t");
    EXPECT_EQ(Lines(ListId::lstMessage)[2].substr(0, 25), "  05/03/2015  08:07:01\t1\t");
    EXPECT_EQ(ui.Text(TextBoxId::txtNMessage).substr(0, 24), "N,2015,05,03,14,07,3.0,0");
}

} // namespace
} // namespace veltaro
