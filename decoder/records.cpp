#include "decoder/records.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

// A record is kept only while the buffer stays below its last character.
constexpr std::size_t kPendingLimit = kPendingSize - 1;

// How many times a flush follows the exchange file being replaced under it
// before it gives up for this byte.
constexpr int kReopenAttempts = 8;

// "P", "N" or "S,<type>": what the drop message calls the record.
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

void append(RecordOutput& out, std::string_view text) {
    if (out.pending_length + text.size() >= kPendingLimit) {
        if (out.console != nullptr) {
            std::fprintf(out.console, "record dropped, pending output full: %s record\r\n",
                         record_kind(text).c_str());
        }
        return;
    }
    std::memcpy(out.pending.data() + out.pending_length, text.data(), text.size());
    out.pending_length += text.size();
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

void echo_new_text(RecordOutput& out) {
    const std::string_view fresh(out.pending.data() + out.echoed_length,
                                 out.pending_length - out.echoed_length);
    if (out.console != nullptr) {
        std::fwrite(fresh.data(), 1, fresh.size(), out.console);
        std::fflush(out.console);
    }
    if (out.log != nullptr) {
        const std::string converted = text_mode(fresh);
        std::fwrite(converted.data(), 1, converted.size(), out.log);
        std::fflush(out.log);
    }
    out.echoed_length = out.pending_length;
}

void console_message(const RecordOutput& out, const char* message) {
    if (out.console != nullptr) {
        std::fputs(message, out.console);
        std::fflush(out.console);
    }
}

bool same_file(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Opens the exchange file for appending and locks it; reopens while the
// display deletes or replaces the file between our open and our lock.
// Returns -1 (errno set) when it cannot be opened.
int open_locked(const std::string& path) {
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            return -1;
        }
        if (::flock(fd, LOCK_EX) != 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return -1;
        }
        if (same_file(fd, path)) {
            return fd;
        }
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

// All or nothing: a failed write is cut off again so that the retry does not
// leave half a record in the file.
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
            ::ftruncate(fd, before.st_size);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

void queue_record(RecordOutput& out, std::string_view record) {
    append(out, record);
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
    append(out, text);
}

void flush_pending_output(RecordOutput& out) {
    if (out.pending_length == 0) {
        return;
    }
    echo_new_text(out);

    const int fd = open_locked(out.exchange_path);
    if (fd < 0) {
        // An interrupted wait for the lock is not an error: a signal is ending
        // the decoder, and its last flush tries again.
        if (errno != EINTR) {
            console_message(out, "error on opening exchange file\r\n");
        }
        return;
    }
    const bool written =
        write_all(fd, text_mode(std::string_view(out.pending.data(), out.pending_length)));
    if (!written) {
        ::close(fd);
        console_message(out, "error on writing exchange file\r\n");
        return;
    }
    out.pending_length = 0;
    out.echoed_length = 0;
    if (::close(fd) != 0) {
        console_message(out, "error on closing exchange file\r\n");
    }
}

} // namespace quorvel
