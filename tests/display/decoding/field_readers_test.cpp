#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/display/decoding/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace veltaro {
namespace {

using testing::ByteText;

class FieldReaders : public ::testing::Test {
protected:
    MemoryControls ui;
    MStart m{ui};
};

TEST(HexValue, WidthFollowsTheNumberOfDigits) {
    const struct {
        const char* digits;
        double value;
    } cases[] = {
        {"", 0},
        {"0", 0},
        {"FF", 255},
        {"ff", 255},
        {"7FFF", 32767},
        {"8000", -32768},
        {"FFFF", -1},
        {"12345", 74565},
        {"FFFFFF", 16777215},
        {"7FFFFFFF", 2147483647},
        {"FFFFFFFF", -1},
        {"1Z", 1},
        {"ZZ", 0},
        {"2A,", 42},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexValue(c.digits), c.value) << c.digits;
    }
}

TEST(HexValue, MoreThanEightDigitsIsAnError) {
    EXPECT_THROW(HexValue("123456789"), std::runtime_error);
}

TEST(TakeByte, ReturnsTheDigitsAndRemovesTheByteWithItsSeparator) {
    const struct {
        const char* text;
        const char* digits;
        const char* rest;
    } cases[] = {
        {"AB,CD,", "AB", "CD,"}, {"AB,", "AB", ""},
        {"AB", "AB", "AB"}, // two characters or fewer stay
        {"A", "A", "A"},         {"", "", ""},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(TakeByte(text), c.digits) << c.text;
        EXPECT_EQ(text, c.rest) << c.text;
    }
}

TEST_F(FieldReaders, ReadIntegerBySizeAndSignedness) {
    const struct {
        std::int16_t signedness;
        std::int16_t count;
        const char* bytes;
        std::int64_t value;
    } cases[] = {
        {1, 1, "FF", 255},
        {2, 1, "FF", -1},
        {1, 1, "80", 128},
        {2, 1, "80", -128},
        {1, 1, "7F", 127},
        {2, 1, "7F", 127},
        {1, 2, "FF FE", 65534},
        {2, 2, "FF FE", -2},
        {1, 2, "01 00", 256},
        {2, 2, "01 00", 256},
        {2, 2, "80 00", -32768},
        {1, 3, "80 00 00", 8388608},
        {2, 3, "80 00 00", -8388608},
        {1, 3, "7F FF FF", 8388607},
        {2, 3, "7F FF FF", 8388607},
        {2, 4, "FF FF FF FF", -1},
        {1, 4, "FF FF FF FF", 4294967295LL}, // unsigned four bytes keep their top bit
        {1, 4, "80 00 00 00", 2147483648LL},
        {2, 4, "80 00 00 00", -2147483648LL},
        {1, 4, "00 00 01 00", 256},
        {2, 4, "00 00 01 00", 256},
        {0, 1, "FF", 255}, // every code but 2 is unsigned
    };
    for (const auto& c : cases) {
        std::string text = ByteText(c.bytes);
        EXPECT_EQ(ReadInteger(m, c.signedness, c.count, text), c.value)
            << c.bytes << " signedness " << c.signedness;
        EXPECT_EQ(text, "") << c.bytes;
    }
    EXPECT_EQ(ui.Count(ListId::lstReport), 0);
}

TEST_F(FieldReaders, ReadIntegerOfNoBytesTakesNothing) {
    std::string text = ByteText("12 34");
    EXPECT_EQ(ReadInteger(m, 1, 0, text), 0);
    EXPECT_EQ(text, "12,34,");
    EXPECT_EQ(ReadInteger(m, 1, -1, text), 0);
    EXPECT_EQ(text, "12,34,");
}

TEST_F(FieldReaders, ReadIntegerOfMoreThanFourBytesReportsAProblemAndReadsZero) {
    std::string text = ByteText("01 02 03 04 05");
    EXPECT_EQ(ReadInteger(m, 1, 5, text), 0);
    ASSERT_EQ(ui.Count(ListId::lstReport), 1);
    const std::string message = ui.Entry(ListId::lstReport, 0);
    const std::string literal = "  Problem reading integer";
    ASSERT_GT(message.size(), literal.size());
    EXPECT_EQ(message.substr(message.size() - literal.size()), literal);
    EXPECT_EQ(message, m.MessageText);
}

TEST_F(FieldReaders, ReadFloatDecodesSinglePrecision) {
    const struct {
        const char* bytes;
        double value;
    } cases[] = {
        {"3F 80 00 00", 1},
        {"C0 00 00 00", -2},
        {"41 20 00 00", 10},
        {"3E 20 00 00", 0.15625},
        {"41 48 00 00", 12.5},
        {"3F C0 00 00", 1.5},
        {"00 00 00 00", std::ldexp(1.0, -127)}, // no special case for zero
        {"80 00 00 00", -std::ldexp(1.0, -127)},
        {"3D CC CC CD", static_cast<double>(0.1f)},
        {"7F 7F FF FF", static_cast<double>(3.4028234663852886e38f)},
    };
    for (const auto& c : cases) {
        std::string text = ByteText(c.bytes);
        EXPECT_EQ(ReadFloat(m, 3, text), c.value) << c.bytes;
        EXPECT_EQ(text, "");
    }
    EXPECT_FALSE(m.PacketUnreadable);
}

TEST_F(FieldReaders, ReadFloatOfAnyOtherLengthMarksThePacketUnreadable) {
    for (const char* bytes : {"3F 80 00", "3F 80 00 00 00", ""}) {
        m.PacketUnreadable = false;
        std::string text = ByteText(bytes);
        const std::string before = text;
        EXPECT_EQ(ReadFloat(m, 3, text), 0) << bytes;
        EXPECT_TRUE(m.PacketUnreadable) << bytes;
        EXPECT_EQ(text, before);
    }
    EXPECT_EQ(ui.Count(ListId::lstReport), 0);
}

} // namespace
} // namespace veltaro
