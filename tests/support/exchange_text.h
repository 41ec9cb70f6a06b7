// Exchange-file records made up for tests: N records around a given
// application packet, P records with given block results, and the content
// of an exchange file that holds them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace harness {

// "00 01 F4" -> "00,01,F4".
inline std::string byte_fields(const std::string& hex) {
    std::istringstream in(hex);
    std::string out;
    for (std::string pair; in >> pair;) {
        out += (out.empty() ? "" : ",") + pair;
    }
    return out;
}

// An N record whose six time fields are `time_fields` carrying the
// application packet `payload` (hex pairs, header byte first).
inline std::string n_record_timed(const std::string& time_fields, const std::string& payload,
                                  int payload_kind, const std::string& source,
                                  const std::vector<int>& path) {
    const std::string bytes = byte_fields(payload);
    const std::size_t length = (bytes.size() + 1) / 3;
    std::string record = "N," + time_fields + ",0,0,0," + (path.empty() ? "0" : "1") + ",0," +
                         std::to_string(payload_kind) + ",0,0,0,3," + std::to_string(length) + "," +
                         source;
    if (!path.empty()) {
        record += "," + std::to_string(path.size());
        for (const int address : path) {
            record += "," + std::to_string(address);
        }
    }
    return record + "," + bytes;
}

// An N record received on 2015-05-03 at 14:07 and `seconds` UTC.
inline std::string n_record(const std::string& payload, int payload_kind = 0,
                            const std::string& source = "1234", const std::vector<int>& path = {},
                            const std::string& seconds = "9.2500") {
    return n_record_timed("2015,05,03,14,07," + seconds, payload, payload_kind, source, path);
}

// The six time fields of a record received at `millis` since 1970 UTC; the
// seconds as N records write them ("9.2500") or as P records do ("09.250").
inline std::string time_fields(std::int64_t millis, bool p_record) {
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm t{};
    ::gmtime_r(&seconds, &t);
    char text[64];
    std::snprintf(text, sizeof text,
                  p_record ? "%04d,%02d,%02d,%02d,%02d,%02d.%03d"
                           : "%04d,%02d,%02d,%02d,%02d,%d.%03d0",
                  t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(millis % 1000));
    return text;
}

// An N record from `source` received at `millis` since 1970 UTC.
inline std::string n_record_at(std::int64_t millis, const std::string& payload,
                               const std::string& source = "1234", int payload_kind = 0) {
    return n_record_timed(time_fields(millis, false), payload, payload_kind, source, {});
}

// A P record whose six time fields are `time_fields`, with one block group
// per entry of `blocks` (length, Reed-Solomon result) holding zero bytes, and
// timing fields for one block or more.
inline std::string p_record_timed(const std::string& time_fields,
                                  const std::vector<std::pair<int, int>>& blocks) {
    std::string record = "P,0," + time_fields + ",20";
    for (const auto& [length, result] : blocks) {
        record += "," + std::to_string(length);
        for (int i = 0; i < length; ++i) {
            record += ",00";
        }
        record += "," + std::to_string(result);
    }
    return record + (blocks.size() > 1 ? ",1000,2000" : ",1000");
}

// A P record received on 2015-05-03 at 14:07 and `seconds` UTC.
inline std::string p_record(const std::string& seconds,
                            const std::vector<std::pair<int, int>>& blocks) {
    return p_record_timed("2015,05,03,14,07," + seconds, blocks);
}

// A P record received at `millis` since 1970 UTC.
inline std::string p_record_at(std::int64_t millis,
                               const std::vector<std::pair<int, int>>& blocks) {
    return p_record_timed(time_fields(millis, true), blocks);
}

// Hex pairs of value's low `bytes` bytes, most significant first.
inline std::string hex_bytes(unsigned value, int bytes) {
    std::string hex;
    for (int i = bytes - 1; i >= 0; --i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", (value >> (8 * i)) & 0xFF);
        hex += pair;
    }
    return hex;
}

// An application packet (payload kind 0, no time stamp) with one rain report:
// sensor, a two-byte unsigned accumulator and tips `tip_ages` seconds before
// the report; the test flag when asked.
inline std::string rain_payload(int sensor, unsigned value, const std::vector<int>& tip_ages = {},
                                bool test = false) {
    std::string body = hex_bytes(static_cast<unsigned>(sensor), 1) + "12 " + hex_bytes(value, 2);
    for (const int age : tip_ages) {
        body += hex_bytes(static_cast<unsigned>(age), 1);
    }
    return std::string(test ? "08 " : "00 ") + "02 " + hex_bytes(4 + tip_ages.size(), 1) + body;
}

// An application packet with one general sensor report of a two-byte
// unsigned value.
inline std::string gsr_payload(int sensor, unsigned value) {
    return "00 01 04 " + hex_bytes(static_cast<unsigned>(sensor), 1) + "12 " + hex_bytes(value, 2);
}

// Exchange-file content: every record ended by CR CR LF.
inline std::string exchange_content(const std::vector<std::string>& records) {
    std::string content;
    for (const std::string& record : records) {
        content += record + "\r\r\n";
    }
    return content;
}

} // namespace harness
