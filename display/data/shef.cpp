#include "display/data/shef.h"

#include "display/data/utc_time.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace veltaro::data {

namespace {

constexpr std::size_t kMaxLine = 80;
constexpr int kMaxDecimals = 10;
constexpr double kTooLarge = 1e10; // 11 digits before the point

constexpr std::string_view kDurations = "IUEGCJHBTFQAKLDWNMYPVSRXZ";
// Codes that stand alone for a whole parameter code and take no more letters.
constexpr std::array<std::string_view, 10> kSendCodes{"HN", "HX", "HY", "PF", "PY",
                                                      "QN", "QX", "QY", "TN", "TX"};

bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return IsUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Letters everywhere; digits only in the type, source and probability.
std::optional<std::string> CharacterProblem(std::string_view code) {
    for (std::size_t i = 0; i < code.size(); ++i) {
        const bool digit_allowed = i == 3 || i == 4 || i == 6;
        if (!IsUpper(code[i]) && !(digit_allowed && IsDigit(code[i]))) {
            return "has \"" + std::string(1, code[i]) + "\" in place " + std::to_string(i + 1) +
                   " (letters A-Z; digits only in places 4, 5 and 7)";
        }
    }
    return std::nullopt;
}

// Rounded to kMaxDecimals decimals without the trailing zeros: the digits
// the value carries ("0.42", not "0.4199999999999999845"), and the point.
std::string FixedText(double value) {
    char text[32]; // a sign, 10 digits, the point and 10 decimals
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, kMaxDecimals).ptr;
    std::string_view written(text, static_cast<std::size_t>(end - text));
    while (written.back() == '0') {
        written.remove_suffix(1);
    }
    return std::string(written);
}

} // namespace

bool IsShefLocationId(std::string_view id) {
    if (id.size() < 3 || id.size() > 8) {
        return false;
    }
    for (const char c : id) {
        if (!IsUpper(c) && !IsDigit(c) && c != '_') {
            return false;
        }
    }
    return true;
}

std::optional<std::string> ShefCodeProblem(std::string_view code) {
    if (code.size() != 7) {
        return "is not 7 characters";
    }
    if (auto problem = CharacterProblem(code)) {
        return problem;
    }
    const std::string_view element = code.substr(0, 2);
    for (const std::string_view send : kSendCodes) {
        if (element == send) {
            return "starts with " + std::string(send) + ", which takes no further letters";
        }
    }
    if (kDurations.find(code[2]) == std::string_view::npos) {
        return "has no duration " + std::string(1, code[2]);
    }
    if (code[2] == 'V') {
        return "has the variable duration V, which needs a DV element";
    }
    if (code[3] == 'Z' && code[4] != 'Z') {
        return "has type Z, which needs source Z";
    }
    if (code[3] == 'R' && code[4] >= 'A' && code[4] <= 'D') {
        return "has type and source R" + std::string(1, code[4]) + ", which are never sent";
    }
    return std::nullopt;
}

bool IsShefPrecipitation(std::string_view code) {
    return code.starts_with("PC") || code.starts_with("PP");
}

bool IsShefRainUnits(std::string_view units) {
    return units.empty() || EqualsIgnoringCase(units, "in") || EqualsIgnoringCase(units, "mm");
}

bool IsShefSiUnits(std::string_view units) {
    for (const std::string_view si : {"mm", "m", "degC", "\u00B0C"}) {
        if (EqualsIgnoringCase(units, si)) {
            return true;
        }
    }
    return false;
}

std::string ShefValue(std::optional<double> value) {
    if (!value || !(std::fabs(*value) < kTooLarge)) {
        return "M";
    }
    const std::string text = FixedText(*value);
    // A negative value rounded to nothing is a zero; "-" alone means missing.
    if (text.find_first_not_of("-0.") == std::string::npos) {
        return "0.";
    }
    return text;
}

std::string ShefTimeElement(std::int64_t time, bool seconds) {
    const std::string iso = IsoSeconds(time); // 2015-05-03T14:07:09Z
    return "DH" + iso.substr(11, 2) + iso.substr(14, 2) + (seconds ? iso.substr(17, 2) : "");
}

std::string ShefLines(const ShefMessage& message) {
    const std::string iso = IsoSeconds(message.date);
    std::string line = (message.revision ? ".AR " : ".A ") + message.location + ' ' +
                       iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2) + " Z ";
    std::string text;
    bool first = true;
    int continuation = 0;
    for (const std::string& element : message.elements) {
        // A line break stands for the "/" between two elements.
        if (!first && line.size() + 1 + element.size() > kMaxLine) {
            text += line + '\n';
            line = ".A" + std::to_string(++continuation) + ' ';
            first = true;
        }
        line += (first ? "" : "/") + element;
        first = false;
    }
    return text + line + '\n';
}

std::string ShefHeader(std::string_view program) {
    return ": " + std::string(program) + ' ' + VELTARO_VERSION + '\n';
}

} // namespace veltaro::data
