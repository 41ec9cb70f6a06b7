// Exchange-file records made up for tests: N records around a given
// application packet, P records with given block results, and the content
// of an exchange file that holds them.
#pragma once

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

// An N record received on 2015-05-03 at 14:07 and `seconds` UTC carrying
// the application packet `payload` (hex pairs, header byte first).
inline std::string n_record(const std::string& payload, int payload_kind = 0,
                            const std::string& source = "1234", const std::vector<int>& path = {},
                            const std::string& seconds = "9.2500") {
    const std::string bytes = byte_fields(payload);
    const std::size_t length = (bytes.size() + 1) / 3;
    std::string record = "N,2015,05,03,14,07," + seconds + ",0,0,0," + (path.empty() ? "0" : "1") +
                         ",0," + std::to_string(payload_kind) + ",0,0,0,3," +
                         std::to_string(length) + "," + source;
    if (!path.empty()) {
        record += "," + std::to_string(path.size());
        for (const int address : path) {
            record += "," + std::to_string(address);
        }
    }
    return record + "," + bytes;
}

// A P record received on 2015-05-03 at 14:07 and `seconds` UTC, with one
// block group per entry of `blocks` (length, Reed-Solomon result) holding
// zero bytes, and timing fields for one block or more.
inline std::string p_record(const std::string& seconds,
                            const std::vector<std::pair<int, int>>& blocks) {
    std::string record = "P,0,2015,05,03,14,07," + seconds + ",20";
    for (const auto& [length, result] : blocks) {
        record += "," + std::to_string(length);
        for (int i = 0; i < length; ++i) {
            record += ",00";
        }
        record += "," + std::to_string(result);
    }
    return record + (blocks.size() > 1 ? ",1000,2000" : ",1000");
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
