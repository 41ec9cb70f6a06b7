#include "display/data/csv.h"

namespace veltaro::data {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

class CsvReader {
public:
    explicit CsvReader(std::string_view text) : text_(text) {
        if (text_.starts_with(kByteOrderMark)) {
            pos_ = kByteOrderMark.size();
        }
    }

    bool AtEnd() const { return pos_ >= text_.size(); }

    // Reads one record; false (with the reason) when it breaks the quoting
    // rules, in which case the rest of its line is passed over.
    bool Next(CsvRecord& record, std::string& reason) {
        record.line = line_;
        record.fields.assign(1, std::string());
        bool field_start = true; // only there does a quote open a quoted field
        while (!AtEnd()) {
            const char c = text_[pos_];
            if (c == '\n' || c == '\r') {
                EndLine();
                return true;
            }
            ++pos_;
            if (c == ',') {
                record.fields.emplace_back();
                field_start = true;
                continue;
            }
            if (c == '"' && field_start) {
                if (!ReadQuoted(record.fields.back(), reason)) {
                    return false;
                }
            } else {
                record.fields.back() += c;
            }
            field_start = false;
        }
        return true;
    }

private:
    bool ReadQuoted(std::string& field, std::string& reason) {
        const std::size_t start_line = line_;
        for (;;) {
            if (AtEnd()) {
                reason = "a quoted field opened on line " + std::to_string(start_line) +
                         " is never closed";
                return false;
            }
            const char c = text_[pos_++];
            if (c == '\n') {
                ++line_;
            }
            if (c != '"') {
                field += c;
            } else if (pos_ < text_.size() && text_[pos_] == '"') {
                field += '"';
                ++pos_;
            } else {
                break;
            }
        }
        if (!AtEnd() && text_[pos_] != ',' && text_[pos_] != '\r' && text_[pos_] != '\n') {
            reason = "text follows the closing quote of a field";
            SkipLine();
            return false;
        }
        return true;
    }

    void EndLine() {
        if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') {
            ++pos_;
        }
        ++pos_;
        ++line_;
    }

    void SkipLine() {
        while (!AtEnd() && text_[pos_] != '\n' && text_[pos_] != '\r') {
            ++pos_;
        }
        if (!AtEnd()) {
            EndLine();
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
};

bool IsBlank(const CsvRecord& record) {
    return record.fields.size() == 1 && record.fields[0].empty();
}

bool NeedsQuotes(std::string_view field) {
    return field.find_first_of(",\"\r\n") != std::string_view::npos;
}

} // namespace

std::vector<CsvRecord> ReadCsv(std::string_view text, std::vector<CsvProblem>& problems) {
    std::vector<CsvRecord> records;
    CsvReader reader(text);
    while (!reader.AtEnd()) {
        CsvRecord record;
        std::string reason;
        if (!reader.Next(record, reason)) {
            problems.push_back({record.line, reason});
        } else if (!IsBlank(record)) {
            records.push_back(std::move(record));
        }
    }
    return records;
}

void AppendCsvRecord(std::string& out, std::span<const std::string> fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        if (!NeedsQuotes(fields[i])) {
            out += fields[i];
            continue;
        }
        out += '"';
        for (const char c : fields[i]) {
            out += c;
            if (c == '"') {
                out += '"';
            }
        }
        out += '"';
    }
    out += "\r\n";
}

} // namespace veltaro::data
