#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/display/decoding/test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltaro {
namespace {

class Rain : public testing::ReportDecoderTest {
protected:
    Rain() : ReportDecoderTest(ReadRainReport, "1234", 2) {}

    std::string Header(const std::string& value_and_tips) const {
        return Prefix(7) + value_and_tips;
    }
    std::string Tip(const std::string& time, int k) const {
        return Prefix(7, time) + "Tip " + std::to_string(k);
    }
};

TEST_F(Rain, ListsTheValueAndCountThenOneLinePerTip) {
    const struct {
        const char* body;
        std::vector<std::string> lines; // top first
    } cases[] = {
        {"07 11 2A", {Header("42  (0 Tips)")}},
        {"07 11 2A 05", {Tip("14:00:05", 1), Header("42  (1 Tip)")}},
        {"07 11 2A 00 1E 3C",
         {Tip("13:59:10", 3), Tip("13:59:40", 2), Tip("14:00:10", 1), Header("42  (3 Tips)")}},
        {"07 21 FE", {Header("-2  (0 Tips)")}},
        {"07 12 01 00 FF", {Tip("13:55:55", 1), Header("256  (1 Tip)")}},
        {"07 14 FF FF FF FF", {Header("4294967295  (0 Tips)")}},
        {"07 34 3F C0 00 00", {Header("1.5  (0 Tips)")}},
        {"07 34 3E 20 00 00", {Header("0.16  (0 Tips)")}},
        {"07 34 3C 23 D7 0A", {Header("0.01  (0 Tips)")}},
    };
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        m.PacketUnreadable = false;
        EXPECT_EQ(Read(c.body), c.lines) << c.body;
        EXPECT_FALSE(m.PacketUnreadable) << c.body;
    }
}

TEST_F(Rain, TipBeforeMidnightCarriesThePreviousDate) {
    m.ReportTime = MakeDateTime(2015, 5, 3, 0, 0, 10);
    EXPECT_EQ(Read("07 11 01 14"),
              (std::vector<std::string>{"  05/02/2015  23:59:50    1234\t2\t7\tTip 1",
                                        "  05/03/2015  00:00:10    1234\t2\t7\t1  (1 Tip)"}));
}

TEST_F(Rain, UnreadableValuesListNothingAtAll) {
    for (const char* body : {
             "07 42 00 05",             // value type 4
             "07 01 00 05",             // value type 0
             "07",                      // no descriptor
             "07 10 05 06",             // no value bytes
             "07 15 00 00 00 00 01 05", // five value bytes
             "07 32 3F C0 05",          // float of two bytes
             "07 33 3F C0 00 05",       // float of three bytes
         }) {
        ui.Clear(ListId::lstReport);
        m.PacketUnreadable = false;
        EXPECT_EQ(Read(body), std::vector<std::string>{}) << body;
        EXPECT_TRUE(m.PacketUnreadable) << body;
    }
}

TEST_F(Rain, BodyEndingInsideTheValueReportsAProblem) {
    const std::string literal = "  Problem reading Rain report";
    for (const char* body : {"07 13 00 01", ""}) {
        ui.Clear(ListId::lstReport);
        m.PacketUnreadable = false;
        const auto lines = Read(body);
        ASSERT_EQ(lines.size(), 1u) << body;
        ASSERT_GT(lines[0].size(), literal.size());
        EXPECT_EQ(lines[0].substr(lines[0].size() - literal.size()), literal);
        EXPECT_FALSE(m.PacketUnreadable) << body;
    }
}

} // namespace
} // namespace veltaro
