// A strict RFC 4180 reader for checking what the programs write: records end
// with CR LF, a field is either plain (no comma, quote, CR or LF) or quoted
// with doubled quotes inside. Anything else throws.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace harness {

using CsvRows = std::vector<std::vector<std::string>>;

inline CsvRows parse_csv(const std::string& text) {
    CsvRows rows;
    std::vector<std::string> row;
    std::string field;
    std::size_t i = 0;
    const auto fail = [&](const char* what) {
        throw std::runtime_error(std::string(what) + " at byte " + std::to_string(i));
    };
    while (i < text.size()) {
        if (text[i] == '"') {
            for (++i;; ++i) {
                if (i >= text.size()) {
                    fail("unclosed quote");
                }
                if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else if (text[i] == '"') {
                    ++i;
                    break;
                } else {
                    field += text[i];
                }
            }
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
                if (text[i] == '"') {
                    fail("quote inside a plain field");
                }
                field += text[i++];
            }
        }
        row.push_back(field);
        field.clear();
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (text.compare(i, 2, "\r\n") != 0) {
            fail("a record that does not end with CR LF");
        }
        i += 2;
        rows.push_back(row);
        row.clear();
    }
    return rows;
}

} // namespace harness
