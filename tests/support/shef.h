// A small, strict SHEF .A reader for checking what the programs write:
// positional fields, continuation lines, DH and DUS elements, parameter
// codes, values with their decimal point. It takes only the forms the writers
// promise: LF line ends, lines of at most 80 characters, the date as ccyymmdd
// in zone Z, full seven-character codes, M for missing, a ":" comment only as
// the first line. Anything else throws, naming the line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace harness {

struct ShefObservation {
    std::string location;
    std::int64_t time = 0;       // seconds since 1970-01-01 UTC
    std::string code;            // e.g. PCIRRZZ
    std::optional<double> value; // none: missing (M)
    bool si = false;             // after DUS: mm, m, degrees Celsius
    bool revision = false;       // .AR
};

namespace shef_detail {

inline bool is_digits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

inline int number(std::string_view digits) {
    return std::stoi(std::string(digits));
}

// What a .A line and its continuations set for the values that follow.
struct State {
    std::string location;
    std::chrono::sys_days day{};
    int seconds_of_day = 12 * 3600; // no DH: 12:00
    bool si = false;
    bool revision = false;
};

class Reader {
public:
    std::vector<ShefObservation> Read(const std::string& text) {
        if (text.find('\r') != std::string::npos) {
            throw std::runtime_error("a CR in SHEF text (lines end with LF)");
        }
        if (!text.empty() && text.back() != '\n') {
            throw std::runtime_error("the last line has no LF");
        }
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            ++line_number_;
            try {
                ReadLine(line);
            } catch (const std::exception& error) {
                throw std::runtime_error("SHEF line " + std::to_string(line_number_) + " \"" +
                                         line + "\": " + error.what());
            }
        }
        return std::move(observations_);
    }

private:
    void ReadLine(const std::string& line) {
        if (line.size() > 80) {
            throw std::runtime_error("longer than 80 characters");
        }
        if (line.starts_with(":")) {
            if (line_number_ != 1) {
                throw std::runtime_error("a comment after the first line");
            }
            return;
        }
        if (line.find(':') != std::string::npos) {
            throw std::runtime_error("a comment inside a line");
        }
        const std::size_t blank = line.find(' ');
        const std::string format = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (format == ".A" || format == ".AR") {
            state_ = State();
            state_.revision = format == ".AR";
            continuation_ = 0;
            ReadData(ReadPositional(rest), true);
        } else if (format.size() > 2 && format.starts_with(".A") && is_digits(format.substr(2))) {
            if (!have_message_ || number(format.substr(2)) != continuation_ + 1) {
                throw std::runtime_error("a continuation out of sequence");
            }
            ++continuation_;
            ReadData(rest, false);
        } else {
            throw std::runtime_error("not a .A line");
        }
    }

    // LOCID DATE [Z], leaving the data string.
    std::string ReadPositional(const std::string& text) {
        std::istringstream in(text);
        std::string date;
        in >> state_.location >> date;
        const bool id_ok = state_.location.size() >= 3 && state_.location.size() <= 8 &&
                           state_.location.find_first_not_of(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") == std::string::npos;
        if (!id_ok) {
            throw std::runtime_error("bad location id \"" + state_.location + "\"");
        }
        if (date.size() != 8 || !is_digits(date) || number(date.substr(0, 2)) < 17 ||
            number(date.substr(0, 2)) > 21) {
            throw std::runtime_error("the date is not ccyymmdd: \"" + date + "\"");
        }
        const std::chrono::year_month_day ymd{std::chrono::year(number(date.substr(0, 4))),
                                              std::chrono::month(number(date.substr(4, 2))),
                                              std::chrono::day(number(date.substr(6, 2)))};
        if (!ymd.ok()) {
            throw std::runtime_error("no such date " + date);
        }
        state_.day = std::chrono::sys_days(ymd);
        std::string rest;
        std::getline(in >> std::ws, rest);
        if (!rest.starts_with("Z ")) {
            throw std::runtime_error("no time zone Z after the date");
        }
        have_message_ = true;
        return rest.substr(2);
    }

    void ReadData(const std::string& data, bool first_line) {
        if (first_line && !data.starts_with("D") && !data.starts_with("/")) {
            throw std::runtime_error("the data string starts with a parameter code");
        }
        std::size_t start = 0;
        while (start <= data.size()) {
            const std::size_t slash = std::min(data.find('/', start), data.size());
            std::string element = data.substr(start, slash - start);
            element.erase(0, element.find_first_not_of(' '));
            element.erase(element.find_last_not_of(' ') + 1);
            if (!element.empty()) {
                ReadElement(element);
            } else if (slash != 0 && slash != data.size()) {
                throw std::runtime_error("an empty field");
            }
            start = slash + 1;
        }
    }

    void ReadElement(const std::string& element) {
        if (element == "DUS") {
            state_.si = true;
        } else if (element.starts_with("DH")) {
            ReadHour(element.substr(2));
        } else if (element.starts_with("D")) {
            throw std::runtime_error("a D element this reader does not take: " + element);
        } else {
            ReadValue(element);
        }
    }

    void ReadHour(const std::string& digits) {
        if (!is_digits(digits) ||
            (digits.size() != 2 && digits.size() != 4 && digits.size() != 6)) {
            throw std::runtime_error("DH needs hh, hhnn or hhnnss");
        }
        const int hh = number(digits.substr(0, 2));
        const int nn = digits.size() >= 4 ? number(digits.substr(2, 2)) : 0;
        const int ss = digits.size() == 6 ? number(digits.substr(4, 2)) : 0;
        if (hh > 24 || nn > 59 || ss > 59 || (hh == 24 && (nn != 0 || ss != 0))) {
            throw std::runtime_error("no such time DH" + digits);
        }
        state_.seconds_of_day = hh * 3600 + nn * 60 + ss;
    }

    void ReadValue(const std::string& element) {
        const std::size_t blank = element.find(' ');
        if (blank == std::string::npos) {
            throw std::runtime_error("no blank between code and value: " + element);
        }
        ShefObservation observation;
        observation.code = Code(element.substr(0, blank));
        observation.value =
            Value(element.substr(element.find_first_not_of(' ', blank)),
                  observation.code.starts_with("PC") || observation.code.starts_with("PP"));
        observation.location = state_.location;
        observation.time = state_.day.time_since_epoch().count() * 86400LL + state_.seconds_of_day;
        observation.si = state_.si;
        observation.revision = state_.revision;
        observations_.push_back(observation);
    }

    // All seven characters, as the writers write them; which codes are
    // sound is the registry's check.
    static std::string Code(const std::string& code) {
        if (code.size() != 7 ||
            code.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") != std::string::npos) {
            throw std::runtime_error("bad parameter code " + code);
        }
        return code;
    }

    // A decimal without exponent, at most 10 digits either side of the
    // point; PC and PP values need the point (else they are hundredths).
    static std::optional<double> Value(const std::string& text, bool precipitation) {
        if (text == "M") {
            return std::nullopt;
        }
        const std::string digits = text.substr(text.starts_with("-") ? 1 : 0);
        const std::size_t point = digits.find('.');
        const std::string whole = digits.substr(0, point);
        const std::string fraction = point == std::string::npos ? "" : digits.substr(point + 1);
        const bool good =
            (whole.empty() || is_digits(whole)) && (fraction.empty() || is_digits(fraction)) &&
            !(whole.empty() && fraction.empty()) && whole.size() <= 10 && fraction.size() <= 10;
        if (!good) {
            throw std::runtime_error("bad value \"" + text + "\"");
        }
        if (precipitation && point == std::string::npos) {
            throw std::runtime_error("a rain value without a decimal point: " + text);
        }
        return std::stod(text);
    }

    std::vector<ShefObservation> observations_;
    State state_;
    int line_number_ = 0;
    int continuation_ = 0;
    bool have_message_ = false;
};

} // namespace shef_detail

// Every value of the text, in order.
inline std::vector<ShefObservation> parse_shef(const std::string& text) {
    return shef_detail::Reader().Read(text);
}

} // namespace harness
