#include "decoder/receive_loop.h"

#include "decoder/end_of_packet.h"
#include "decoder/packet_receiver.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <span>
#include <unistd.h>

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kReopenInterval{1000};
// The display holds the exchange file's lock only while it claims the file.
constexpr milliseconds kLockedRetry{10};
// A full disk or a missing folder is not worth a try for every byte.
constexpr milliseconds kFailedRetry{250};
constexpr std::size_t kChunkSize = 4096;

// ---- Stop requests: a self-pipe written by the signal handler ----

int g_stop_pipe[2] = {-1, -1};

void create_stop_pipe() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (pipe2(g_stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            g_stop_pipe[0] = g_stop_pipe[1] = -1;
        }
    });
}

void on_stop_signal(int) {
    request_receive_stop();
}

int install_stop_handlers() {
    create_stop_pipe();
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    return g_stop_pipe[0];
}

void drain_stop_pipe() {
    char sink[64];
    while (read(g_stop_pipe[0], sink, sizeof sink) > 0) {
    }
}

bool stop_requested_within(int stop_fd, milliseconds timeout) {
    pollfd p{stop_fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

// ---- The port ----

enum class PortEvent { Data, End, Lost, Retry };

PortEvent read_port(const Port& port, std::span<std::uint8_t> chunk, std::size_t& length) {
    const ssize_t n = read(port.fd, chunk.data(), chunk.size());
    if (n > 0) {
        length = static_cast<std::size_t>(n);
        return PortEvent::Data;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return PortEvent::Retry;
    }
    // End of a capture; on a device, a hang-up (EOF or EIO) means it is gone.
    return port.recorded ? PortEvent::End : PortEvent::Lost;
}

class ReceiveLoop {
public:
    ReceiveLoop(Port& port, FecContext& fec, RecordOutput& out, int stop_fd)
        : port_(port), out_(out), stop_fd_(stop_fd), end_of_packet_(out.console),
          receiver_(fec, out, [this] { send_end_of_packet(); }) {}

    int run() {
        while (step()) {
        }
        return finish();
    }

private:
    // One wait and what it brought; false when the loop is to end.
    bool step() {
        pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {port_.fd, port_events(), 0}};
        const nfds_t count = port_.fd >= 0 ? 2 : 1;
        if (poll(fds, count, timeout_ms(Clock::now())) < 0) {
            return true; // EINTR: the handler has written to the pipe
        }
        if (fds[0].revents != 0) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (count == 2 && fds[1].revents != 0 && !serve_port(fds[1].revents, now)) {
            return false;
        }
        end_of_packet_.drop_if_stalled(now);
        if (lost_ && now >= next_reopen_) {
            reopen(now);
        }
        flush_if_due(now);
        return true;
    }

    short port_events() const {
        const bool sending = !port_.recorded && end_of_packet_.waiting() > 0;
        return static_cast<short>(POLLIN | (sending ? POLLOUT : 0));
    }

    // Until the earliest timer: reopening, a flush retry, a stalled receiver.
    int timeout_ms(Clock::time_point now) const {
        std::optional<Clock::time_point> next;
        const auto consider = [&](Clock::time_point at) { next = next ? std::min(*next, at) : at; };
        if (lost_) {
            consider(next_reopen_);
        }
        if (!out_.pending.empty()) {
            consider(next_flush_);
        }
        if (end_of_packet_.waiting() > 0) {
            consider(end_of_packet_.stall_deadline());
        }
        if (!next) {
            return -1;
        }
        const auto wait = std::chrono::ceil<milliseconds>(*next - now).count();
        return static_cast<int>(std::clamp<long long>(wait, 0, INT_MAX));
    }

    bool serve_port(short revents, Clock::time_point now) {
        if ((revents & POLLOUT) != 0) {
            end_of_packet_.write_waiting(port_.fd, now);
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0) {
            return true;
        }
        std::size_t length = 0;
        switch (read_port(port_, chunk_, length)) {
        case PortEvent::Data:
            receiver_.feed(std::span(chunk_.data(), length));
            break;
        case PortEvent::Retry:
            break;
        case PortEvent::End:
            return false;
        case PortEvent::Lost:
            lose_port(now);
            break;
        }
        return true;
    }

    void send_end_of_packet() {
        if (port_.fd >= 0 && !port_.recorded) {
            end_of_packet_.queue_group(port_.fd, Clock::now());
        }
    }

    // The console line, and an S,13 record so that the display shows it too.
    void announce(const std::string& text) {
        if (out_.console != nullptr) {
            std::fprintf(out_.console, "%s\r\n", text.c_str());
        }
        queue_record(out_, "S,13," + text + "\r\n");
    }

    void lose_port(Clock::time_point now) {
        end_of_packet_.discard();
        announce("Lost serial port " + port_.name + "; waiting for it to return");
        close_port(port_);
        lost_ = true;
        next_reopen_ = now + kReopenInterval;
    }

    // By the user's name: a port-map entry may now lead to another device.
    void reopen(Clock::time_point now) {
        Port reopened;
        if (!open_port(port_.name, reopened)) {
            next_reopen_ = now + kReopenInterval;
            return;
        }
        port_ = std::move(reopened);
        lost_ = false;
        announce("Reopened serial port " + port_.name);
    }

    void flush_if_due(Clock::time_point now) {
        if (out_.pending.empty() || now < next_flush_) {
            flush_streams(out_, now);
            return;
        }
        switch (flush_pending_output(out_, now)) {
        case FlushResult::Locked:
            next_flush_ = now + kLockedRetry;
            break;
        case FlushResult::Failed:
            next_flush_ = now + kFailedRetry;
            break;
        case FlushResult::Empty:
        case FlushResult::Written:
            next_flush_ = now;
            break;
        }
    }

    // Waits at most kLastFlushTime for the exchange file; a second stop
    // request ends the wait at once.
    void last_flush() {
        const Clock::time_point deadline = Clock::now() + kLastFlushTime;
        for (;;) {
            const Clock::time_point now = Clock::now();
            const FlushResult result = flush_pending_output(out_, now, {deadline, stop_fd_});
            if (result != FlushResult::Failed || now + kFailedRetry >= deadline ||
                stop_requested_within(stop_fd_, kFailedRetry)) {
                return;
            }
        }
    }

    int finish() {
        drain_stop_pipe();
        if (port_.fd >= 0 && !port_.recorded) {
            end_of_packet_.write_waiting(port_.fd, Clock::now());
        }
        end_of_packet_.discard();
        last_flush();
        drain_stop_pipe();
        return report_unwritten(out_) ? 0 : kExitRecordsNotWritten;
    }

    Port& port_;
    RecordOutput& out_;
    int stop_fd_;
    EndOfPacketQueue end_of_packet_;
    PacketReceiver receiver_;
    std::array<std::uint8_t, kChunkSize> chunk_{};
    bool lost_ = false;
    Clock::time_point next_reopen_{};
    Clock::time_point next_flush_{};
};

} // namespace

void request_receive_stop() {
    create_stop_pipe();
    if (g_stop_pipe[1] >= 0) {
        const int saved = errno;
        [[maybe_unused]] ssize_t written = write(g_stop_pipe[1], "s", 1);
        errno = saved;
    }
}

int run_receive_loop(Port& port, FecContext& fec, RecordOutput& out) {
    const int stop_fd = install_stop_handlers();
    ReceiveLoop loop(port, fec, out, stop_fd);
    return loop.run();
}

} // namespace quorvel
