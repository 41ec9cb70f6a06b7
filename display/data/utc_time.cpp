#include "display/data/utc_time.h"

#include "display/decoding/datetime.h"
#include "display/decoding/procedures.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>

namespace veltaro::data {

namespace {

// Calendar date and time of day of a count of seconds since 1970.
struct Civil {
    long long year;
    unsigned month;
    unsigned day;
    long long second_of_day;
};

Civil CivilOf(std::int64_t seconds) {
    using namespace std::chrono;
    const auto day = floor<days>(sys_seconds(std::chrono::seconds(seconds)));
    const year_month_day date(day);
    return {static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
            static_cast<unsigned>(date.day()),
            seconds - static_cast<std::int64_t>(day.time_since_epoch().count()) * 86400};
}

std::string Iso(std::int64_t seconds, const char* fraction) {
    const Civil c = CivilOf(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld%sZ", c.year, c.month,
                  c.day, c.second_of_day / 3600, c.second_of_day / 60 % 60, c.second_of_day % 60,
                  fraction);
    return text;
}

// A field read as the display reads number fields, in thousandths; none
// when it is beyond any date.
std::optional<std::int64_t> Thousandths(std::string_view field) {
    // Plain digits with a fraction (all the decoder writes): read exactly.
    const std::size_t point = std::min(field.find('.'), field.size());
    std::int64_t whole = 0;
    const auto result = std::from_chars(field.data(), field.data() + point, whole);
    const std::string_view fraction = field.substr(std::min(point + 1, field.size()));
    if (point > 0 && result.ec == std::errc() && result.ptr == field.data() + point && whole >= 0 &&
        whole < 1000000000 && fraction.find_first_not_of("0123456789") == std::string_view::npos) {
        std::int64_t thousandths = whole * 1000;
        for (std::size_t i = 0, scale = 100; i < 3 && i < fraction.size(); ++i, scale /= 10) {
            thousandths += (fraction[i] - '0') * static_cast<std::int64_t>(scale);
        }
        return thousandths + (fraction.size() > 3 && fraction[3] >= '5' ? 1 : 0);
    }
    try {
        const double value = LeadingNumber(field);
        if (std::fabs(value) > 1e9) {
            return std::nullopt;
        }
        return std::llround(value * 1000);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The number of `count` digits at text[at], or -1.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    if (count == 0 || at + count > text.size()) {
        return -1;
    }
    const char* first = text.data() + at;
    const auto result = std::from_chars(first, first + count, value);
    return result.ec == std::errc() && result.ptr == first + count && *first != '-' ? value : -1;
}

} // namespace

std::optional<std::int64_t> ParseIsoMillis(std::string_view text) {
    using namespace std::chrono;
    // "YYYY-MM-DDTHH:MM:SS", then an optional fraction, then "Z".
    constexpr std::string_view kShape = "0000-00-00T00:00:00";
    if (text.size() < kShape.size() + 1 || text.back() != 'Z') {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        if ((kShape[i] == '0') != (std::isdigit(static_cast<unsigned char>(text[i])) != 0) ||
            (kShape[i] != '0' && kShape[i] != text[i])) {
            return std::nullopt;
        }
    }
    const std::string_view fraction = text.substr(kShape.size(), text.size() - kShape.size() - 1);
    int millis = 0;
    if (!fraction.empty()) {
        if (fraction[0] != '.' || fraction.size() < 2 || fraction.size() > 4) {
            return std::nullopt;
        }
        const int digits = Digits(fraction, 1, fraction.size() - 1);
        if (digits < 0) {
            return std::nullopt;
        }
        millis = digits * (fraction.size() == 2 ? 100 : fraction.size() == 3 ? 10 : 1);
    }
    const year_month_day date{year(Digits(text, 0, 4)), month(Digits(text, 5, 2)),
                              day(Digits(text, 8, 2))};
    const int hour = Digits(text, 11, 2);
    const int minute = Digits(text, 14, 2);
    const int second = Digits(text, 17, 2);
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const std::int64_t seconds = sys_days(date).time_since_epoch().count() * std::int64_t{86400} +
                                 hour * 3600 + minute * 60 + second;
    return seconds * 1000 + millis;
}

std::string IsoSeconds(std::int64_t seconds) {
    return Iso(seconds, "");
}

std::string IsoMillis(std::int64_t millis) {
    const std::int64_t seconds = (millis >= 0 ? millis : millis - 999) / 1000;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03lld",
                  static_cast<long long>(millis - seconds * 1000));
    return Iso(seconds, fraction);
}

std::optional<std::int64_t> ReceiveMillis(std::string_view record, std::size_t year_field) {
    std::array<std::int64_t, 6> parts{}; // in thousandths
    std::size_t start = 0;
    for (std::size_t field = 0; field < year_field + parts.size(); ++field) {
        const std::size_t comma = record.find(',', start);
        if (field >= year_field) {
            const auto number = Thousandths(record.substr(start, comma - start));
            if (!number) {
                return std::nullopt;
            }
            parts[field - year_field] = *number;
        }
        if (comma == std::string_view::npos) {
            if (field + 1 < year_field + parts.size()) {
                return std::nullopt;
            }
            break;
        }
        start = comma + 1;
    }
    const auto whole = [&](std::size_t i) {
        return static_cast<long>(RoundHalfEven(static_cast<double>(parts[i]) / 1000));
    };
    const DateTime minute = MakeDateTime(whole(0), whole(1), whole(2), whole(3), whole(4), 0);
    return ToUnixSeconds(minute) * 1000 + parts[5];
}

} // namespace veltaro::data
