// The five 0x00 bytes the receiver gets per packet. The port is non-blocking:
// what it does not take at once waits here and goes out, whole groups in
// order, when the port is writable again.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

namespace quorvel {

constexpr std::size_t kEndOfPacketLength = 5;

// A receiver that takes no byte for this long has its waiting groups dropped.
constexpr std::chrono::seconds kEndOfPacketStall{10};

class EndOfPacketQueue {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit EndOfPacketQueue(std::FILE* console) : console_(console) {}

    // Queues one packet's group and writes what the port takes now.
    void queue_group(int fd, TimePoint now);

    // Writes waiting bytes while the port takes them.
    void write_waiting(int fd, TimePoint now);

    // Bytes not yet written (a partly written group counts its rest).
    std::size_t waiting() const { return waiting_; }

    // When waiting bytes have waited long enough to be dropped.
    TimePoint stall_deadline() const { return last_progress_ + kEndOfPacketStall; }

    // Drops the groups that have not begun to go out once the port has taken
    // nothing for kEndOfPacketStall; the rest of a begun group stays, so the
    // receiver never sees a cut group.
    void drop_if_stalled(TimePoint now);

    // The port is gone: everything waiting is dropped.
    void discard();

    // One console line saying how many groups never went out; then counts anew.
    void report_dropped();

private:
    std::FILE* console_;
    std::size_t waiting_ = 0;
    std::size_t dropped_ = 0;
    TimePoint last_progress_{};
};

} // namespace quorvel
