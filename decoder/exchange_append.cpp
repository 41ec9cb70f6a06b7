#include "decoder/exchange_append.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

using std::chrono::steady_clock;

// How many times the display may replace the file between our open and our
// lock before we leave it for the next attempt.
constexpr int kReopenAttempts = 8;
constexpr std::chrono::milliseconds kLockRetry{10};

enum class LockResult { Taken, Busy, Failed };

// O_NONBLOCK: opening a FIFO without a reader fails at once instead of
// waiting for one; O_NOFOLLOW: a link planted at the path is not followed.
int open_regular(const std::string& path) {
    const int fd = ::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0666);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool woken(int wake_fd, std::chrono::milliseconds timeout) {
    pollfd p{wake_fd, POLLIN, 0};
    return ::poll(&p, wake_fd >= 0 ? 1 : 0, static_cast<int>(timeout.count())) > 0;
}

// Retries a non-blocking lock so that the wait can end on a stop request.
LockResult lock_until(int fd, const AppendWait& wait) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return LockResult::Taken;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return LockResult::Failed;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(wait.until - steady_clock::now());
        if (left.count() <= 0 || woken(wait.wake_fd, std::min(left, kLockRetry))) {
            return LockResult::Busy;
        }
    }
}

// lstat: a link put in the file's place is not the file we hold.
bool same_file(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool write_all(int fd, std::string_view text) {
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // The retry must not find half a record in front of it.
            [[maybe_unused]] const int cut = ::ftruncate(fd, before.st_size);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

AppendResult append_exchange_file(const std::string& path, std::string_view text,
                                  const AppendWait& wait) {
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        const int fd = open_regular(path);
        if (fd < 0) {
            return AppendResult::OpenFailed;
        }
        const LockResult lock = lock_until(fd, wait);
        if (lock != LockResult::Taken) {
            ::close(fd);
            return lock == LockResult::Busy ? AppendResult::Locked : AppendResult::OpenFailed;
        }
        if (!same_file(fd, path)) {
            ::close(fd);
            continue;
        }
        const bool written = write_all(fd, text);
        const bool closed = ::close(fd) == 0;
        if (!written) {
            return AppendResult::WriteFailed;
        }
        return closed ? AppendResult::Written : AppendResult::CloseFailed;
    }
    return AppendResult::Locked;
}

} // namespace quorvel
