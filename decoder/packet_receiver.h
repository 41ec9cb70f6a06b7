// The packet state machine: the receiver's "x" + hex-digit stream in, FEC,
// P and S records queued, each P record through the MANT stage, and a call
// for the end-of-packet bytes wherever the receiver expects them. Pure
// apart from the clock it is given: no port, no files, no signals.
#pragma once

#include "decoder/fec.h"
#include "decoder/records.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace quorvel {

enum class RxState { IDLE, FIRST_BLOCK, SECOND_BLOCKS };

// A reading of the clock: whole seconds since 1970 (UTC) and milliseconds.
struct TimeMark {
    long long seconds = 0;
    long milliseconds = 0;
};

TimeMark read_clock();

long long elapsed_usec(const TimeMark& a, const TimeMark& b);

// The packet line's timestamp text, e.g. "2014,06,04,20,25,26.007,".
std::string packet_timestamp(const TimeMark& mark);

class PacketReceiver {
public:
    using EndOfPacket = std::function<void()>;
    using ClockReading = TimeMark (*)();

    // end_of_packet is called once per packet, at the moment the five 0x00
    // bytes are due. The FEC context fixes L.
    PacketReceiver(FecContext& fec, RecordOutput& out, EndOfPacket end_of_packet,
                   ClockReading clock = read_clock);

    // Handles the bytes one at a time, as they came from the receiver.
    void feed(std::span<const std::uint8_t> bytes);

    RxState state() const { return state_; }

private:
    void handle_byte(std::uint8_t byte);
    bool take_digit(std::uint8_t byte);
    void start_packet();
    void end_packet();
    void abort_packet();
    void finish_first_block();
    void finish_second_blocks();
    void finish_p_record();

    FecContext& fec_;
    RecordOutput& out_;
    EndOfPacket end_of_packet_;
    ClockReading clock_;
    int first_payload_;

    RxState state_ = RxState::IDLE;
    int digit_count_ = 0;
    int byte_count_ = 0;
    int high_nibble_ = 0;
    std::array<std::uint8_t, kReceiveBufferSize> buffer_{};
    std::string line_; // the packet line under construction
    std::string alres_text_;
    SecondBlockGeometry geometry_;
    TimeMark second_start_{}; // Tc
    long long usec_fblk_ = 0;
};

} // namespace quorvel
