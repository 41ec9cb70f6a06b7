// Record output: the pending output buffer and its flush to the console, the
// optional log and the exchange file (P, S and N records).
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace quorvel {

constexpr std::size_t kPendingSize = 8192; // holds at most 8191 characters

struct RecordOutput {
    std::string exchange_path;   // appended to under an exclusive flock
    std::FILE* console = stdout; // gets each record's text once, as queued (nullptr: none)
    std::FILE* log = nullptr;    // optional copy; CR CR LF line ends, flushed per flush
    std::array<char, kPendingSize> pending{};
    std::size_t pending_length = 0;
    // Leading bytes of pending already written to console and log: while the
    // exchange file cannot be opened only the file write is retried.
    std::size_t echoed_length = 0;
};

// Appends a finished P record or S record of types 1..3 (text ends in CR LF).
// A record that does not fit is dropped with a console message naming its
// kind, e.g. "record dropped, pending output full: P record\r\n".
void queue_record(RecordOutput& out, std::string_view record);

// For N records and S,12 messages: ignores an empty line, replaces trailing
// CR/LF by CR LF, then queues like queue_record.
void queue_line(RecordOutput& out, std::string_view line);

// Writes the pending output to the console and log (new text only) and appends
// it to the exchange file; keeps it pending while the file cannot be opened
// or written ("error on opening exchange file\r\n" / "error on writing
// exchange file\r\n" on the console). The exchange file and the log store each
// LF as CR LF, so every record ends in CR CR LF there.
void flush_pending_output(RecordOutput& out);

} // namespace quorvel
