#include "display/data/numbers.h"

#include <charconv>

namespace veltaro::data {

namespace {

double ReadBack(const char* first, const char* last) {
    double value = 0;
    std::from_chars(first, last, value);
    return value;
}

} // namespace

std::optional<long long> WholeNumber(std::string_view text) {
    long long value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

double ShortestDecimal(float value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return ReadBack(text, result.ptr);
}

double RoundSignificant(double value, int digits) {
    char text[40];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
    return ReadBack(text, result.ptr);
}

std::string NumberText(double value) {
    char text[40];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace veltaro::data
