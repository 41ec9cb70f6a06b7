#include "decoder/records.h"

#include "common/file_io.h"

#include <algorithm>

namespace quorvel {

namespace {

using exchange::Appended;

constexpr std::chrono::seconds kReportInterval{1};
// A full disk is not worth a try of the log for every byte.
constexpr std::chrono::milliseconds kLogRetry{250};

// Past an outage a large pending buffer is given back rather than kept.
constexpr std::size_t kKeptCapacity = 64 * 1024;

// "P", "N" or "S,<type>": what the drop count calls the record.
std::string record_kind(std::string_view record) {
    std::size_t end = record.find(',');
    if (!record.empty() && record[0] == 'S' && end != std::string_view::npos) {
        end = record.find(',', end + 1);
    }
    std::string kind(record.substr(0, std::min<std::size_t>(end, 8)));
    for (char& c : kind) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return kind;
}

// Text-file line ends: every LF goes out as CR LF.
std::string text_mode(std::string_view text) {
    std::string converted;
    converted.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            converted += '\r';
        }
        converted += c;
    }
    return converted;
}

void console_line(const RecordOutput& out, const std::string& line) {
    if (out.console != nullptr) {
        std::fputs(line.c_str(), out.console);
        std::fflush(out.console);
    }
}

void count_drop(RecordOutput& out, std::string_view record) {
    const std::string kind = record_kind(record);
    auto& dropped = out.outage.dropped;
    auto it = std::find_if(dropped.begin(), dropped.end(),
                           [&](const DroppedRecords& d) { return d.kind == kind; });
    if (it == dropped.end()) {
        dropped.push_back({kind, 1});
    } else {
        ++it->count;
    }
}

std::size_t dropped_total(const RecordOutput& out) {
    std::size_t total = 0;
    for (const DroppedRecords& d : out.outage.dropped) {
        total += d.count;
    }
    return total;
}

// One line per outage, e.g. "records dropped, pending output full: 3 P, 9 N".
void report_drops(const RecordOutput& out) {
    if (out.outage.dropped.empty()) {
        return;
    }
    std::string line = "records dropped, pending output full:";
    for (std::size_t i = 0; i < out.outage.dropped.size(); ++i) {
        const DroppedRecords& d = out.outage.dropped[i];
        line += (i == 0 ? " " : ", ") + std::to_string(d.count) + " " + d.kind;
    }
    console_line(out, line + "\r\n");
}

void empty_buffer(std::string& buffer) {
    buffer.clear();
    if (buffer.capacity() > kKeptCapacity) {
        std::string().swap(buffer);
    }
}

void queue_for_log(RecordOutput& out, std::string_view text) {
    LogOutput& log = out.log;
    const std::string stored = text_mode(text);
    if (log.failing && log.pending.size() + stored.size() > out.pending_limit) {
        ++log.dropped;
        ++log.lost;
        return;
    }
    log.pending += stored;
    ++log.pending_records;
}

// A write the log does not take is cut off again, so the log holds whole
// records only, and the text is tried again later.
void flush_log(RecordOutput& out, SteadyClock::time_point now) {
    LogOutput& log = out.log;
    if (log.pending.empty() || (log.failing && now < log.next_try)) {
        return;
    }
    if (fileio::AppendWhole(log.fd, log.pending) != 0) {
        if (!log.failing) {
            console_line(out, "error on writing output logging file\r\n");
        }
        log.failing = true;
        log.next_try = now + kLogRetry;
        return;
    }
    if (log.failing) {
        const std::string missing =
            log.dropped > 0 ? ", " + std::to_string(log.dropped) + " records missing from it" : "";
        console_line(out, "output logging file written again" + missing + "\r\n");
    }
    empty_buffer(log.pending);
    log.pending_records = 0;
    log.dropped = 0;
    log.failing = false;
}

void queue_text(RecordOutput& out, std::string_view text) {
    if (out.console != nullptr) {
        std::fwrite(text.data(), 1, text.size(), out.console);
    }
    if (out.log.fd >= 0) {
        queue_for_log(out, text);
    }
    if (out.pending.size() + text.size() > out.pending_limit) {
        count_drop(out, text);
        return;
    }
    out.pending += text;
    ++out.pending_records;
}

// A held lock is the display's moment of claiming the file; only one that
// lasts is worth a line.
const char* failure_message(const RecordOutput& out, Appended result, SteadyClock::time_point now) {
    switch (result) {
    case Appended::open_failed:
        return "error on opening exchange file\r\n";
    case Appended::write_failed:
        return "error on writing exchange file\r\n";
    case Appended::locked:
        return now - out.outage.since >= kReportInterval
                   ? "exchange file locked by another program\r\n"
                   : nullptr;
    case Appended::written:
    case Appended::close_failed:
        break;
    }
    return nullptr;
}

FlushResult note_failure(RecordOutput& out, Appended result, SteadyClock::time_point now) {
    ExchangeOutage& outage = out.outage;
    if (!outage.active) {
        outage.active = true;
        outage.since = now;
    }
    const char* message = failure_message(out, result, now);
    if (message != nullptr && (!outage.reported || now - outage.last_report >= kReportInterval)) {
        console_line(out, message);
        outage.reported = true;
        outage.last_report = now;
    }
    return result == Appended::locked ? FlushResult::Locked : FlushResult::Failed;
}

void note_written(RecordOutput& out, Appended result) {
    if (out.outage.reported) {
        console_line(out, "exchange file written again: " + std::to_string(out.pending_records) +
                              " records handed over\r\n");
    }
    report_drops(out);
    if (result == Appended::close_failed) {
        console_line(out, "error on closing exchange file\r\n");
    }
    out.outage = ExchangeOutage{};
    empty_buffer(out.pending);
    out.pending_records = 0;
}

} // namespace

void queue_record(RecordOutput& out, std::string_view record) {
    queue_text(out, record);
}

void queue_line(RecordOutput& out, std::string_view line) {
    if (line.empty()) {
        return;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    std::string text(line);
    text += "\r\n";
    queue_text(out, text);
}

void flush_streams(RecordOutput& out, SteadyClock::time_point now) {
    if (out.console != nullptr) {
        std::fflush(out.console);
    }
    flush_log(out, now);
}

FlushResult flush_pending_output(RecordOutput& out, SteadyClock::time_point now,
                                 const exchange::LockWait& wait) {
    flush_streams(out, now);
    if (out.pending.empty() && out.outage.dropped.empty()) {
        return FlushResult::Empty;
    }
    const Appended result =
        exchange::Append(out.exchange_path, text_mode(out.pending), wait).status;
    if (result != Appended::written && result != Appended::close_failed) {
        return note_failure(out, result, now);
    }
    note_written(out, result);
    return FlushResult::Written;
}

bool report_unwritten(RecordOutput& out) {
    LogOutput& log = out.log;
    log.next_try = {}; // one more try, however recent the last one
    flush_log(out, SteadyClock::now());
    const std::size_t unlogged = log.pending_records + log.dropped;
    if (unlogged > 0) {
        console_line(out, std::to_string(unlogged) +
                              " records not written to the output logging file\r\n");
    }
    const std::size_t unwritten = out.pending_records + dropped_total(out);
    if (unwritten == 0) {
        return true;
    }
    report_drops(out);
    const bool logged = log.fd >= 0 && unlogged == 0 && log.lost == 0;
    std::string line = std::to_string(unwritten) + " records not written to the exchange file";
    console_line(out, line + (logged ? "; they are in the log\r\n" : "\r\n"));
    return false;
}

} // namespace quorvel
