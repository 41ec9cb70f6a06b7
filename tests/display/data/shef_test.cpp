// SHEF text: values as the forecast office's decoder reads them, and
// messages kept to 80-character lines.
#include "display/data/shef.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

namespace veltaro::data {
namespace {

constexpr std::int64_t kT0 = 1430661600; // 2015-05-03T14:00:00Z

TEST(ShefText, ValuesHaveAPointTheDigitsTheyCarryAndNoExponent) {
    const std::pair<std::optional<double>, std::string> cases[] = {
        {42, "42."},
        {0, "0."},
        {0.42, "0.42"},
        {12.6, "12.6"},
        {-1.5, "-1.5"},
        {3.0000000000000004, "3."},
        {0.1 + 0.2, "0.3"},
        {1e-5, "0.00001"},
        {1e-12, "0."}, // beyond 10 decimals
        {1e-300, "0."},
        {-1e-12, "0."}, // "-0." would read as missing
        {0.12345678901234, "0.123456789"},
        {1e20, "M"}, // more than 10 digits before the point
        {9999999999.5, "9999999999.5"},
        {std::nullopt, "M"},
        {std::numeric_limits<double>::infinity(), "M"},
        {std::nan(""), "M"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(ShefValue(value), text) << (value ? std::to_string(*value) : "none");
    }
}

TEST(ShefText, LongMessagesGoOnNumberedContinuationLines) {
    ShefMessage message;
    message.revision = true;
    message.location = "ABCDEFGH";
    message.date = kT0 + 15 * 60 + 9;
    message.elements = {ShefTimeElement(message.date, true), "DUS"};
    for (int i = 0; i < 12; ++i) {
        message.elements.push_back("HGIR" + std::to_string(i % 10) + "ZZ " +
                                   ShefValue(1234567.25 + i));
    }
    std::string elements;
    for (const std::string& element : message.elements) {
        elements += (elements.empty() ? "" : "/") + element;
    }
    // Each line break stands for the "/" between two elements.
    std::istringstream lines(ShefLines(message));
    std::string joined;
    int number = 0;
    for (std::string line; std::getline(lines, line); ++number) {
        const std::string start =
            number == 0 ? ".AR ABCDEFGH 20150503 Z " : ".A" + std::to_string(number) + " ";
        EXPECT_LE(line.size(), 80u) << line;
        ASSERT_TRUE(line.starts_with(start)) << line;
        joined += (number == 0 ? "" : "/") + line.substr(start.size());
    }
    EXPECT_GE(number, 3);
    EXPECT_TRUE(elements.starts_with("DH141509/DUS/HGIR0ZZ 1234567.25/")) << elements;
    EXPECT_EQ(joined, elements);
}

} // namespace
} // namespace veltaro::data
