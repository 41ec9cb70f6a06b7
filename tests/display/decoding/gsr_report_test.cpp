#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/display/decoding/test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltaro {
namespace {

class Gsr : public testing::ReportDecoderTest {
protected:
    Gsr() : ReportDecoderTest(ReadGSR, "123", 1) {}

    std::string Line(int sensor, const std::string& value) const { return Prefix(sensor) + value; }
};

TEST_F(Gsr, ListsOneLinePerReadingNewestOnTop) {
    const struct {
        const char* body;
        std::vector<std::string> lines; // top first
    } cases[] = {
        {"0A 12 01 F4", {Line(10, "500")}},
        {"0A 22 01 F4", {Line(10, "500")}},
        {"0A 22 FF FE", {Line(10, "-2")}},
        {"0A 11 FF", {Line(10, "255")}},
        {"0A 21 FF", {Line(10, "-1")}},
        {"0A 13 01 00 00", {Line(10, "65536")}},
        {"0A 14 FF FF FF FF", {Line(10, "4294967295")}},
        {"0A 24 FF FF FF FF", {Line(10, "-1")}},
        {"05 34 41 48 00 00", {Line(5, "12.5")}},
        {"05 34 3E 20 00 00", {Line(5, "0.156")}}, // 0.15625 to three places
        {"05 34 BE 00 00 00", {Line(5, "-0.125")}},
        {"05 34 00 00 00 00", {Line(5, "0")}},
        {"05 34 5D 80 00 00", {Line(5, "1.15292150460685E+18")}}, // 2^60
        {"0A 11 05 0B 21 FF", {Line(11, "-1"), Line(10, "5")}},
        {"0A 11 05 0B", {Line(10, "5")}}, // a rest shorter than two bytes is ignored
        {"0A", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        m.PacketUnreadable = false;
        EXPECT_EQ(Read(c.body), c.lines) << c.body;
        EXPECT_FALSE(m.PacketUnreadable) << c.body;
    }
}

TEST_F(Gsr, UnreadableReadingsListNothingAndMarkThePacket) {
    const struct {
        const char* body;
        std::vector<std::string> lines;
    } cases[] = {
        {"0A 45 01", {}},                                // value type 4
        {"0A 05 01", {}},                                // value type 0
        {"0A 10 01", {}},                                // length 0
        {"0A 15 01 02 03 04 05", {}},                    // length 5
        {"0A 11 05 0B 45 01 0C 11 07", {Line(10, "5")}}, // stops at the bad descriptor
        // A value that runs past the body is not read as zeros.
        {"0A 12 05", {}},
        {"0A 12", {}},
        {"0A 11 05 0B 34 41 48", {Line(10, "5")}},
        // A float of two bytes gives no reading; the readings after it are
        // framed by their own bytes and still listed.
        {"0A 32 00 01", {}},
        {"0A 11 05 0B 32 00 01 0C 11 07", {Line(12, "7"), Line(10, "5")}},
    };
    for (const auto& c : cases) {
        ui.Clear(ListId::lstReport);
        m.PacketUnreadable = false;
        EXPECT_EQ(Read(c.body), c.lines) << c.body;
        EXPECT_TRUE(m.PacketUnreadable) << c.body;
    }
}

TEST_F(Gsr, WithDisplayedEveryLineIsLoggedAndMarked) {
    harness::TempDir dir;
    m.ReportPath = dir.file("A2Reports.txt");
    ui.SetOption(OptionId::optDisplayed, true);
    EXPECT_EQ(Read("0A 12 01 F4 0B 21 FF"),
              (std::vector<std::string>{"*" + Line(11, "-1").substr(1),
                                        "*" + Line(10, "500").substr(1)}));
    EXPECT_EQ(harness::read_file(m.ReportPath), "05/03/2015  14:00:10    123,1,10,500,\r\n"
                                                "05/03/2015  14:00:10    123,1,11,-1,\r\n");
}

TEST_F(Gsr, WithSelectedNothingIsLogged) {
    harness::TempDir dir;
    m.ReportPath = dir.file("A2Reports.txt");
    ui.SetOption(OptionId::OptSelected, true);
    EXPECT_EQ(Read("0A 12 01 F4"), std::vector<std::string>{Line(10, "500")});
    EXPECT_FALSE(std::filesystem::exists(m.ReportPath));
}

} // namespace
} // namespace veltaro
