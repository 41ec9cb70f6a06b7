#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/display/decoding/test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltaro {
namespace {

class Msr : public testing::ReportDecoderTest {
protected:
    Msr() : ReportDecoderTest(ReadMSR, "77", 3) {}

    std::string Line(int sensor, const std::string& value) const { return Prefix(sensor) + value; }
};

TEST_F(Msr, MaskBitsChooseSensorsWithFixedWidthAndSign) {
    const struct {
        const char* body;
        std::vector<std::string> lines; // top first
    } cases[] = {
        {"00", {}},
        {"03 FF 38 64", {Line(2, "100"), Line(1, "-200")}},
        {"80 C8", {Line(8, "200")}},
        {"41 00 0A FF F6", {Line(7, "-10"), Line(1, "10")}},
        {"04 FF FF", {Line(3, "65535")}},
        {"10 80 00", {Line(5, "32768")}},
        {"28 FF 80", {Line(6, "128"), Line(4, "255")}},
        {"FF 00 01 02 00 03 04 00 05 06 00 07 08 09",
         {Line(8, "8"), Line(7, "7"), Line(6, "6"), Line(5, "5"), Line(4, "4"), Line(3, "3"),
          Line(2, "2"), Line(1, "1")}},
        {"02 05 99 99", {Line(2, "5")}}, // bytes after the last sensor are ignored
    };
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        m.PacketUnreadable = false;
        EXPECT_EQ(Read(c.body), c.lines) << c.body;
        EXPECT_FALSE(m.PacketUnreadable) << c.body;
    }
}

TEST_F(Msr, SensorWithNoBytesLeftListsNoLineAndMarksThePacket) {
    const struct {
        const char* body;
        std::vector<std::string> lines;
    } cases[] = {
        {"06 05", {Line(2, "5")}},
        {"01", {}},
        {"82 05", {Line(2, "5")}},
    };
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        m.PacketUnreadable = false;
        EXPECT_EQ(Read(c.body), c.lines) << c.body;
        EXPECT_TRUE(m.PacketUnreadable) << c.body;
    }
}

// A problem of the report, shown after the lines already listed; the packet
// is not marked, so its next element is read.
TEST_F(Msr, EmptyBodyOrTwoByteValueCutShortIsAProblem) {
    const struct {
        const char* body;
        std::vector<std::string> lines_below; // listed before the problem
    } cases[] = {
        {"", {}},
        {"03 12", {}},
        {"05 00 01 12", {Line(1, "1")}},
        {"42 07 FF", {Line(2, "7")}},
    };
    const std::string literal = "  Problem reading MSR";
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        m.PacketUnreadable = false;
        const auto lines = Read(c.body);
        ASSERT_EQ(lines.size(), c.lines_below.size() + 1) << c.body;
        ASSERT_GT(lines[0].size(), literal.size()) << c.body; // the description comes first
        EXPECT_EQ(lines[0].substr(lines[0].size() - literal.size()), literal) << c.body;
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), c.lines_below)
            << c.body;
        EXPECT_FALSE(m.PacketUnreadable) << c.body;
    }
}

} // namespace
} // namespace veltaro
