#include "decoder/receive.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

struct ElapsedCase {
    TimeMark a, b;
    long long expected;
};

TEST(ElapsedUsec, CountsMillisecondsAcrossAndWithinSeconds) {
    const ElapsedCase cases[] = {
        {{100, 200}, {100, 200}, 0},       {{100, 200}, {100, 201}, 1000},
        {{100, 999}, {101, 0}, 1000},      // across a second boundary
        {{100, 0}, {102, 500}, 2'500'000}, // whole seconds plus milliseconds
        {{100, 500}, {101, 400}, 900'000}, // later second, smaller milliseconds
        {{100, 500}, {100, 400}, 0},       // clock stepped back within a second
        {{101, 500}, {100, 600}, 100'000}, // stepped back a second: only ms compared
    };
    for (const ElapsedCase& c : cases) {
        EXPECT_EQ(elapsed_usec(c.a, c.b), c.expected)
            << c.a.seconds << "." << c.a.milliseconds << " -> " << c.b.seconds << "."
            << c.b.milliseconds;
    }
}

TEST(PacketTimestamp, IsUtcWithCommasAndThreeDigitMilliseconds) {
    // 2014-06-04 20:25:26 UTC
    EXPECT_EQ(packet_timestamp({1401913526, 7}), "2014,06,04,20,25,26.007,");
    EXPECT_EQ(packet_timestamp({0, 0}), "1970,01,01,00,00,00.000,");
    EXPECT_EQ(packet_timestamp({1401913526, 999}), "2014,06,04,20,25,26.999,");
}

TEST(PacketTimestamp, IgnoresTheLocalTimeZone) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved != nullptr ? saved : "";
    setenv("TZ", "America/Denver", 1);
    tzset();
    const std::string stamp = packet_timestamp({1401913526, 7});
    if (saved != nullptr) {
        setenv("TZ", previous.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    EXPECT_EQ(stamp, "2014,06,04,20,25,26.007,");
}

} // namespace
} // namespace quorvel
