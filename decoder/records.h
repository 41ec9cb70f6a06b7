// Record output: every record goes to the console and the optional log when
// it is queued, and waits in the pending output until the exchange file has
// taken it (P, S and N records).
#pragma once

#include "common/exchange_file.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

using SteadyClock = std::chrono::steady_clock;

// Well over an hour of records at the line's full rate (1,920 characters a
// second give about 7 MB an hour); the pending output grows only as needed.
constexpr std::size_t kPendingLimit = 16 * 1024 * 1024;

// Records of one kind ("P", "N", "S,2", ...) dropped past the pending limit.
struct DroppedRecords {
    std::string kind;
    std::size_t count = 0;
};

// A time in which the exchange file did not take the pending output.
struct ExchangeOutage {
    bool active = false;   // the last flush left records pending
    bool reported = false; // the console has said so
    SteadyClock::time_point since{};
    SteadyClock::time_point last_report{};
    std::vector<DroppedRecords> dropped;
};

// The optional copy of every record (-o). Records are appended whole when the
// streams are flushed; what the log does not take (a full disk, a size limit)
// waits for a later flush, up to the pending limit.
struct LogOutput {
    int fd = -1;         // not owned; -1: no log
    std::string pending; // stored text (CR CR LF) the log has not taken yet
    std::size_t pending_records = 0;
    std::size_t dropped = 0; // records past the pending limit in this outage
    std::size_t lost = 0;    // all the records dropped from the log in this run
    bool failing = false;    // the console has said the log cannot be written
    SteadyClock::time_point next_try{};
};

struct RecordOutput {
    std::string exchange_path;   // appended to under an exclusive flock
    std::FILE* console = stdout; // each record's text as queued (nullptr: none)
    LogOutput log;
    std::string pending; // queued text the exchange file has not taken yet
    std::size_t pending_records = 0;
    std::size_t pending_limit = kPendingLimit;
    ExchangeOutage outage;
};

enum class FlushResult { Empty, Written, Locked, Failed };

// Appends a finished P record or S record of types 1..3 and 13 (text ends in
// CR LF). Console and log get it at once; a record that would take the
// pending output past its limit is counted by kind and dropped from the
// exchange file only.
void queue_record(RecordOutput& out, std::string_view record);

// For N records and S,12 messages: ignores an empty line, replaces trailing
// CR/LF by CR LF, then queues like queue_record.
void queue_line(RecordOutput& out, std::string_view line);

// Writes what console and log have buffered. While the log cannot be written
// the console says so once ("error on writing output logging file\r\n"), and
// the log is tried again a quarter of a second later at the earliest.
void flush_streams(RecordOutput& out, SteadyClock::time_point now);

// Flushes console and log and appends the pending output to the exchange file
// (each LF stored as CR LF, so every record ends in CR CR LF there). While the
// file cannot be opened or written the records stay pending and the console
// says so at most once a second ("error on opening exchange file\r\n" /
// "error on writing exchange file\r\n"; a lock held elsewhere only after a
// second); the flush that ends such a time says how many records it handed
// over, and how many of each kind were dropped meanwhile.
FlushResult flush_pending_output(RecordOutput& out, SteadyClock::time_point now,
                                 const exchange::LockWait& wait = {});

// After the last flush: tells the console how many records never reached the
// exchange file, and the log. Returns true when the exchange file has them all.
bool report_unwritten(RecordOutput& out);

} // namespace quorvel
