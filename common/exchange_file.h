// The exchange-file hand-over between the decoder, which appends records, and
// the display, which takes them over. Both sides lock the file with flock.
//
// The decoder appends under the lock, retrying it while the display holds it,
// and opens the file again when the one it locked is no longer the one at the
// path.
//
// The display claims the file by renaming it to "<exchange>.claimed" under the
// lock, taken without waiting (a held lock means "try at the next tick"), so
// the decoder's next append starts a new exchange file. It then reads the
// claimed file in slices. Beside it a mark, "<exchange>.claimed-logs", keeps
// the position reached; while a slice runs the mark also holds the size of
// each log the slice may write. A display killed at any moment finds the
// claimed file at its next start: the logs are cut back to the mark and
// reading goes on from the mark's position, so every line reaches its log
// exactly once. Once the last line is processed, the claimed file and its mark
// are deleted.
//
// Everything in the data folder is input: names are never followed when they
// are links, pipes and devices are never opened, and the mark holds sizes
// only, applied to the logs the display is configured with.
#pragma once

#include "common/file_io.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace exchange {

using fileio::Problem;

// How long an append waits for a lock that another program holds: until the
// deadline, or until wake_fd becomes readable (a stop request). The default
// tries once and never waits.
struct LockWait {
    std::chrono::steady_clock::time_point until{};
    int wake_fd = -1;
};

enum class Appended {
    written,      // the whole text is in the file
    close_failed, // written, but closing the file reported an error
    locked,       // another program held the lock until the wait ended; nothing written
    open_failed,  // no regular file could be opened, created or locked at the path
    write_failed, // the file did not take the whole text (full disk, size limit); none of it kept
};

struct AppendResult {
    Appended status = Appended::written;
    Problem problem; // what failed, unless written
};

// Appends text to the regular file at path (created when missing) under its
// exclusive lock, then closes it. A lock held elsewhere is tried again every
// 10 ms for as long as wait allows. When the file it locked is no longer the
// one at the path (the display claimed it meanwhile), the append opens the new
// one. All or nothing: a write that fails part-way is cut off again, so a
// retry never doubles half a record.
AppendResult Append(const std::string& path, std::string_view text, const LockWait& wait = {});

// Lines of exchange-file content, read in slices of 64 KiB: a line ends at CR,
// LF or CR LF, and the end of the content ends the last line. A line longer
// than kLongestLine is skipped without being held; its first kKeptOfLongLine
// characters are returned to name it.
class LineReader {
public:
    static constexpr std::size_t kLongestLine = 64 * 1024;
    static constexpr std::size_t kKeptOfLongLine = 40;
    enum class Kind { line, too_long, end, failed };

    LineReader() = default;
    // Content held in memory (not copied: it must outlive the reader).
    explicit LineReader(std::string_view text);
    // A file read on from offset, which it is sought to (a pipe reads from
    // where it is when offset is 0); the reader does not own fd.
    LineReader(int fd, std::uint64_t offset);

    // The next line, valid until the next call. failed: see error().
    Kind Next(std::string_view& line);
    // Offset just after the last line returned and its line end.
    std::uint64_t Position() const { return base_ + begin_; }
    int error() const { return error_; }

private:
    bool Fill();
    Kind TooLong(std::string_view& line);

    int fd_ = -1;
    std::vector<char> buffer_;
    const char* data_ = nullptr;
    std::size_t begin_ = 0;  // first unread byte of data_
    std::size_t end_ = 0;    // end of the bytes held in data_
    std::uint64_t base_ = 0; // offset of data_[0] in the content
    bool at_end_ = false;    // no more content to read
    bool skipping_ = false;  // inside a line that is too long
    std::string kept_;
    int error_ = 0;
};

// The names a claim uses. Slot 0 is "<exchange>.claimed" and
// "<exchange>.claimed-logs"; slot 1 (".claimed.1", ".claimed-logs.1") stands
// in while something that is not a regular file holds a name of slot 0.
struct ClaimNames {
    std::string claimed;
    std::string mark;
    std::string fresh_mark; // the mark is written here, then renamed
};
ClaimNames NamesOf(const std::string& exchange_path, int slot);
inline constexpr int kClaimSlots = 2;

// The display's side: one claimed file at a time.
class ClaimedFile {
public:
    enum class Opened { nothing, claimed, resumed };

    // Resumes a claimed file that an earlier pass left (logs cut back to its
    // mark, reading from the mark's position), else claims the exchange file.
    // logs: the configured logs, in the order of the mark. nothing: no file
    // yet, the decoder holds it, or a problem. Names of slot 0 that are not
    // regular files are added to notices (slot 1 is used instead).
    Opened Open(const std::string& exchange_path, std::span<const std::string> logs,
                Problem& problem, std::vector<Problem>& notices);
    bool IsOpen() const { return fd_.valid(); }
    const ClaimNames& Names() const { return names_; }

    // Its lines, from the position reached.
    LineReader& Lines() { return lines_; }

    // Writes the mark at the position reached, with the size of each of
    // guarded (created when absent): a kill before the next checkpoint cuts
    // them back to these sizes. No logs: nothing written since needs undoing.
    Problem Checkpoint(std::span<const std::string> guarded);
    // Every line is processed: the claimed file, then its mark, go.
    Problem Release();
    // Forgets the open pass but keeps its files: the next Open resumes it from
    // the mark as after a kill.
    void Close();

private:
    Opened Resume(std::span<const std::string> logs, Problem& problem);
    Opened Claim(const std::string& exchange_path, Problem& problem);

    ClaimNames names_;
    fileio::Fd fd_;
    LineReader lines_;
};

} // namespace exchange
