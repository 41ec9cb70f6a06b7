#include "display/decoding/datetime.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>

namespace veltaro {

namespace {

constexpr long long kSecondsPerDay = 86400;
// 1899-12-30 is 25569 days before 1970-01-01.
constexpr long long kEpochOffsetDays = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = FloorDiv(y, 400);
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct Civil {
    long long year;
    unsigned month;
    unsigned day;
};

Civil CivilFromDays(long long z) {
    z += 719468;
    const long long era = FloorDiv(z, 146097);
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

// Writes value as exactly `width` decimal digits, zero-padded.
void PutDigits(char* at, int width, unsigned value) {
    for (int i = width - 1; i >= 0; --i) {
        at[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

void AppendUncached(std::string& out, DateTime value) {
    const long long total = ToWholeSeconds(value);
    const long long days = FloorDiv(total, kSecondsPerDay);
    const long long rest = total - days * kSecondsPerDay;
    const Civil c = CivilFromDays(days - kEpochOffsetDays);
    if (c.year >= 0 && c.year <= 9999) {
        // The common case without printf: every report line carries a time.
        char text[] = "MM/dd/yyyy  hh:mm:ss";
        PutDigits(text, 2, c.month);
        PutDigits(text + 3, 2, c.day);
        PutDigits(text + 6, 4, static_cast<unsigned>(c.year));
        PutDigits(text + 12, 2, static_cast<unsigned>(rest / 3600));
        PutDigits(text + 15, 2, static_cast<unsigned>(rest / 60 % 60));
        PutDigits(text + 18, 2, static_cast<unsigned>(rest % 60));
        out.append(text, sizeof text - 1);
        return;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%02u/%02u/%04lld  %02lld:%02lld:%02lld", c.month, c.day,
                  c.year, rest / 3600, rest / 60 % 60, rest % 60);
    out += text;
}

} // namespace

long long FloorDiv(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

DateTime MakeDateTime(long year, long month, long day, long hour, long minute, long second) {
    const long long months = static_cast<long long>(year) * 12 + (month - 1);
    const long long y = FloorDiv(months, 12);
    const unsigned m = static_cast<unsigned>(months - y * 12) + 1;
    const long long days = DaysFromCivil(y, m, 1) + (day - 1) + kEpochOffsetDays;
    const long long seconds = static_cast<long long>(hour) * 3600 + minute * 60LL + second;
    return FromWholeSeconds(days * kSecondsPerDay + seconds);
}

DateTime NowUtc() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<double>(ms) / (1000.0 * kSecondsPerDay) + kEpochOffsetDays;
}

long long ToWholeSeconds(DateTime value) {
    return static_cast<long long>(RoundHalfEven(value * kSecondsPerDay));
}

long long ToUnixSeconds(DateTime value) {
    return ToWholeSeconds(value) - kEpochOffsetDays * kSecondsPerDay;
}

DateTime FromWholeSeconds(long long seconds) {
    const long long days = FloorDiv(seconds, kSecondsPerDay);
    const long long rest = seconds - days * kSecondsPerDay;
    return static_cast<double>(days) + static_cast<double>(rest) / kSecondsPerDay;
}

void AppendDateTime(std::string& out, DateTime value) {
    const long long total = ToWholeSeconds(value);
    const long long days = FloorDiv(total, kSecondsPerDay);
    const long long rest = total - days * kSecondsPerDay;
    // The report lines of a cycle mostly share their day: keep its text.
    thread_local long long cached_days = LLONG_MIN;
    thread_local std::array<char, 10> cached_date{};
    thread_local bool cached_plain = false;
    if (days != cached_days) {
        const Civil c = CivilFromDays(days - kEpochOffsetDays);
        cached_plain = c.year >= 0 && c.year <= 9999;
        if (cached_plain) {
            PutDigits(cached_date.data(), 2, c.month);
            cached_date[2] = '/';
            PutDigits(cached_date.data() + 3, 2, c.day);
            cached_date[5] = '/';
            PutDigits(cached_date.data() + 6, 4, static_cast<unsigned>(c.year));
        }
        cached_days = days;
    }
    if (!cached_plain) {
        AppendUncached(out, value);
        return;
    }
    char text[] = "MM/dd/yyyy  hh:mm:ss";
    std::copy(cached_date.begin(), cached_date.end(), text);
    PutDigits(text + 12, 2, static_cast<unsigned>(rest / 3600));
    PutDigits(text + 15, 2, static_cast<unsigned>(rest / 60 % 60));
    PutDigits(text + 18, 2, static_cast<unsigned>(rest % 60));
    out.append(text, sizeof text - 1);
}

std::string FormatDateTime(DateTime value) {
    std::string text;
    AppendDateTime(text, value);
    return text;
}

double RoundHalfEven(double value) {
    // The default floating-point rounding mode rounds halves to even.
    return std::nearbyint(value);
}

double RoundToPlaces(double value, int places) {
    const double scale = std::pow(10.0, places);
    return RoundHalfEven(value * scale) / scale;
}

std::string GeneralNumber(double value) {
    if (value == 0) {
        return "0"; // also for -0
    }
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    std::string out(text, result.ptr);
    for (char& c : out) {
        if (c == 'e') {
            c = 'E';
        }
    }
    return out;
}

} // namespace veltaro
