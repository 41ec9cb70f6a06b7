#include "decoder/receive.h"

#include "decoder/mant.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <span>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr int kReopenIntervalMs = 1000;
constexpr std::size_t kLineCapacity = 8192;
// A full disk or a missing folder is not worth a try at every moment.
constexpr std::chrono::milliseconds kFailedRetry{250};
constexpr std::array<std::uint8_t, 5> kEndOfPacket{};

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

bool stop_requested_within(int stop_fd, std::chrono::milliseconds timeout) {
    pollfd p{stop_fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

// Waits at most kLastFlushTime for the exchange file; a second stop request
// ends the wait at once.
void last_flush(RecordOutput& out, int stop_fd) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + kLastFlushTime;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const FlushResult result = flush_pending_output(out, now, {deadline, stop_fd});
        if (result != FlushResult::Failed || now + kFailedRetry >= deadline ||
            stop_requested_within(stop_fd, kFailedRetry)) {
            return;
        }
    }
}

// ---- The packet state machine ----

struct Receiver {
    Receiver(Port& p, FecContext& f, RecordOutput& o)
        : port(p), fec(f), out(o), first_payload(f.first_payload) {}

    Port& port;
    FecContext& fec;
    RecordOutput& out;
    int first_payload;

    RxState state = RxState::IDLE;
    int digit_count = 0;
    int byte_count = 0;
    int high_nibble = 0;
    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    std::string line; // the packet line under construction
    std::string alres_text;
    SecondBlockGeometry geometry;
    TimeMark second_start{}; // Tc
    long long usec_fblk = 0;
};

void write_end_of_packet(Receiver& rx) {
    if (rx.port.fd < 0 || rx.port.recorded) {
        return;
    }
    // The receiver only needs the bytes; a failed write changes nothing here.
    [[maybe_unused]] ssize_t written = write(rx.port.fd, kEndOfPacket.data(), kEndOfPacket.size());
}

void append_number(std::string& line, long long value) {
    line += std::to_string(value);
    line += ',';
}

void append_hex_byte(std::string& line, std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    line += kDigits[value >> 4];
    line += kDigits[value & 0x0F];
    line += ',';
}

// libfec reports failures as any negative value; records carry -1.
int record_result(int rs_result) {
    return rs_result < 0 ? -1 : rs_result;
}

int hex_digit_value(std::uint8_t byte) {
    if (byte >= '0' && byte <= '9') {
        return byte - '0';
    }
    if (byte >= 'A' && byte <= 'F') {
        return byte - 'A' + 10;
    }
    return -1;
}

// Returns false for a non-hex byte (the caller aborts the packet).
bool take_digit(Receiver& rx, std::uint8_t byte) {
    ++rx.digit_count;
    const int value = hex_digit_value(byte);
    if (value < 0) {
        return false;
    }
    if (rx.digit_count % 2 == 1) {
        rx.high_nibble = value * 16;
    } else {
        rx.buffer[rx.byte_count++] = static_cast<std::uint8_t>(rx.high_nibble + value);
    }
    return true;
}

void start_packet(Receiver& rx) {
    rx.line = packet_timestamp(read_clock());
    rx.alres_text.clear();
    rx.digit_count = 0;
    rx.byte_count = 0;
    rx.state = RxState::FIRST_BLOCK;
}

void end_packet(Receiver& rx) {
    rx.line.clear();
    rx.state = RxState::IDLE;
}

void abort_packet(Receiver& rx) {
    if (rx.state == RxState::FIRST_BLOCK) {
        rx.line += "*Processing error (1Blk): non-hex ASCII char received in data; discarding "
                   "packet\r\n";
        queue_record(rx.out, "S,2," + rx.line);
    } else {
        rx.line += "*Processing error (SBlk): non-hex ASCII char received in data; discarding "
                   "packet\r\n";
        queue_record(rx.out, "S,3," + rx.line);
    }
    write_end_of_packet(rx);
    end_packet(rx);
}

void finish_p_record(Receiver& rx) {
    const std::string record = "P," + rx.alres_text + rx.line;
    queue_record(rx.out, record);
    process_p_string(record, rx.first_payload, rx.out);
}

void finish_first_block(Receiver& rx) {
    const int length = rx.first_payload;
    std::array<std::uint8_t, kMaxFirstPayload> payload{};

    const TimeMark ta = read_clock();
    const int result = record_result(decode_first_block(
        rx.fec, std::span(rx.buffer.data(), rx.byte_count), std::span(payload.data(), length)));
    const int alres = payload[0] >> 2;
    const int mant_len = (payload[0] & 3) * 256 + payload[1];
    rx.usec_fblk = elapsed_usec(ta, read_clock());

    append_number(rx.line, mant_len);
    append_number(rx.line, length);
    for (int i = 0; i < length; ++i) {
        append_hex_byte(rx.line, payload[i]);
    }
    append_number(rx.line, result);
    rx.alres_text = std::to_string(alres) + ",";

    if (result < 0) {
        rx.line += "*Bad First Block, uncorrectable bit errors; discarding packet\r\n";
        queue_record(rx.out, "S,1," + rx.alres_text + rx.line);
        write_end_of_packet(rx);
        end_packet(rx);
    } else if (has_second_blocks(mant_len, length)) {
        rx.geometry = second_block_geometry(mant_len, length);
        rx.second_start = read_clock();
        rx.digit_count = 0;
        rx.byte_count = 0;
        rx.state = RxState::SECOND_BLOCKS;
    } else {
        rx.line += std::to_string(rx.usec_fblk) + "\r\n";
        finish_p_record(rx);
        write_end_of_packet(rx);
        end_packet(rx);
    }
}

void finish_second_blocks(Receiver& rx) {
    write_end_of_packet(rx);

    std::array<DecodedBlock, kMaxSecondBlocks> blocks{};
    const int count = decode_second_blocks(rx.fec, rx.geometry,
                                           std::span(rx.buffer.data(), rx.byte_count), blocks);
    for (int b = 0; b < count; ++b) {
        const DecodedBlock& block = blocks[b];
        append_number(rx.line, block.length);
        for (int i = 0; i < block.length; ++i) {
            append_hex_byte(rx.line, block.payload[i]);
        }
        append_number(rx.line, record_result(block.rs_result));
    }
    const long long usec_sblks = elapsed_usec(rx.second_start, read_clock());
    rx.line += std::to_string(rx.usec_fblk) + "," + std::to_string(usec_sblks) + "\r\n";
    finish_p_record(rx);
    end_packet(rx);
}

void handle_byte(Receiver& rx, std::uint8_t byte) {
    switch (rx.state) {
    case RxState::IDLE:
        if (byte == 'x') {
            start_packet(rx);
        }
        return;
    case RxState::FIRST_BLOCK:
    case RxState::SECOND_BLOCKS:
        break;
    }
    if (!take_digit(rx, byte)) {
        abort_packet(rx);
        // An "x" is the start of the next packet: keep it rather than lose
        // a good packet behind a truncated one.
        if (byte == 'x') {
            start_packet(rx);
        }
        return;
    }
    if (rx.state == RxState::FIRST_BLOCK) {
        if (rx.digit_count == first_block_digits(rx.first_payload)) {
            finish_first_block(rx);
        }
    } else if (rx.digit_count == rx.geometry.expected_digits) {
        finish_second_blocks(rx);
    }
}

// ---- The port ----

enum class PortEvent { Data, End, Lost, Retry };

PortEvent read_port(Port& port, std::span<std::uint8_t> chunk, std::size_t& length) {
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

void report_lost_port(const Port& port) {
    std::fprintf(stdout, "Lost serial port %s; waiting for it to return\r\n", port.device.c_str());
    std::fflush(stdout);
}

bool try_reopen(Port& port, const std::string& device) {
    Port reopened;
    if (!open_port(device, reopened)) {
        return false;
    }
    port = std::move(reopened);
    std::fprintf(stdout, "Reopened serial port %s\r\n", device.c_str());
    std::fflush(stdout);
    return true;
}

} // namespace

TimeMark read_clock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return {static_cast<long long>(now.tv_sec), now.tv_nsec / 1'000'000};
}

long long elapsed_usec(const TimeMark& a, const TimeMark& b) {
    if (b.seconds - a.seconds > 0) {
        return ((b.seconds - a.seconds) * 1000 + b.milliseconds - a.milliseconds) * 1000;
    }
    if (b.milliseconds < a.milliseconds) {
        return 0;
    }
    return (b.milliseconds - a.milliseconds) * 1000LL;
}

std::string packet_timestamp(const TimeMark& mark) {
    const std::time_t seconds = static_cast<std::time_t>(mark.seconds);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y,%m,%d,%T.", &utc);
    std::string stamp(text, length);
    for (char& c : stamp) {
        if (c == ':') {
            c = ',';
        }
    }
    char millis[16];
    std::snprintf(millis, sizeof millis, "%03ld,", mark.milliseconds);
    return stamp + millis;
}

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
    Receiver rx(port, fec, out);
    rx.line.reserve(kLineCapacity);
    std::array<std::uint8_t, 4096> chunk{};
    bool lost = false;
    std::string lost_device;

    for (;;) {
        pollfd fds[2] = {{stop_fd, POLLIN, 0}, {port.fd, POLLIN, 0}};
        const nfds_t count = (port.fd >= 0 && !lost) ? 2 : 1;
        const int timeout = lost ? kReopenIntervalMs : -1;
        if (poll(fds, count, timeout) < 0) {
            continue; // EINTR: the handler has written to the pipe
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (lost) {
            lost = !try_reopen(port, lost_device);
            continue;
        }
        if (count < 2 || fds[1].revents == 0) {
            continue;
        }
        std::size_t length = 0;
        const PortEvent event = read_port(port, chunk, length);
        if (event == PortEvent::End) {
            break;
        }
        if (event == PortEvent::Lost) {
            report_lost_port(port);
            lost_device = port.device;
            close_port(port);
            lost = true;
            continue;
        }
        for (std::size_t i = 0; i < length; ++i) {
            handle_byte(rx, chunk[i]);
            flush_pending_output(out, std::chrono::steady_clock::now());
        }
    }
    drain_stop_pipe();
    last_flush(out, stop_fd);
    drain_stop_pipe();
    return report_unwritten(out) ? 0 : kExitRecordsNotWritten;
}

} // namespace quorvel
