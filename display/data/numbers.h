// Numbers as the data layer reads and writes them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltaro::data {

// A decimal integer that is the whole text (an optional "-" sign, digits).
std::optional<long long> WholeNumber(std::string_view text);

// The shortest decimal that reads back as this single, as a double: a
// float sent as 0.1 is 0.1, not 0.100000001490116.
double ShortestDecimal(float value);

// value rounded to `digits` significant digits, so that a product such as
// 42 x 0.01 reads 0.42 rather than 0.42000000000000004.
double RoundSignificant(double value, int digits);

// The shortest text that reads back as value ("0.1", "42", "1e+20").
std::string NumberText(double value);

} // namespace veltaro::data
