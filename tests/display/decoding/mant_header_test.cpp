#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <gtest/gtest.h>

#include <string>

namespace veltaro {
namespace {

constexpr const char* kWorkedRecord =
    "N,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,5,1234,00,01,02,00,2A";

class MantHeader : public ::testing::Test {
protected:
    MantHeader() {
        m.FieldSep = "\t";
        m.GmtOffsetHours = -6;
    }
    void Read(const std::string& record) {
        m.NRecord = record;
        ReadMantHeader(m);
    }
    std::string TopReport() const {
        return ui.Count(ListId::lstReport) > 0 ? ui.Entry(ListId::lstReport, 0) : "";
    }

    MemoryControls ui;
    MStart m{ui};
};

TEST_F(MantHeader, WorkedRecordGivesItsFieldsAndHeaderLine) {
    Read(kWorkedRecord);
    EXPECT_TRUE(m.RecordSelected);
    EXPECT_FALSE(m.AddPath);
    EXPECT_FALSE(m.DestFlag);
    EXPECT_EQ(m.PathCount, 0);
    EXPECT_EQ(m.HopLimit, 3);
    EXPECT_EQ(m.PayloadKind, 0);
    EXPECT_EQ(m.PayloadChars, 15);
    EXPECT_EQ(m.PacketBytes, "11");
    EXPECT_EQ(m.SourceAddress, "1234");
    EXPECT_EQ(m.ReceiveTime, MakeDateTime(2015, 5, 3, 14, 7, 9));
    EXPECT_EQ(m.HeaderLine, "  05/03/2015  08:07:09\t1234\tNo\t");
    EXPECT_EQ(ui.Count(ListId::lstReport), 0);
}

TEST_F(MantHeader, SourceFilterSelectsOnlyItsAddress) {
    const std::pair<double, bool> cases[] = {{0, true}, {-3, true}, {1234, true}, {1235, false}};
    for (const auto& [filter, selected] : cases) {
        m.SourceFilter = filter;
        m.HeaderLine = "before";
        Read(kWorkedRecord);
        EXPECT_EQ(m.RecordSelected, selected) << filter;
        EXPECT_EQ(m.HeaderLine != "before", selected) << filter;
    }
}

struct OptionalFieldCase {
    const char* name;
    const char* flags; // fields 8 to 12
    const char* after; // fields after the source address
    bool add_path;
    int path_count;
    const char* bytes; // payload length 5
    const char* path1;
    const char* path2;
};

TEST_F(MantHeader, OptionalFieldsAreSkippedByTheirFlagsAndCountedInBytes) {
    const OptionalFieldCase cases[] = {
        {"path only", "0,0,0,1,0", "2,100,200", true, 2, "16", "100", "200"},
        {"destination only", "0,0,0,0,1", "777", false, 0, "13", "", ""},
        {"extra byte only", "0,1,0,0,0", "9", false, 0, "12", "", ""},
        {"destination then path", "0,0,0,1,1", "777,1,300", true, 1, "16", "300", ""},
        {"extra byte then path", "0,1,0,1,0", "9,1,300", true, 1, "15", "300", ""},
        {"all three", "0,1,0,1,1", "777,9,2,100,200", true, 2, "19", "100", "200"},
        {"path count zero", "0,0,0,1,0", "0", true, 0, "12", "", ""},
    };
    for (const auto& c : cases) {
        m.PathAddress = {"x", "x", "x", "x", "x"};
        Read(std::string("N,2015,05,03,14,07,9.2500,") + c.flags + ",0,0,0,0,3,5,1234," + c.after +
             ",00,01,02,00,2A");
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(m.RecordSelected);
        EXPECT_EQ(m.AddPath, c.add_path);
        EXPECT_EQ(m.PathCount, c.path_count);
        EXPECT_EQ(m.PacketBytes, c.bytes);
        EXPECT_EQ(m.PathAddress[0], c.path1);
        EXPECT_EQ(m.PathAddress[1], c.path2);
        EXPECT_EQ(m.PathAddress[2], "");
        EXPECT_EQ(m.PathAddress[4], "");
        EXPECT_EQ(m.HeaderLine, std::string("  05/03/2015  08:07:09\t1234\t") +
                                    (c.add_path ? "Yes" : "No") + "\t");
    }
}

TEST_F(MantHeader, TimeFieldsRoundHalvesToEvenAndCarry) {
    const std::pair<const char*, const char*> cases[] = {
        {"2015,05,03,14,07,59.5000", "  05/03/2015  08:08:00"},
        {"2015,05,03,14,07,58.5000", "  05/03/2015  08:07:58"},
        {"2015,05,03,14,07,7.5000", "  05/03/2015  08:07:08"},
        {"2015,05,03,14,07,8.5000", "  05/03/2015  08:07:08"},
        {"2015,05,03,02,00,0.0000", "  05/02/2015  20:00:00"},
    };
    for (const auto& [time, shown] : cases) {
        Read(std::string("N,") + time + ",0,0,0,0,0,0,0,0,0,3,5,1234,00,01,02,00,2A");
        EXPECT_EQ(m.HeaderLine.substr(0, 22), shown) << time;
    }
}

struct FailureCase {
    const char* name;
    const char* record;
};

TEST_F(MantHeader, UnreadableHeadersAreReportedAndNeverSelected) {
    const FailureCase cases[] = {
        {"no payload after the source", "N,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,5,1234"},
        {"record ends in the time", "N,2015,05,03"},
        {"text in the hop limit", "N,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,x,5,1234,00"},
        {"empty year", "N,,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,5,1234,00"},
        {"path count of six",
         "N,2015,05,03,14,07,9.2500,0,0,0,1,0,0,0,0,0,3,5,1234,6,1,2,3,4,5,6,00,01"},
        {"path count past the record end",
         "N,2015,05,03,14,07,9.2500,0,0,0,1,0,0,0,0,0,3,5,1234,3,1"},
        {"invalid date", "N,0,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,5,1234,00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Read(kWorkedRecord);
        ASSERT_TRUE(m.RecordSelected);
        const int before = ui.Count(ListId::lstReport);
        Read(c.record);
        EXPECT_FALSE(m.RecordSelected);
        ASSERT_EQ(ui.Count(ListId::lstReport), before + 1);
        const std::string message = TopReport();
        EXPECT_TRUE(message.ends_with("  Problem reading MANT components")) << message;
        EXPECT_GT(message.size(), std::string("  Problem reading MANT components").size());
    }
}

TEST_F(MantHeader, PathCountAboveFiveKeepsTheFirstFiveAddresses) {
    Read("N,2015,05,03,14,07,9.2500,0,0,0,1,0,0,0,0,0,3,5,1234,6,11,12,13,14,15,16,00,01");
    EXPECT_FALSE(m.RecordSelected);
    EXPECT_EQ(m.PathCount, 6);
    EXPECT_EQ(m.PathAddress[0], "11");
    EXPECT_EQ(m.PathAddress[4], "15");
}

} // namespace
} // namespace veltaro
