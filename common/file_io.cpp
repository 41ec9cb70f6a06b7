#include "common/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fileio {

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return nullptr;
    }
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    return "not a regular file";
}

Problem Refused(const char* kind, const std::string& path) {
    Problem problem;
    problem.refused = kind;
    problem.path = path;
    return problem;
}

} // namespace

std::string Problem::Describe() const {
    if (refused != nullptr) {
        return path + " is " + refused + ", not a regular file";
    }
    return std::strerror(error);
}

Problem SystemProblem(int error, std::string path) {
    Problem problem;
    problem.error = error;
    problem.path = std::move(path);
    return problem;
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.Release();
    }
    return *this;
}

int Fd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int Fd::Close() {
    return ::close(Release()) == 0 ? 0 : errno;
}

void Fd::Reset() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

const char* NonRegularKind(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? KindOf(info.st_mode) : nullptr;
}

Fd OpenRegular(const std::string& path, int flags, Problem& problem, mode_t mode) {
    problem = {};
    // Looked at first so that a device is never opened at all: opening some
    // has effects of its own.
    if (const char* kind = NonRegularKind(path)) {
        problem = Refused(kind, path);
        return {};
    }
    Fd fd(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    if (!fd.valid()) {
        const int error = errno;
        // Swapped in since the look: a link gives ELOOP, a pipe ENXIO.
        const char* kind = NonRegularKind(path);
        problem = kind != nullptr ? Refused(kind, path) : SystemProblem(error, path);
        return {};
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        problem = SystemProblem(errno, path);
        return {};
    }
    if (const char* kind = KindOf(info.st_mode)) {
        problem = Refused(kind, path);
        return {};
    }
    return fd;
}

int WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : ENOSPC;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

int AppendWhole(int fd, std::string_view text) {
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        return errno;
    }
    const int error = WriteAll(fd, text);
    if (error != 0) {
        // Nothing more can be done if this fails too; the write's error is the one to tell.
        [[maybe_unused]] const int cut = ::ftruncate(fd, before.st_size);
    }
    return error;
}

int ReadSlice(int fd, std::span<char> buffer, std::size_t& read) {
    read = 0;
    while (read < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + read, buffer.size() - read);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno;
        }
        if (n == 0) {
            break;
        }
        read += static_cast<std::size_t>(n);
    }
    return 0;
}

bool SameFile(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

int StateOf(int fd, FileState& state) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return errno;
    }
    state.device = static_cast<std::uint64_t>(info.st_dev);
    state.inode = static_cast<std::uint64_t>(info.st_ino);
    state.size = static_cast<std::uint64_t>(info.st_size);
    return 0;
}

int RemoveIfPresent(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

} // namespace fileio
