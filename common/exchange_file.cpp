#include "common/exchange_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace exchange {

namespace {

using fileio::Fd;
using fileio::FileState;
using fileio::OpenRegular;
using fileio::SystemProblem;

// How many times an append follows the exchange file being claimed under it
// before it leaves the text for the next attempt.
constexpr int kReopenAttempts = 8;

constexpr std::size_t kSlice = 64 * 1024;
// A mark is a few short lines; anything longer is not one.
constexpr std::size_t kLongestMark = 4096;

constexpr std::chrono::milliseconds kLockRetry{10};

// Sleeps for timeout unless wake_fd becomes readable first.
bool Woken(int wake_fd, std::chrono::milliseconds timeout) {
    pollfd watched{wake_fd, POLLIN, 0};
    return ::poll(&watched, wake_fd >= 0 ? 1 : 0, static_cast<int>(timeout.count())) > 0;
}

// Tries the lock without blocking until the wait ends, so that a stop request
// is never held up by another program's lock. 0, EWOULDBLOCK when the lock
// stayed held elsewhere, or another errno.
int LockExclusive(int fd, const LockWait& wait) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return errno;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            wait.until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || Woken(wait.wake_fd, std::min(left, kLockRetry))) {
            return EWOULDBLOCK;
        }
    }
}

AppendResult WriteAndClose(Fd fd, const std::string& path, std::string_view text) {
    if (const int error = fileio::AppendWhole(fd.get(), text)) {
        return {Appended::write_failed, SystemProblem(error, path)};
    }
    if (const int error = fd.Close()) {
        return {Appended::close_failed, SystemProblem(error, path)};
    }
    return {};
}

// The mark: "position N", then one "log SIZE DEVICE INODE" per guarded log.
struct Mark {
    std::uint64_t position = 0;
    std::vector<FileState> logs;
};

std::string FormatMark(const Mark& mark) {
    std::string text = "position " + std::to_string(mark.position) + "\n";
    for (const FileState& log : mark.logs) {
        text += "log " + std::to_string(log.size) + " " + std::to_string(log.device) + " " +
                std::to_string(log.inode) + "\n";
    }
    return text;
}

bool TakeNumber(std::string_view& text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool TakeWord(std::string_view& text, std::string_view word) {
    if (!text.starts_with(word)) {
        return false;
    }
    text.remove_prefix(word.size());
    return true;
}

// Strict: a mark that does not read exactly is no mark at all.
bool ParseMark(std::string_view text, Mark& mark) {
    if (!TakeWord(text, "position ") || !TakeNumber(text, mark.position) || !TakeWord(text, "\n")) {
        return false;
    }
    while (!text.empty()) {
        FileState log;
        if (!TakeWord(text, "log ") || !TakeNumber(text, log.size) || !TakeWord(text, " ") ||
            !TakeNumber(text, log.device) || !TakeWord(text, " ") || !TakeNumber(text, log.inode) ||
            !TakeWord(text, "\n")) {
            return false;
        }
        mark.logs.push_back(log);
    }
    return true;
}

// false when there is no readable mark: the pass then starts from the start.
bool ReadMark(const std::string& path, Mark& mark, Problem& problem) {
    Fd fd = OpenRegular(path, O_RDONLY, problem);
    if (!fd.valid()) {
        if (problem.error == ENOENT) {
            problem = {};
        }
        return false;
    }
    std::array<char, kLongestMark + 1> text{};
    std::size_t read = 0;
    if (const int error = fileio::ReadSlice(fd.get(), text, read)) {
        problem = SystemProblem(error, path);
        return false;
    }
    return read <= kLongestMark && ParseMark(std::string_view(text.data(), read), mark);
}

// Under a fresh private name (O_EXCL: never an existing file or a link), then
// renamed over the mark, so a kill leaves the old mark or the new one whole.
Problem WriteMark(const ClaimNames& names, const std::string& text) {
    if (const int error = fileio::RemoveIfPresent(names.fresh_mark)) {
        return SystemProblem(error, names.fresh_mark);
    }
    Fd fd(::open(names.fresh_mark.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return SystemProblem(errno, names.fresh_mark);
    }
    if (const int error = fileio::WriteAll(fd.get(), text)) {
        return SystemProblem(error, names.fresh_mark);
    }
    if (const int error = fd.Close()) {
        return SystemProblem(error, names.fresh_mark);
    }
    if (::rename(names.fresh_mark.c_str(), names.mark.c_str()) != 0) {
        return SystemProblem(errno, names.mark);
    }
    return {};
}

// Cuts a log back to its size at the mark. A log that is no longer the file
// the mark measured (renamed, replaced, another name configured) is left
// alone, and a log is never made longer.
Problem CutBack(const std::string& path, const FileState& marked) {
    Problem problem;
    Fd fd = OpenRegular(path, O_WRONLY, problem);
    if (!fd.valid()) {
        return problem.error == ENOENT ? Problem{} : problem;
    }
    FileState now;
    if (const int error = fileio::StateOf(fd.get(), now)) {
        return SystemProblem(error, path);
    }
    if (now.device != marked.device || now.inode != marked.inode || now.size <= marked.size) {
        return {};
    }
    if (::ftruncate(fd.get(), static_cast<off_t>(marked.size)) != 0) {
        return SystemProblem(errno, path);
    }
    return {};
}

// A folder holding the exchange file's name tells a setup fault (reported)
// from the ordinary idle case of no file yet.
Problem CheckFolder(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 ? Problem{} : SystemProblem(errno, folder);
}

// The first name of the slot that something other than a regular file holds.
Problem Blocked(const ClaimNames& names) {
    for (const std::string* name : {&names.claimed, &names.mark, &names.fresh_mark}) {
        if (const char* kind = fileio::NonRegularKind(*name)) {
            Problem problem;
            problem.refused = kind;
            problem.path = *name;
            return problem;
        }
    }
    return {};
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

AppendResult Append(const std::string& path, std::string_view text, const LockWait& wait) {
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        Problem problem;
        Fd fd = OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT, problem);
        if (!fd.valid()) {
            return {Appended::open_failed, problem};
        }
        if (const int error = LockExclusive(fd.get(), wait)) {
            return {error == EWOULDBLOCK ? Appended::locked : Appended::open_failed,
                    SystemProblem(error, path)};
        }
        // Claimed between our open and our lock: the next file at the path takes the text.
        if (fileio::SameFile(fd.get(), path)) {
            return WriteAndClose(std::move(fd), path, text);
        }
    }
    return {Appended::locked, SystemProblem(EWOULDBLOCK, path)};
}

// ---- LineReader ----

LineReader::LineReader(std::string_view text)
    : data_(text.data()), end_(text.size()), at_end_(true) {}

LineReader::LineReader(int fd, std::uint64_t offset) : fd_(fd), base_(offset) {
    if (offset != 0 && ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        error_ = errno;
    }
}

LineReader::Kind LineReader::Next(std::string_view& line) {
    if (error_ != 0) {
        return Kind::failed;
    }
    for (;;) {
        const char* start = data_ + begin_;
        const char* stop = data_ + end_;
        const char* cut = std::find_if(start, stop, [](char c) { return c == '\r' || c == '\n'; });
        // A CR at the end of what is held may have its LF still to come.
        const bool whole = cut != stop && !(*cut == '\r' && cut + 1 == stop && !at_end_);
        if (whole) {
            const std::size_t ending = *cut == '\r' && cut + 1 != stop && cut[1] == '\n' ? 2 : 1;
            line = std::string_view(start, static_cast<std::size_t>(cut - start));
            begin_ = static_cast<std::size_t>(cut - data_) + ending;
            if (!skipping_ && line.size() > kLongestLine) {
                kept_.assign(line.substr(0, kKeptOfLongLine));
                skipping_ = true;
            }
            return skipping_ ? TooLong(line) : Kind::line;
        }
        if (!skipping_ && static_cast<std::size_t>(cut - start) > kLongestLine) {
            kept_.assign(start, kKeptOfLongLine);
            skipping_ = true;
        }
        if (skipping_) {
            begin_ = static_cast<std::size_t>(cut - data_); // drop all but a pending CR
        }
        if (at_end_) {
            if (skipping_) {
                begin_ = end_;
                return TooLong(line);
            }
            if (begin_ == end_) {
                return Kind::end;
            }
            line = std::string_view(start, end_ - begin_);
            begin_ = end_;
            return Kind::line;
        }
        if (!Fill()) {
            return Kind::failed;
        }
    }
}

LineReader::Kind LineReader::TooLong(std::string_view& line) {
    skipping_ = false;
    line = kept_;
    return Kind::too_long;
}

// Moves the unread bytes to the front and reads the next slice after them.
bool LineReader::Fill() {
    if (fd_ < 0) {
        at_end_ = true;
        return true;
    }
    if (buffer_.empty()) {
        buffer_.resize(kLongestLine + 1 + kSlice);
    }
    const std::size_t held = end_ - begin_;
    if (held > 0 && data_ + begin_ != buffer_.data()) {
        std::memmove(buffer_.data(), data_ + begin_, held);
    }
    base_ += begin_;
    begin_ = 0;
    end_ = held;
    data_ = buffer_.data();
    std::size_t read = 0;
    error_ = fileio::ReadSlice(fd_, std::span<char>(buffer_).subspan(end_), read);
    if (error_ != 0) {
        return false;
    }
    at_end_ = read == 0;
    end_ += read;
    return true;
}

// ---- ClaimedFile ----

ClaimNames NamesOf(const std::string& exchange_path, int slot) {
    const std::string suffix = slot == 0 ? "" : "." + std::to_string(slot);
    ClaimNames names;
    names.claimed = exchange_path + ".claimed" + suffix;
    names.mark = exchange_path + ".claimed-logs" + suffix;
    names.fresh_mark = names.mark + ".new";
    return names;
}

ClaimedFile::Opened ClaimedFile::Open(const std::string& exchange_path,
                                      std::span<const std::string> logs, Problem& problem,
                                      std::vector<Problem>& notices) {
    problem = {};
    Close();
    int usable = -1;
    for (int slot = 0; slot < kClaimSlots; ++slot) {
        const ClaimNames names = NamesOf(exchange_path, slot);
        if (Problem blocked = Blocked(names)) {
            if (slot + 1 < kClaimSlots) {
                notices.push_back(blocked);
            } else if (usable < 0) {
                problem = blocked;
            }
            continue;
        }
        names_ = names;
        if (IsRegularFile(names.claimed)) {
            return Resume(logs, problem);
        }
        usable = usable < 0 ? slot : usable;
    }
    if (usable < 0) {
        return Opened::nothing;
    }
    names_ = NamesOf(exchange_path, usable);
    // Left by a pass that ended after deleting its claimed file.
    if (const int error = fileio::RemoveIfPresent(names_.mark)) {
        problem = SystemProblem(error, names_.mark);
        return Opened::nothing;
    }
    return Claim(exchange_path, problem);
}

ClaimedFile::Opened ClaimedFile::Resume(std::span<const std::string> logs, Problem& problem) {
    Fd fd = OpenRegular(names_.claimed, O_RDONLY, problem);
    if (!fd.valid()) {
        return Opened::nothing;
    }
    Mark mark;
    if (!ReadMark(names_.mark, mark, problem)) {
        if (problem) {
            return Opened::nothing;
        }
        mark = {}; // no mark yet, or not one: read from the start, undo nothing
    }
    for (std::size_t i = 0; i < mark.logs.size() && i < logs.size(); ++i) {
        if ((problem = CutBack(logs[i], mark.logs[i]))) {
            return Opened::nothing;
        }
    }
    FileState claimed;
    if (const int error = fileio::StateOf(fd.get(), claimed)) {
        problem = SystemProblem(error, names_.claimed);
        return Opened::nothing;
    }
    fd_ = std::move(fd);
    lines_ = LineReader(fd_.get(), std::min(mark.position, claimed.size));
    return Opened::resumed;
}

ClaimedFile::Opened ClaimedFile::Claim(const std::string& exchange_path, Problem& problem) {
    Fd fd = OpenRegular(exchange_path, O_RDONLY, problem);
    if (!fd.valid()) {
        if (problem.error == ENOENT) {
            problem = CheckFolder(exchange_path);
        }
        return Opened::nothing;
    }
    if (const int error = LockExclusive(fd.get(), {})) {
        if (error != EWOULDBLOCK) {
            problem = SystemProblem(error, exchange_path);
        }
        return Opened::nothing; // the decoder is appending: next time
    }
    if (!fileio::SameFile(fd.get(), exchange_path)) {
        return Opened::nothing; // replaced between our open and our lock
    }
    if (::rename(exchange_path.c_str(), names_.claimed.c_str()) != 0) {
        problem = SystemProblem(errno, names_.claimed);
        return Opened::nothing;
    }
    // The decoder appends only to the file at the path: the lock has done its work.
    ::flock(fd.get(), LOCK_UN);
    fd_ = std::move(fd);
    lines_ = LineReader(fd_.get(), 0);
    return Opened::claimed;
}

Problem ClaimedFile::Checkpoint(std::span<const std::string> guarded) {
    Mark mark;
    mark.position = lines_.Position();
    for (const std::string& log : guarded) {
        Problem problem;
        const Fd fd = OpenRegular(log, O_WRONLY | O_APPEND | O_CREAT, problem);
        if (!fd.valid()) {
            return problem;
        }
        FileState state;
        if (const int error = fileio::StateOf(fd.get(), state)) {
            return SystemProblem(error, log);
        }
        mark.logs.push_back(state);
    }
    return WriteMark(names_, FormatMark(mark));
}

Problem ClaimedFile::Release() {
    Close();
    if (const int error = fileio::RemoveIfPresent(names_.claimed)) {
        return SystemProblem(error, names_.claimed);
    }
    if (const int error = fileio::RemoveIfPresent(names_.mark)) {
        return SystemProblem(error, names_.mark);
    }
    return {};
}

void ClaimedFile::Close() {
    lines_ = LineReader();
    fd_.Reset();
}

} // namespace exchange
