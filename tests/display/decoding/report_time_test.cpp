#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace veltaro {
namespace {

// Application header with the time stamp flag, then the stamp's two bytes.
std::string StampedPayload(unsigned stamp) {
    char text[32];
    std::snprintf(text, sizeof text, "04,%02X,%02X,", stamp >> 8, stamp & 0xFF);
    return text;
}

class ReportTime : public ::testing::Test {
protected:
    MemoryControls ui;
    MStart m{ui};
};

TEST_F(ReportTime, StampCountsFromTheHalfDayWithinSixHoursOfReceipt) {
    const struct {
        int day, hour, minute, second; // received, May 2015, UTC
        unsigned stamp;
        int offset;
        const char* shown;
    } cases[] = {
        {3, 14, 7, 9, 7620, 0, "05/03/2015  14:07:00"},
        {3, 12, 0, 5, 43198, 0, "05/03/2015  11:59:58"},
        {4, 0, 0, 3, 43195, 0, "05/03/2015  23:59:55"},
        {3, 11, 0, 0, 3600, 0, "05/02/2015  13:00:00"},
        {3, 1, 0, 0, 50000, 0, "05/03/2015  01:53:20"},
        {3, 14, 7, 9, 7620, -6, "05/03/2015  08:07:00"},
        {3, 12, 0, 5, 43198, -6, "05/03/2015  05:59:58"},
        {4, 0, 0, 3, 43195, -6, "05/03/2015  17:59:55"},
        {3, 11, 0, 0, 3600, -6, "05/02/2015  07:00:00"},
        {3, 1, 0, 0, 50000, -6, "05/02/2015  19:53:20"},
        {3, 23, 0, 0, 39600, 3, "05/04/2015  02:00:00"},
        // Exactly six hours away moves back; one second less stays.
        {3, 6, 0, 0, 0, 0, "05/02/2015  12:00:00"},
        {3, 6, 0, 0, 1, 0, "05/03/2015  00:00:01"},
        {3, 6, 0, 0, 43200, 0, "05/03/2015  00:00:00"},
        {3, 6, 0, 0, 43199, 0, "05/03/2015  11:59:59"},
    };
    for (const auto& c : cases) {
        m.ReceiveTime = MakeDateTime(2015, 5, c.day, c.hour, c.minute, c.second);
        m.GmtOffsetHours = c.offset;
        m.PayloadText = StampedPayload(c.stamp) + "01,02,00,2A,";
        ComputeReportTime(m);
        EXPECT_EQ(FormatDateTime(m.ReportTime), c.shown)
            << "received " << c.hour << ":" << c.minute << ":" << c.second << " stamp " << c.stamp
            << " offset " << c.offset;
    }
    EXPECT_EQ(ui.Count(ListId::lstReport), 0);
}

TEST_F(ReportTime, SixHourBoundaryIsDecidedInWholeSeconds) {
    // A receive time a hair before 06:00:00 is 06:00:00 to the second.
    for (const double noise : {-1e-11, 1e-11}) {
        m.ReceiveTime = MakeDateTime(2015, 5, 3, 0, 0, 0) + 0.25 + noise;
        m.PayloadText = StampedPayload(0);
        ComputeReportTime(m);
        EXPECT_EQ(FormatDateTime(m.ReportTime), "05/02/2015  12:00:00") << noise;
    }
}

TEST_F(ReportTime, PacketTooShortForTheStampReportsAProblemAndKeepsTheTime) {
    const DateTime before = MakeDateTime(2000, 1, 1, 0, 0, 0);
    for (const char* payload : {"04,1D,", "04,1D", "04,", ""}) {
        ui.Clear(ListId::lstReport);
        m.ReportTime = before;
        m.ReceiveTime = MakeDateTime(2015, 5, 3, 14, 7, 9);
        m.PayloadText = payload;
        ComputeReportTime(m);
        EXPECT_EQ(m.ReportTime, before) << payload;
        ASSERT_EQ(ui.Count(ListId::lstReport), 1) << payload;
        const std::string message = ui.Entry(ListId::lstReport, 0);
        const std::string literal = "  Problem calculating report time";
        ASSERT_GT(message.size(), literal.size());
        EXPECT_EQ(message.substr(message.size() - literal.size()), literal);
    }
}

} // namespace
} // namespace veltaro
