#include "decoder/end_of_packet.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <unistd.h>

namespace quorvel {

namespace {

// Every byte of every group is 0x00, so the queue is only a count.
constexpr std::array<std::uint8_t, 4096> kZeros{};

} // namespace

void EndOfPacketQueue::queue_group(int fd, TimePoint now) {
    if (waiting_ == 0) {
        last_progress_ = now;
    }
    waiting_ += kEndOfPacketLength;
    write_waiting(fd, now);
}

void EndOfPacketQueue::write_waiting(int fd, TimePoint now) {
    bool progress = false;
    while (waiting_ > 0) {
        const ssize_t n = ::write(fd, kZeros.data(), std::min(waiting_, kZeros.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break; // full (EAGAIN) or gone: the loop's read notices a lost port
        }
        waiting_ -= static_cast<std::size_t>(n);
        progress = true;
    }
    if (progress) {
        last_progress_ = now;
        report_dropped();
    }
}

void EndOfPacketQueue::drop_if_stalled(TimePoint now) {
    if (waiting_ == 0 || now < stall_deadline()) {
        return;
    }
    const std::size_t begun = waiting_ % kEndOfPacketLength;
    dropped_ += waiting_ / kEndOfPacketLength;
    waiting_ = begun;
    last_progress_ = now;
}

void EndOfPacketQueue::discard() {
    dropped_ += (waiting_ + kEndOfPacketLength - 1) / kEndOfPacketLength;
    waiting_ = 0;
    report_dropped();
}

void EndOfPacketQueue::report_dropped() {
    if (dropped_ == 0) {
        return;
    }
    if (console_ != nullptr) {
        std::fprintf(console_, "end-of-packet bytes of %zu packets not sent to the receiver\r\n",
                     dropped_);
        std::fflush(console_);
    }
    dropped_ = 0;
}

} // namespace quorvel
