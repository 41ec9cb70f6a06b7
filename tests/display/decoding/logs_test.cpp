#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/display/decoding/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace veltaro {
namespace {

class Logs : public ::testing::Test {
protected:
    Logs() {
        m.RawDataPath = dir.file("A2RawData.txt");
        m.MsgPath = dir.file("A2Headers.txt");
        m.ReportPath = dir.file("A2Reports.txt");
        ui.SetOption(OptionId::optDisplayed, true);
    }

    harness::TempDir dir;
    MemoryControls ui{dir.path().string()};
    MStart m{ui};
};

struct FormatCase {
    const char* name;
    ListId list;
    void (*writer)(MStart&);
    const char* entry;
    const char* marked;
    const char* record; // without CR LF
};

TEST_F(Logs, EntriesAreWrittenInTheirLogFormatAndMarked) {
    const FormatCase cases[] = {
        {"raw N record", ListId::lstOutput, SaveRawReport, "  N,2015,05,03,14,07,9.2500,00,2A",
         "* N,2015,05,03,14,07,9.2500,00,2A", "N,2015,05,03,14,07,9.2500,00,2A"},
        {"header keeps ten of twelve fields", ListId::lstMessage, SaveMessage,
         "  05/03/2015  08:07:09\t1234\tNo\t3\t0\tNo\t11\tp1\tp2\tp3\tp4\tp5",
         "* 05/03/2015  08:07:09\t1234\tNo\t3\t0\tNo\t11\tp1\tp2\tp3\tp4\tp5",
         "05/03/2015  08:07:09,1234,No,3,0,No,11,p1,p2,p3"},
        {"short header still has nine commas", ListId::lstMessage, SaveMessage, "  a\tb", "* a\tb",
         "a,b,,,,,,,,"},
        {"report line ends with a comma", ListId::lstReport, SaveReport,
         "  05/03/2015  08:07:09    123\t1\t10\t500", "* 05/03/2015  08:07:09    123\t1\t10\t500",
         "05/03/2015  08:07:09    123,1,10,500,"},
        {"rain tip line", ListId::lstReport, SaveReport, "  t    123\t2\t7\tTip 3",
         "* t    123\t2\t7\tTip 3", "t    123,2,7,Tip 3,"},
        {"separator", ListId::lstReport, SaveReport, "__________", "*_________", "________,,,,"},
        {"problem message loses its first two characters", ListId::lstReport, SaveReport,
         "Bad thing  Problem reading GSR", "*ad thing  Problem reading GSR",
         "d thing  Problem reading GSR,,,,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const harness::TempDir logs;
        m.RawDataPath = logs.file("raw");
        m.MsgPath = logs.file("msg");
        m.ReportPath = logs.file("report");
        ui.InsertTop(c.list, c.entry);
        c.writer(m);
        EXPECT_EQ(ui.Entry(c.list, 0), c.marked);
        EXPECT_EQ(ui.SelectedIndex(c.list), -1);
        const std::string path = c.list == ListId::lstOutput    ? m.RawDataPath
                                 : c.list == ListId::lstMessage ? m.MsgPath
                                                                : m.ReportPath;
        EXPECT_EQ(harness::read_file(path), std::string(c.record) + "\r\n");
        EXPECT_EQ(ui.Count(ListId::lstReport), c.list == ListId::lstReport ? 1 : 0);
        ui.Clear(c.list);
    }
}

TEST_F(Logs, LinesAreAppendedInOrderToExistingLogs) {
    harness::write_file(m.ReportPath, "old,,,,\r\n");
    ui.InsertTop(ListId::lstReport, "  first");
    SaveReport(m);
    ui.InsertTop(ListId::lstReport, "  second");
    SaveReport(m);
    EXPECT_EQ(harness::read_file(m.ReportPath), "old,,,,\r\nfirst,,,,\r\nsecond,,,,\r\n");
}

TEST_F(Logs, WrittenEntryOnlyBeeps) {
    ui.InsertTop(ListId::lstReport, "  reading");
    SaveReport(m);
    SaveReport(m);
    EXPECT_EQ(ui.beeps, 1);
    EXPECT_EQ(harness::read_file(m.ReportPath), "reading,,,,\r\n");
    EXPECT_EQ(ui.Count(ListId::lstReport), 1); // no problem message
    EXPECT_EQ(ui.SelectedIndex(ListId::lstReport), -1);
}

TEST_F(Logs, SelectedModeWritesThePickedEntryOnce) {
    ui.SetOption(OptionId::OptSelected, true);
    ui.InsertTop(ListId::lstOutput, "  S,older");
    ui.InsertTop(ListId::lstOutput, "  S,newer");
    ui.SetSelected(ListId::lstOutput, 1, true);
    SaveRawReport(m);
    EXPECT_EQ(ui.Entry(ListId::lstOutput, 1), "* S,older");
    EXPECT_EQ(ui.Entry(ListId::lstOutput, 0), "  S,newer");
    ui.SetSelected(ListId::lstOutput, 1, true);
    SaveRawReport(m);
    EXPECT_EQ(ui.beeps, 1);
    EXPECT_EQ(harness::read_file(m.RawDataPath), "S,older\r\n");
}

struct ProblemCase {
    const char* name;
    ListId list;
    void (*writer)(MStart&);
    const char* literal;
};

TEST_F(Logs, NothingToWriteIsReportedWithTheWritersMessage) {
    const ProblemCase cases[] = {
        {"raw", ListId::lstOutput, SaveRawReport, "  Can't save RawReport"},
        {"header", ListId::lstMessage, SaveMessage, "  Can't save Message"},
    };
    for (const bool displayed : {true, false}) {
        ui.SetOption(displayed ? OptionId::optDisplayed : OptionId::OptSelected, true);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (displayed ? " displayed" : " selected"));
            if (!displayed) {
                ui.InsertTop(c.list, "  unselected");
            }
            ui.Clear(ListId::lstReport);
            c.writer(m);
            ASSERT_EQ(ui.Count(ListId::lstReport), 1);
            const std::string message = ui.Entry(ListId::lstReport, 0);
            EXPECT_TRUE(message.ends_with(c.literal)) << message;
            EXPECT_GT(message.size(), std::string(c.literal).size());
            ui.Clear(c.list);
        }
    }
}

TEST_F(Logs, UnwritableLogIsReportedAndTheEntryStaysMarked) {
    m.ReportPath = dir.file("missing-folder/A2Reports.txt");
    ui.InsertTop(ListId::lstReport, "  reading");
    SaveReport(m);
    ASSERT_EQ(ui.Count(ListId::lstReport), 2);
    EXPECT_EQ(ui.Entry(ListId::lstReport, 0), "No such file or directory  Can't save Report");
    EXPECT_EQ(ui.Entry(ListId::lstReport, 1), "* reading");
}

} // namespace
} // namespace veltaro
