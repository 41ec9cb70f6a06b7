#include "display/decoding/datetime.h"

#include <gtest/gtest.h>

#include <utility>

namespace veltaro {
namespace {

struct CalendarCase {
    long year, month, day, hour, minute, second;
    const char* shown;
};

TEST(DateTime, CalendarPartsCarryOverLikeCalendarArithmetic) {
    const CalendarCase cases[] = {
        {1899, 12, 30, 0, 0, 0, "12/30/1899  00:00:00"},
        {2015, 5, 3, 14, 7, 9, "05/03/2015  14:07:09"},
        {2015, 5, 3, 14, 7, 60, "05/03/2015  14:08:00"},
        {2015, 5, 3, 23, 59, 60, "05/04/2015  00:00:00"},
        {2015, 13, 1, 0, 0, 0, "01/01/2016  00:00:00"},
        {2015, 3, 0, 0, 0, 0, "02/28/2015  00:00:00"},
        {2016, 2, 29, 12, 0, 0, "02/29/2016  12:00:00"},
        {2015, 1, 1, -1, 0, 0, "12/31/2014  23:00:00"},
        {1800, 1, 1, 0, 0, 0, "01/01/1800  00:00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatDateTime(MakeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second)),
                  c.shown)
            << c.shown;
    }
}

TEST(DateTime, CountsDaysFromTheEndOf1899) {
    EXPECT_EQ(MakeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_EQ(MakeDateTime(1900, 1, 1, 0, 0, 0), 2.0);
    EXPECT_EQ(MakeDateTime(2015, 5, 3, 0, 0, 0), 42127.0);
    EXPECT_EQ(MakeDateTime(2015, 5, 3, 18, 0, 0), 42127.75);
    EXPECT_EQ(MakeDateTime(1899, 12, 29, 0, 0, 0), -1.0);
}

TEST(DateTime, FormattingRoundsToTheNearestSecond) {
    const DateTime base = MakeDateTime(2015, 5, 3, 23, 59, 59);
    EXPECT_EQ(FormatDateTime(base + 0.4 / 86400), "05/03/2015  23:59:59");
    EXPECT_EQ(FormatDateTime(base + 0.6 / 86400), "05/04/2015  00:00:00");
    // Offsets added as fractions of a day must not lose a second to noise.
    EXPECT_EQ(FormatDateTime(MakeDateTime(2015, 5, 3, 14, 7, 9) + -6 / 24.0),
              "05/03/2015  08:07:09");
    EXPECT_EQ(FormatDateTime(MakeDateTime(2015, 5, 3, 14, 7, 9) - 5 / 86400.0),
              "05/03/2015  14:07:04");
}

TEST(DateTime, WholeSecondsRoundTrip) {
    const DateTime t = MakeDateTime(2014, 6, 4, 20, 25, 26);
    EXPECT_EQ(FromWholeSeconds(ToWholeSeconds(t)), t);
    EXPECT_EQ(ToWholeSeconds(FromWholeSeconds(-90061)), -90061);
}

TEST(Numbers, HalvesRoundToTheEvenNeighbour) {
    const std::pair<double, double> cases[] = {{2.5, 2},   {3.5, 4},   {-2.5, -2}, {5.5, 6},
                                               {4.5, 4},   {0.5, 0},   {1.5, 2},   {2.4, 2},
                                               {-2.6, -3}, {59.5, 60}, {58.5, 58}, {7.5, 8}};
    for (const auto& [value, rounded] : cases) {
        EXPECT_EQ(RoundHalfEven(value), rounded) << value;
    }
    EXPECT_EQ(RoundToPlaces(0.15625, 2), 0.16);
    EXPECT_EQ(RoundToPlaces(0.15625, 3), 0.156);
    EXPECT_EQ(RoundToPlaces(12.5, 3), 12.5);
}

TEST(Numbers, GeneralFormIsShortestWithPointAndExponent) {
    const std::pair<double, const char*> cases[] = {
        {12.5, "12.5"},
        {-0.125, "-0.125"},
        {3, "3"},
        {0, "0"},
        {-0.0, "0"},
        {1e20, "1E+20"},
        {1e15, "1E+15"},
        {123456789012345, "123456789012345"},
        {0.156, "0.156"},
        {0.0001, "0.0001"},
        {0.00001, "1E-05"},
        {-2, "-2"},
        {1.0 / 3, "0.333333333333333"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(GeneralNumber(value), text) << text;
    }
}

} // namespace
} // namespace veltaro
