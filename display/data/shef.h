// SHEF (Standard Hydrometeorological Exchange Format) .A messages, as the
// forecast office's decoder reads them: location ids, seven-letter parameter
// codes, values, and lines of at most 80 characters.
//
//   .A ABCD1 20240115 Z DH141509/PCIRRZZ 12.34
//   .A ABCD1 20240115 Z DH1500/DUS/PPHRRZZ 3.2
//
// Times are always UTC ("Z") with the full date, so that nothing depends on
// the receiving decoder's clock or on daylight-saving rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltaro::data {

// 3 to 8 characters, each A-Z, 0-9 or _.
bool IsShefLocationId(std::string_view id);

// Why a seven-letter parameter code (PEDTSEP) cannot be sent, or nothing
// when it can. The text follows the code in a message.
std::optional<std::string> ShefCodeProblem(std::string_view code);

// PC (accumulator) and PP (increment) values: a value without a decimal
// point would be read as hundredths, and only inches or millimetres are
// understood.
bool IsShefPrecipitation(std::string_view code);

// Units a precipitation value can be sent in: inches (also when empty) or
// millimetres.
bool IsShefRainUnits(std::string_view units);

// Units whose values go after "DUS": the decoder reads these as SI and
// converts them (mm, m, degrees Celsius); anything else is read as the
// code's English unit.
bool IsShefSiUnits(std::string_view units);

// A value as a decimal with a point, rounded to 10 decimals without the
// trailing zeros, never in exponent form ("42.", "0.42", "-1.5"); "M"
// (missing) for none and for what has more than 10 digits before the point.
std::string ShefValue(std::optional<double> value);

// One .A message: its positional fields and data elements ("DH141509",
// "DUS", "PCIRRZZ 0.42").
struct ShefMessage {
    bool revision = false; // .AR: replaces a value sent before
    std::string location;
    std::int64_t date = 0; // seconds since 1970-01-01 UTC; only the day counts
    std::vector<std::string> elements;
};

// "DH141509" (with seconds) or "DH1415" for a time in seconds since 1970 UTC.
std::string ShefTimeElement(std::int64_t time, bool seconds);

// The message as LF-ended lines of at most 80 characters: elements that do
// not fit go on continuation lines .A1, .A2 ..., never split.
std::string ShefLines(const ShefMessage& message);

// The one comment a SHEF text has, its first line: ": <program> <version>".
std::string ShefHeader(std::string_view program);

} // namespace veltaro::data
