// The display's date-time: a double counting days since 1899-12-30 00:00, the
// time of day as the fraction (adding h / 24 adds h hours); and the number
// conversions the display uses. Text is always written with "." as decimal
// separator, whatever the locale: a "," would break the comma-separated logs.
#pragma once

#include <string>

namespace veltaro {

using DateTime = double;

// Days from calendar parts; out-of-range months, days, hours, minutes and
// seconds carry over as in calendar arithmetic (second 60 is the next minute).
DateTime MakeDateTime(long year, long month, long day, long hour, long minute, long second);

// The current moment, UTC.
DateTime NowUtc();

// "MM/dd/yyyy  hh:mm:ss" (two blanks), rounded to the nearest second.
std::string FormatDateTime(DateTime value);
// The same text appended to out, without a string of its own.
void AppendDateTime(std::string& out, DateTime value);

// Whole seconds since 1899-12-30 of a date-time, rounded to the nearest second.
long long ToWholeSeconds(DateTime value);
DateTime FromWholeSeconds(long long seconds);
// Whole seconds since 1970-01-01 00:00, rounded to the nearest second.
long long ToUnixSeconds(DateTime value);

// a / b rounded towards minus infinity (b > 0): whole days or half days of a
// count of seconds, also before 1899-12-30.
long long FloorDiv(long long a, long long b);

// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double RoundHalfEven(double value);

// value rounded to the given number of decimal places, halves to even.
double RoundToPlaces(double value, int places);

// The general number form: at most 15 significant digits, no trailing zeros,
// no decimal point for whole values, exponent form from 1E+15 up and below
// 1E-04 (for example 12.5, -0.125, 3, 0, 1E+20).
std::string GeneralNumber(double value);

} // namespace veltaro
