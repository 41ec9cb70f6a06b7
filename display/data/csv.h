// RFC 4180 text: fields separated by commas, records by line breaks; a field
// in double quotes may hold commas, line breaks and doubled quotes.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltaro::data {

struct CsvRecord {
    std::size_t line = 0; // where the record starts, from 1
    std::vector<std::string> fields;
};

struct CsvProblem {
    std::size_t line = 0;
    std::string reason;
};

// Reads every record; CR LF and LF both end a record, blank lines are
// skipped, a byte order mark at the start is ignored. A record that breaks
// the quoting rules is reported and left out; the others are read.
std::vector<CsvRecord> ReadCsv(std::string_view text, std::vector<CsvProblem>& problems);

// Appends one record ended by CR LF, quoting the fields that need it.
void AppendCsvRecord(std::string& out, std::span<const std::string> fields);

} // namespace veltaro::data
