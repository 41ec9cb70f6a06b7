// The traffic the receiver simulator plays: a handful of field stations
// sending ALERT2 reports, packed into AirLink frames, with faults injected on
// request. Everything is drawn from one seeded generator, so a seed (and a
// start time) gives the same stream and the same expected records every run.
#pragma once

#include "simulator/encoder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sondrel {

enum class FaultBlock { any, first, second };

// Percentages of packets that get each kind of fault; one packet gets at most
// one kind, so they must add up to 100 or less.
struct FaultRates {
    int code_bits = 0;    // scattered code-bit errors the Viterbi decoder fixes
    int rs_corrected = 0; // 1..8 Reed-Solomon symbol errors in one block
    int rs_failed = 0;    // 12..16 symbol errors: the block is uncorrectable
    int non_hex = 0;      // one digit replaced by a character that is no uppercase hex digit
    int truncated = 0;    // the packet stops early; the next "x" aborts it
    int overlong = 0;     // the last MANT packet claims more bytes than the frame holds
    FaultBlock block = FaultBlock::any; // where symbol errors and non-hex characters go

    int total() const {
        return code_bits + rs_corrected + rs_failed + non_hex + truncated + overlong;
    }
};

struct ScenarioOptions {
    int first_payload = 24; // L, 17..32
    std::uint32_t seed = 1;
    // Scenario clock for application time stamps, seconds since 1970: set, it
    // starts there and advances one second a packet (reproducible runs);
    // unset, each packet takes the system clock, as a station in the field.
    std::optional<std::int64_t> start_time;
    FaultRates faults;
};

enum class FaultKind { none, code_bits, rs_corrected, rs_failed, non_hex, truncated, overlong };

struct EncodedPacket {
    std::string stream; // "x", the digits, and CR LF unless truncated
    // The records the decoder writes for this packet. For a truncated packet
    // they appear only once the next packet's "x" arrives.
    std::vector<std::string> expected;
    bool truncated = false;
    FaultKind fault = FaultKind::none;
    int mant_packets = 0;
    int second_blocks = 0;
};

class Scenario {
public:
    explicit Scenario(const ScenarioOptions& options);

    // The next packet. The last packet of a run is never truncated: nothing
    // would follow to abort it.
    EncodedPacket next(bool last = false);

    // The MANT data of the next frame (the MANT packets back to back), before
    // any fault; exposed for tests of the content.
    Bytes next_mant_data();

private:
    struct Station {
        std::uint16_t address;
        std::uint16_t rain_total;
        float stage;
        int packet_id;
    };

    enum class Size { small, normal, big };

    std::uint32_t draw(std::uint32_t bound);
    bool chance(int percent) { return static_cast<int>(draw(100)) < percent; }
    FaultKind pick_fault(bool last);
    Bytes app_packet(Station& station, int& payload_kind, Size size);
    Bytes mant_packet_for(Station& station, Size size, std::size_t room);
    struct Frame;
    int pick_block(const Frame& frame);
    bool add_symbol_errors(Frame& frame);
    bool make_block_uncorrectable(Frame& frame);
    void add_code_bit_errors(CodeStreams& code);
    // Non-hex character or truncation; false when the packet has no block of
    // the kind asked for.
    bool spoil_stream(const Frame& frame, std::size_t first_digits, std::string& digits,
                      EncodedPacket& packet);
    EncodedPacket encode(const Bytes& mant, FaultKind fault);

    ScenarioOptions options_;
    std::uint64_t state_;
    std::vector<Station> stations_;
    std::int64_t clock_;
};

} // namespace sondrel
