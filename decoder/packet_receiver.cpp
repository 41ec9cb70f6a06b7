#include "decoder/packet_receiver.h"

#include "decoder/mant.h"

#include <cstdio>
#include <ctime>

namespace quorvel {

namespace {

constexpr std::size_t kLineCapacity = 8192;

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

int hex_digit_value(std::uint8_t byte) {
    if (byte >= '0' && byte <= '9') {
        return byte - '0';
    }
    if (byte >= 'A' && byte <= 'F') {
        return byte - 'A' + 10;
    }
    return -1;
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

PacketReceiver::PacketReceiver(FecContext& fec, RecordOutput& out, EndOfPacket end_of_packet,
                               ClockReading clock)
    : fec_(fec), out_(out), end_of_packet_(std::move(end_of_packet)), clock_(clock),
      first_payload_(fec.first_payload) {
    line_.reserve(kLineCapacity);
}

void PacketReceiver::feed(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes) {
        handle_byte(byte);
    }
}

// Returns false for a non-hex byte (the caller aborts the packet).
bool PacketReceiver::take_digit(std::uint8_t byte) {
    ++digit_count_;
    const int value = hex_digit_value(byte);
    if (value < 0) {
        return false;
    }
    if (digit_count_ % 2 == 1) {
        high_nibble_ = value * 16;
    } else {
        buffer_[byte_count_++] = static_cast<std::uint8_t>(high_nibble_ + value);
    }
    return true;
}

void PacketReceiver::start_packet() {
    line_ = packet_timestamp(clock_());
    alres_text_.clear();
    digit_count_ = 0;
    byte_count_ = 0;
    state_ = RxState::FIRST_BLOCK;
}

void PacketReceiver::end_packet() {
    line_.clear();
    state_ = RxState::IDLE;
}

void PacketReceiver::abort_packet() {
    if (state_ == RxState::FIRST_BLOCK) {
        line_ += "*Processing error (1Blk): non-hex ASCII char received in data; discarding "
                 "packet\r\n";
        queue_record(out_, "S,2," + line_);
    } else {
        line_ += "*Processing error (SBlk): non-hex ASCII char received in data; discarding "
                 "packet\r\n";
        queue_record(out_, "S,3," + line_);
    }
    end_of_packet_();
    end_packet();
}

void PacketReceiver::finish_p_record() {
    const std::string record = "P," + alres_text_ + line_;
    queue_record(out_, record);
    process_p_string(record, first_payload_, out_);
}

void PacketReceiver::finish_first_block() {
    const int length = first_payload_;
    std::array<std::uint8_t, kMaxFirstPayload> payload{};

    const TimeMark ta = clock_();
    const int result = decode_first_block(fec_, std::span(buffer_.data(), byte_count_),
                                          std::span(payload.data(), length));
    const int alres = payload[0] >> 2;
    const int mant_len = (payload[0] & 3) * 256 + payload[1];
    usec_fblk_ = elapsed_usec(ta, clock_());

    append_number(line_, mant_len);
    append_number(line_, length);
    for (int i = 0; i < length; ++i) {
        append_hex_byte(line_, payload[i]);
    }
    append_number(line_, result);
    alres_text_ = std::to_string(alres) + ",";

    if (result < 0) {
        line_ += "*Bad First Block, uncorrectable bit errors; discarding packet\r\n";
        queue_record(out_, "S,1," + alres_text_ + line_);
        end_of_packet_();
        end_packet();
    } else if (has_second_blocks(mant_len, length)) {
        geometry_ = second_block_geometry(mant_len, length);
        second_start_ = clock_();
        digit_count_ = 0;
        byte_count_ = 0;
        state_ = RxState::SECOND_BLOCKS;
    } else {
        line_ += std::to_string(usec_fblk_) + "\r\n";
        finish_p_record();
        end_of_packet_();
        end_packet();
    }
}

void PacketReceiver::finish_second_blocks() {
    // The receiver gets its bytes before the decoding, not after it.
    end_of_packet_();

    std::array<DecodedBlock, kMaxSecondBlocks> blocks{};
    const int count =
        decode_second_blocks(fec_, geometry_, std::span(buffer_.data(), byte_count_), blocks);
    for (int b = 0; b < count; ++b) {
        const DecodedBlock& block = blocks[b];
        append_number(line_, block.length);
        for (int i = 0; i < block.length; ++i) {
            append_hex_byte(line_, block.payload[i]);
        }
        append_number(line_, block.rs_result);
    }
    const long long usec_sblks = elapsed_usec(second_start_, clock_());
    line_ += std::to_string(usec_fblk_) + "," + std::to_string(usec_sblks) + "\r\n";
    finish_p_record();
    end_packet();
}

void PacketReceiver::handle_byte(std::uint8_t byte) {
    if (state_ == RxState::IDLE) {
        if (byte == 'x') {
            start_packet();
        }
        return;
    }
    if (!take_digit(byte)) {
        abort_packet();
        // An "x" is the start of the next packet: keep it rather than lose
        // a good packet behind a truncated one.
        if (byte == 'x') {
            start_packet();
        }
        return;
    }
    if (state_ == RxState::FIRST_BLOCK) {
        if (digit_count_ == first_block_digits(first_payload_)) {
            finish_first_block();
        }
    } else if (digit_count_ == geometry_.expected_digits) {
        finish_second_blocks();
    }
}

} // namespace quorvel
