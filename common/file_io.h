// File primitives for files in a folder that others can write: opening never
// follows a symbolic link, never blocks on a pipe and accepts only regular
// files; writes and reads go on through interrupted and partial calls. No
// exceptions: every failure is returned, for the decoder and the display alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace fileio {

// Why an operation failed: an errno value, or a name that is not a regular
// file (refused, with what it is instead). Empty when nothing failed.
struct Problem {
    int error = 0;
    const char* refused = nullptr; // "a symbolic link", "a folder", "a pipe", ...
    std::string path;

    explicit operator bool() const { return error != 0 || refused != nullptr; }
    // "<path> is a pipe, not a regular file", or the system's text for error.
    std::string Describe() const;
};

Problem SystemProblem(int error, std::string path = {});

// An owned file descriptor, closed with the object.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release();
    void Reset();
    // Closes the file and says whether that worked: 0 or errno.
    int Close();

private:
    int fd_ = -1;
};

// What a name in the folder is when it is not a regular file ("a folder",
// "a symbolic link", ...), nullptr for a regular file or no entry at all.
const char* NonRegularKind(const std::string& path);

// Opens path with flags (O_RDONLY, O_WRONLY | O_APPEND | O_CREAT, ...), adding
// O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC; a name that is not a regular file is
// refused before and after the open, so a pipe, a device or a link is never
// read, written or waited on.
Fd OpenRegular(const std::string& path, int flags, Problem& problem, mode_t mode = 0666);

// Writes all of text; 0 or errno (ENOSPC when the system accepts nothing).
int WriteAll(int fd, std::string_view text);

// Appends text as a whole: a write that fails part-way is cut off again, so
// the file never ends in half of it. 0 or errno.
int AppendWhole(int fd, std::string_view text);

// Reads up to buffer.size() bytes (fewer only at the end); sets read to the
// count. 0 or errno.
int ReadSlice(int fd, std::span<char> buffer, std::size_t& read);

// Whether fd is the file that path names now (the name not followed).
bool SameFile(int fd, const std::string& path);

// Identity of an open file: its device and inode, and its size.
struct FileState {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
};
int StateOf(int fd, FileState& state);

// Removes path when it is there; 0 or errno.
int RemoveIfPresent(const std::string& path);

} // namespace fileio
