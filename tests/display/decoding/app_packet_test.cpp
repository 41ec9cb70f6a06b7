#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/display/decoding/test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace veltaro {
namespace {

using testing::ByteText;

using Lines = std::vector<std::string>;

const std::string kSeparator = "__________";
const std::string kUnreadable = "  Unreadable Data Packet";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class AppPacket : public ::testing::Test {
protected:
    AppPacket() {
        m.FieldSep = "\t";
        m.SourceAddress = "1234";
        m.HopLimit = 3;
        m.ReceiveTime = MakeDateTime(2015, 5, 3, 14, 0, 10);
    }

    // The record with the comma the ingest cycle appends, and the state the
    // header reader leaves for it.
    void Packet(const std::string& hex, int kind) {
        const std::string bytes = ByteText(hex);
        const std::size_t count = bytes.size() / 3;
        m.NRecord = "N,2015,05,03,14,00,10.0000,0,0,0,0,0," + std::to_string(kind) + ",0,0,0,3," +
                    std::to_string(count) + ",1234," + bytes;
        if (count == 0) {
            m.NRecord += ",";
        }
        m.PayloadKind = static_cast<std::int16_t>(kind);
        m.PayloadChars = 3.0 * static_cast<double>(count);
        m.PacketBytes = std::to_string(count + 6);
        m.HeaderLine = "  05/03/2015  14:00:10\t1234\tNo\t";
    }

    std::string Header(const std::string& id_and_test) const {
        return "  05/03/2015  14:00:10\t1234\tNo\t3\t" + id_and_test + "\t" + m.PacketBytes +
               "\t\t\t\t\t";
    }

    static std::string Report(const std::string& time, const std::string& columns) {
        return "  05/03/2015  " + time + "    1234\t" + columns;
    }

    const Lines& Messages() const { return ui.Lines(ListId::lstMessage); }
    const Lines& Reports() const { return ui.Lines(ListId::lstReport); }

    MemoryControls ui;
    MStart m{ui};
};

TEST_F(AppPacket, ElementsGoToTheirDecodersAndTheSeparatorEndsThePacket) {
    Packet("00 01 04 0A 12 01 F4 03 02 02 05", 0);
    ParseAppPacket(m);
    EXPECT_EQ(Messages(), Lines{Header("0\tNo")});
    EXPECT_EQ(Reports(),
              (Lines{kSeparator, Report("14:00:10", "3\t2\t5"), Report("14:00:10", "1\t10\t500")}));
    EXPECT_FALSE(m.TimeStampFlag);
    EXPECT_EQ(m.ReportTime, m.ReceiveTime);
}

TEST_F(AppPacket, WithoutTimeStampReportTimeIsTheReceiveTimeShifted) {
    m.GmtOffsetHours = -6;
    m.ReceiveTime = MakeDateTime(2015, 5, 3, 4, 0, 10);
    Packet("00 03 02 02 05", 0);
    ParseAppPacket(m);
    EXPECT_EQ(Reports(), (Lines{kSeparator, "  05/02/2015  22:00:10    1234\t3\t2\t5"}));
}

TEST_F(AppPacket, HeaderByteGivesPacketIdTestFlagAndTimeStamp) {
    m.ReceiveTime = MakeDateTime(2015, 5, 3, 14, 7, 9);
    m.PathAddress = {"100", "200", "", "", ""};
    Packet("4C 1D C4 03 02 02 05", 0);
    ParseAppPacket(m);
    EXPECT_TRUE(m.TimeStampFlag);
    EXPECT_EQ(m.PktId, 4);
    EXPECT_EQ(m.TestMsgText, "Yes");
    EXPECT_EQ(Messages(), Lines{"  05/03/2015  14:00:10\t1234\tNo\t3\t4\tYes\t13\t100\t200\t\t\t"});
    EXPECT_EQ(Reports(), (Lines{kSeparator, Report("14:07:00", "3\t2\t5")}));
}

TEST_F(AppPacket, UnreadableElementEndsThePacket) {
    const struct {
        const char* payload;
        Lines reports;
    } cases[] = {
        {"00 07 01 05 03 02 02 05", {kSeparator, kUnreadable}},
        {"00 00 01 05", {kSeparator, kUnreadable}},
        // The second element is never read once the first is unreadable.
        {"00 01 03 0A 45 01 03 02 02 05", {kSeparator, kUnreadable}},
        {"00 03 02 02 05 07 00 03 02 02 06",
         {kSeparator, kUnreadable, Report("14:00:10", "3\t2\t5")}},
        // A decoder's missing bytes end the packet the same way.
        {"00 03 02 06 05", {kSeparator, kUnreadable, Report("14:00:10", "3\t2\t5")}},
    };
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        Packet(c.payload, 0);
        ParseAppPacket(m);
        EXPECT_EQ(Reports(), c.reports) << c.payload;
        EXPECT_FALSE(m.PacketUnreadable) << c.payload;
    }
}

TEST_F(AppPacket, FlagLeftFromAnEarlierPacketDoesNotMarkTheNext) {
    m.PacketUnreadable = true;
    Packet("00 03 02 02 05", 0);
    ParseAppPacket(m);
    EXPECT_EQ(Reports(), (Lines{kSeparator, Report("14:00:10", "3\t2\t5")}));
}

TEST_F(AppPacket, PacketCutShortIsAProblemWithoutSeparator) {
    const struct {
        const char* payload;
        std::vector<std::string> literals; // top first
    } cases[] = {
        {"00 01", {"  Problem parsing App packet"}},
        {"00 03 02 02 05 01", {"  Problem parsing App packet"}},
        {"", {"  Problem parsing App packet"}},
        {"04 1D", {"  Problem parsing App packet", "  Problem calculating report time"}},
    };
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        ui.Clear(ListId::lstMessage);
        Packet(c.payload, 0);
        ParseAppPacket(m);
        EXPECT_EQ(Messages().size(), 1u) << c.payload;
        const Lines reports = Reports();
        ASSERT_GE(reports.size(), c.literals.size()) << c.payload;
        for (std::size_t i = 0; i < c.literals.size(); ++i) {
            EXPECT_TRUE(EndsWith(reports[i], c.literals[i])) << c.payload << ": " << reports[i];
        }
        for (const auto& line : reports) {
            EXPECT_NE(line, kSeparator) << c.payload;
        }
    }
}

TEST_F(AppPacket, CompactReportsListSensorValueAndAge) {
    const struct {
        const char* payload;
        Lines reports;
    } cases[] = {
        {"00 34 A2 7F 05", {kSeparator, Report("14:00:05", "0\t564\t1407")}},
        {"00 34 A2 7F 05 01 00 02 00",
         {kSeparator, Report("14:00:10", "0\t1\t2"), Report("14:00:05", "0\t564\t1407")}},
        {"00 FF FF FF FF", {kSeparator, Report("13:55:55", "0\t8191\t2047")}},
        // A last item without its age byte would get a false time.
        {"00 34 A2 7F 05 01 00 02", {kSeparator, kUnreadable, Report("14:00:05", "0\t564\t1407")}},
    };
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        Packet(c.payload, 1);
        ParseAppPacket(m);
        EXPECT_EQ(Reports(), c.reports) << c.payload;
        EXPECT_EQ(m.ReportType, 0);
    }
}

TEST_F(AppPacket, CompactItemOfOneOrTwoBytesIsAProblemThenTheSeparator) {
    for (const char* payload : {"00 34 A2 7F 05 01", "00 34 A2 7F 05 01 02", "00"}) {
        ui.Clear(ListId::lstReport);
        Packet(payload, 1);
        ParseAppPacket(m);
        const Lines reports = Reports();
        ASSERT_GE(reports.size(), 2u) << payload;
        EXPECT_EQ(reports[0], kSeparator) << payload;
        EXPECT_TRUE(EndsWith(reports[1], "  Problem calculating report time")) << payload;
    }
}

TEST_F(AppPacket, CompactReportsCountAgeFromTheTimeStamp) {
    m.ReceiveTime = MakeDateTime(2015, 5, 3, 12, 0, 20);
    Packet("04 00 0A 01 00 02 03", 1);
    ParseAppPacket(m);
    EXPECT_EQ(Reports(), (Lines{kSeparator, "  05/03/2015  12:00:07    1234\t0\t1\t2"}));
}

TEST_F(AppPacket, OtherPayloadKindsListOnlyHeaderAndSeparator) {
    Packet("00 03 02 02 05", 2);
    ParseAppPacket(m);
    EXPECT_EQ(Messages(), Lines{Header("0\tNo")});
    EXPECT_EQ(Reports(), Lines{kSeparator});
}

TEST_F(AppPacket, RecordHoldingFewerBytesThanDeclaredIsNotDecoded) {
    Packet("00 03 02 02 05", 0);
    m.NRecord = "N,2015,05,03,14,00,10.0000,0,0,0,0,0,0,0,0,0,3,5,1234,00,03,02,";
    ParseAppPacket(m);
    EXPECT_EQ(Messages(), Lines{Header("0\tNo")});
    EXPECT_EQ(Reports(), (Lines{kSeparator, kUnreadable}));
    EXPECT_FALSE(m.PacketUnreadable);

    Packet("00 03 02 02 05", 0);
    m.PayloadChars = 3e12;
    ParseAppPacket(m);
    EXPECT_EQ(Reports(), (Lines{kSeparator, kUnreadable, kSeparator, kUnreadable}));
}

TEST_F(AppPacket, RecordHoldingMoreBytesThanDeclaredIsReadFromTheHeaderOn) {
    Packet("00 03 02 02 05", 0);
    m.NRecord += "03,02,02,06,"; // a hand-made record: four bytes beyond field 18's count
    ParseAppPacket(m);
    EXPECT_EQ(Reports(), (Lines{kSeparator, Report("14:00:10", "3\t2\t5")}));
}

TEST_F(AppPacket, PayloadFollowsOptionalHeaderFieldsByTheirFlags) {
    // Extra byte, add path and destination flags set: destination 77, extra
    // byte 5, then the path count and the addresses before the payload.
    const std::string head = "N,2015,05,03,14,00,10.0000,0,1,0,1,1,0,0,0,0,3,5,1234,77,5,";
    const struct {
        std::string paths;
        Lines reports;
    } cases[] = {
        {"2,100,200,", {kSeparator, Report("14:00:10", "3\t2\t5")}},
        {"0,", {kSeparator, Report("14:00:10", "3\t2\t5")}},
        // One more address than the record holds: the payload is short.
        {"3,100,200,", {kSeparator, kUnreadable}},
    };
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        m.PayloadKind = 0;
        m.PayloadChars = 15;
        m.NRecord = head + c.paths + "00,03,02,02,05,";
        ParseAppPacket(m);
        EXPECT_EQ(Reports(), c.reports) << c.paths;
    }
}

TEST_F(AppPacket, WithDisplayedHeaderAndReportLinesAreLoggedButNotTheSeparator) {
    harness::TempDir dir;
    m.MsgPath = dir.file("A2Headers.txt");
    m.ReportPath = dir.file("A2Reports.txt");
    ui.SetOption(OptionId::optDisplayed, true);
    Packet("00 03 02 02 05 07 00", 0);
    ParseAppPacket(m);
    EXPECT_EQ(Messages(), Lines{"*" + Header("0\tNo").substr(1)});
    EXPECT_EQ(Reports(),
              (Lines{kSeparator, kUnreadable, "*" + Report("14:00:10", "3\t2\t5").substr(1)}));
    EXPECT_EQ(harness::read_file(m.MsgPath), "05/03/2015  14:00:10,1234,No,3,0,No,13,,,\r\n");
    EXPECT_EQ(harness::read_file(m.ReportPath), "05/03/2015  14:00:10    1234,3,2,5,\r\n");
}

TEST(AppPacketCycle, WorkedRecordWithOffsetMinusSix) {
    const std::string record =
        "N,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,5,1234,00,01,02,00,2A";
    MemoryControls ui;
    MStart m{ui};
    ui.SetOption(OptionId::optUseOffset, true);
    ui.SetText(TextBoxId::txtGMTOffset, "-6");
    IngestExchangeText(m, record + "\r\r\n");
    EXPECT_EQ(ui.Lines(ListId::lstOutput), Lines{"  " + record});
    EXPECT_EQ(ui.Text(TextBoxId::txtNMessage), record);
    EXPECT_EQ(ui.Lines(ListId::lstMessage),
              Lines{"  05/03/2015  08:07:09\t1234\tNo\t3\t0\tNo\t11\t\t\t\t\t"});
    // The element's descriptor 2A asks for a ten-byte value: unreadable.
    EXPECT_EQ(ui.Lines(ListId::lstReport), (Lines{kSeparator, kUnreadable}));
}

} // namespace
} // namespace veltaro
