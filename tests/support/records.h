// Exchange-file records as the tests compare them with the simulator's
// expectations, which write timestamps as "T" and P-record timings as "U".
#pragma once

#include "tests/support/harness.h"

#include <string>
#include <vector>

namespace harness {

// The comma-separated fields of a record; a trailing comma gives an empty last field.
inline std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

inline std::string join_fields(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        line += (i == 0 ? "" : ",") + fields[i];
    }
    return line;
}

inline std::string mask_record(const std::string& line) {
    std::vector<std::string> f = split_fields(line);
    const auto mask = [&](std::size_t from) {
        for (std::size_t i = from; i < from + 6 && i < f.size(); ++i) {
            f[i] = "T";
        }
    };
    if (f[0] == "N") {
        mask(1);
    } else if (f[0] == "P" && f.size() > 10) {
        mask(2);
        const bool second = std::stoul(f[8]) > std::stoul(f[9]) - 2;
        f.back() = "U";
        if (second) {
            f[f.size() - 2] = "U";
        }
    } else if (f[0] == "S" && f.size() > 1 && f[1] != "12") {
        mask(f[1] == "1" ? 3 : 2);
    }
    return join_fields(f);
}

// Records of an exchange file or log without their line ends.
inline std::vector<std::string> read_records(const fs::path& path) {
    std::istringstream in(read_file(path));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// The same without empty lines: a log's records, or the lines that matter.
inline std::vector<std::string> read_lines(const fs::path& path) {
    std::vector<std::string> lines = read_records(path);
    std::erase(lines, std::string());
    return lines;
}

} // namespace harness
