#include "simulator/scenario.h"

#include "simulator/alert2.h"
#include "simulator/expect.h"
#include "simulator/mant_packet.h"

// libfec's header has no C++ linkage block of its own.
extern "C" {
#include <fec.h>
}

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>
#include <stdexcept>

namespace sondrel {

namespace {

constexpr std::size_t kMaxMant = 1023;
constexpr const char kNonHex[] = "abcdefGXz #\r\n-.";

// Does libfec find this codeword uncorrectable? A miscorrection would make
// the decoder report different bytes than predicted, so such patterns are
// not used.
bool uncorrectable(const Bytes& codeword) {
    void* rs = init_rs_char(8, 0x187, 112, 11, 16, 239 - static_cast<int>(codeword.size() - 16));
    if (!rs) {
        throw std::runtime_error("init_rs_char failed");
    }
    Bytes copy = codeword;
    int result = decode_rs_char(rs, copy.data(), nullptr, 0);
    free_rs_char(rs);
    return result < 0;
}

ReceivedBlock received_from(const Bytes& codeword, int result) {
    const std::size_t k = codeword.size() - 16;
    return ReceivedBlock{descramble(std::span(codeword).first(k)), result};
}

} // namespace

Scenario::Scenario(const ScenarioOptions& options)
    : options_(options), state_(0x5EED0000ULL ^ options.seed),
      clock_(options.start_time.value_or(0)) {
    if (options_.first_payload < 17 || options_.first_payload > 32) {
        throw std::invalid_argument("first-block length must be 17..32");
    }
    if (options_.faults.total() > 100) {
        throw std::invalid_argument("fault percentages add up to more than 100");
    }
    const int count = 4 + static_cast<int>(draw(5));
    while (static_cast<int>(stations_.size()) < count) {
        auto address = static_cast<std::uint16_t>(100 + draw(65000));
        bool taken = std::any_of(stations_.begin(), stations_.end(),
                                 [address](const Station& s) { return s.address == address; });
        if (!taken) {
            stations_.push_back(Station{address, static_cast<std::uint16_t>(draw(4000)),
                                        0.5F + static_cast<float>(draw(300)) / 100.0F, 0});
        }
    }
}

std::uint32_t Scenario::draw(std::uint32_t bound) {
    // splitmix64: fully specified, so a seed means the same stream everywhere.
    state_ += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return bound == 0 ? 0 : static_cast<std::uint32_t>(z % bound);
}

FaultKind Scenario::pick_fault(bool last) {
    const FaultRates& f = options_.faults;
    int roll = static_cast<int>(draw(100));
    const std::pair<int, FaultKind> kinds[] = {
        {f.code_bits, FaultKind::code_bits}, {f.rs_corrected, FaultKind::rs_corrected},
        {f.rs_failed, FaultKind::rs_failed}, {f.non_hex, FaultKind::non_hex},
        {f.truncated, FaultKind::truncated}, {f.overlong, FaultKind::overlong},
    };
    for (const auto& [percent, kind] : kinds) {
        if (roll < percent) {
            return kind == FaultKind::truncated && last ? FaultKind::none : kind;
        }
        roll -= percent;
    }
    return FaultKind::none;
}

Bytes Scenario::app_packet(Station& station, int& payload_kind, Size size) {
    using namespace alert2;
    AppHeader header{station.packet_id++ & 7, chance(5), std::nullopt};
    if (size == Size::big || chance(50)) {
        header.time_stamp =
            half_day_seconds(options_.start_time ? clock_ : std::int64_t{std::time(nullptr)});
    }
    Bytes app = app_header(header);
    // Small packets fit the first block on their own, even with L = 17.
    const std::size_t budget = size == Size::big     ? 200 + draw(700)
                               : size == Size::small ? 9
                                                     : 10 + draw(60);
    auto fits = [&](std::size_t n) { return app.size() + n <= budget; };
    if (size == Size::small) {
        header.time_stamp.reset();
        app = app_header(header);
    }
    const bool big = size == Size::big;
    if (chance(15) && size != Size::small) {
        payload_kind = 1;
        do {
            CompactReport r{static_cast<std::uint16_t>((station.address * 7U + draw(40)) & 0x1FFF),
                            static_cast<std::uint16_t>(draw(2048)),
                            static_cast<std::uint8_t>(draw(256))};
            Bytes item = compact_report(r);
            app.insert(app.end(), item.begin(), item.end());
        } while (fits(4));
        return app;
    }
    payload_kind = 0;
    bool any = false;
    do {
        Bytes body;
        switch (draw(3)) {
        case 0: {
            std::vector<std::uint8_t> tips(draw(big ? 12 : 3));
            for (auto& t : tips) {
                t = static_cast<std::uint8_t>(draw(256));
            }
            std::sort(tips.rbegin(), tips.rend());
            station.rain_total = static_cast<std::uint16_t>(station.rain_total + tips.size());
            body = rain_tip_body(Reading{1, Value::unsigned_int(station.rain_total, 2)}, tips);
            body = element(kRainTip, body);
            break;
        }
        case 1: {
            station.stage =
                std::max(0.0F, station.stage + (static_cast<float>(draw(21)) - 10.0F) / 100.0F);
            std::vector<Reading> readings{
                {2, Value::real(std::round(station.stage * 100.0F) / 100.0F)},
                {3, Value::unsigned_int(1150 + draw(240), 2)},
                {4, Value::signed_int(static_cast<std::int32_t>(draw(54)) - 15, 1)},
                {5, Value::signed_int(static_cast<std::int32_t>(draw(320)) - 20, 2)},
                {6, Value::unsigned_int(draw(60), 1)},
                {7, Value::real(980.0F + static_cast<float>(draw(600)) / 10.0F)},
                {8, Value::unsigned_int(draw(0x7FFFFFFF), 4)},
                {9, Value::signed_int(static_cast<std::int32_t>(draw(2000000)) - 1000000, 4)},
                {10, Value::unsigned_int(draw(1U << 24), 3)},
                {11, Value::signed_int(static_cast<std::int32_t>(draw(1U << 24)) - (1 << 23), 3)},
            };
            readings.resize(1 + draw(big ? 10 : 2));
            body = element(kGeneralSensor, general_sensor_body(readings));
            break;
        }
        default: {
            std::array<std::int32_t, 8> values{};
            for (int bit = 0; bit < 8; ++bit) {
                const int width = msr_width(bit);
                const std::uint32_t span = width == 2 ? 65536U : 256U;
                auto v = static_cast<std::int32_t>(draw(span));
                if (msr_signed(bit)) {
                    v -= static_cast<std::int32_t>(span / 2);
                }
                values[static_cast<std::size_t>(bit)] = v;
            }
            auto mask = static_cast<std::uint8_t>(1 + draw(255));
            body = element(kMultipleSensor, multiple_sensor_body(mask, values));
            break;
        }
        }
        if (!fits(body.size()) && any) {
            break;
        }
        app.insert(app.end(), body.begin(), body.end());
        any = true;
    } while (fits(5));
    return app;
}

Bytes Scenario::mant_packet_for(Station& station, Size size, std::size_t room) {
    const bool big = size == Size::big;
    MantHeader h;
    h.source = station.address;
    h.hop_limit = static_cast<int>(draw(8));
    if (size != Size::small && (big || chance(50))) {
        h.extra_kind = chance(15) ? 1 : (chance(5) ? 2 + static_cast<int>(draw(6)) : 0);
        h.extra = static_cast<std::uint8_t>(draw(256));
        h.h0_bit2 = chance(10) ? 1 : 0;
        h.h1_middle = chance(10) ? static_cast<int>(draw(8)) : 0;
        h.h1_bit0 = chance(10) ? 1 : 0;
        h.h2_bit7 = chance(10) ? 1 : 0;
        if (chance(30)) {
            h.destination = static_cast<std::uint16_t>(draw(65536));
        }
        if (chance(25)) {
            std::vector<std::uint16_t> path(1 + draw(5));
            for (auto& a : path) {
                a = static_cast<std::uint16_t>(draw(65536));
            }
            h.path = path;
        }
    }
    int kind = 0;
    Bytes app = app_packet(station, kind, size);
    h.payload_kind = kind;
    const std::size_t header = static_cast<std::size_t>(mant_header_length(h));
    if (header + app.size() > room) {
        return {}; // the frame is full
    }
    return mant_packet(h, app);
}

Bytes Scenario::next_mant_data() {
    // A quarter of the frames are small enough for the first block alone.
    const std::uint32_t roll = draw(100);
    const Size size = roll < 25 ? Size::small : roll < 45 ? Size::big : Size::normal;
    const int packets = size != Size::small && chance(35) ? 2 + static_cast<int>(draw(3)) : 1;
    Bytes mant;
    for (int i = 0; i < packets; ++i) {
        Station& station = stations_[draw(static_cast<std::uint32_t>(stations_.size()))];
        Bytes one = mant_packet_for(station, i == 0 ? size : Size::normal, kMaxMant - mant.size());
        if (one.empty()) {
            break;
        }
        mant.insert(mant.end(), one.begin(), one.end());
    }
    return mant;
}

EncodedPacket Scenario::next(bool last) {
    const FaultKind fault = pick_fault(last);
    // Record where each MANT packet starts, for the overlong fault.
    std::size_t last_start = 0;
    int packets = 0;
    Bytes mant;
    {
        Bytes all = next_mant_data();
        for (std::size_t off = 0; off < all.size(); ++packets) {
            last_start = off;
            const std::uint8_t h0 = all[off];
            std::size_t h = 6 + 2 * (h0 & 1) + (((h0 >> 3) & 7) == 1 ? 1 : 0);
            if (h0 & 2) {
                h += 1 + 2 * all[off + h];
            }
            off += h + (all[off + 2] & 0x0F) * 256 + all[off + 3];
        }
        mant = std::move(all);
    }
    if (fault == FaultKind::overlong && !mant.empty()) {
        const std::size_t at = last_start + 2;
        const unsigned length = (mant[at] & 0x0FU) * 256 + mant[at + 1] + 1 + draw(40);
        mant[at] = static_cast<std::uint8_t>((mant[at] & 0xF0U) | (length >> 8));
        mant[at + 1] = static_cast<std::uint8_t>(length & 0xFF);
    }
    EncodedPacket packet = encode(mant, fault);
    packet.mant_packets = packets;
    clock_ += 1;
    return packet;
}

struct Scenario::Frame {
    Codewords words;
    std::vector<ReceivedBlock> received; // what the decoder will see, per block

    std::size_t blocks() const { return 1 + words.second.size(); }
    Bytes& word(std::size_t k) { return k == 0 ? words.first : words.second[k - 1]; }
};

int Scenario::pick_block(const Frame& frame) {
    switch (options_.faults.block) {
    case FaultBlock::first:
        return 0;
    case FaultBlock::second:
        return frame.words.second.empty()
                   ? -1
                   : 1 + static_cast<int>(
                             draw(static_cast<std::uint32_t>(frame.words.second.size())));
    case FaultBlock::any:
    default:
        return static_cast<int>(draw(static_cast<std::uint32_t>(frame.blocks())));
    }
}

bool Scenario::add_symbol_errors(Frame& frame) {
    const int block = pick_block(frame);
    if (block < 0) {
        return false;
    }
    const int count = 1 + static_cast<int>(draw(8));
    corrupt_symbols(frame.word(static_cast<std::size_t>(block)), count, draw(0xFFFFFFFFU));
    frame.received[static_cast<std::size_t>(block)].result = count;
    return true;
}

bool Scenario::make_block_uncorrectable(Frame& frame) {
    const int block = pick_block(frame);
    if (block < 0) {
        return false;
    }
    const auto b = static_cast<std::size_t>(block);
    const Bytes clean = frame.word(b);
    // Random symbols first; the parity bytes alone as a fallback, which leaves
    // the payload (and so the MANT walk) intact. Patterns that libfec would
    // miscorrect, or whose walk the decoder may end either way, are not used.
    for (int attempt = 0; attempt < 40; ++attempt) {
        Bytes word = clean;
        if (attempt < 32) {
            corrupt_symbols(word, 12 + static_cast<int>(draw(5)), draw(0xFFFFFFFFU));
        } else {
            for (std::size_t i = word.size() - 16; i < word.size(); ++i) {
                word[i] ^= static_cast<std::uint8_t>(1 + draw(255));
            }
        }
        if (!uncorrectable(word)) {
            continue;
        }
        std::vector<ReceivedBlock> trial = frame.received;
        trial[b] = received_from(word, -1);
        if (expected_frame_records(trial, options_.first_payload).ambiguous) {
            continue;
        }
        frame.word(b) = word;
        frame.received = std::move(trial);
        return true;
    }
    return false;
}

void Scenario::add_code_bit_errors(CodeStreams& code) {
    // One flipped bit every 48 to 127 code bits: well within what the
    // Viterbi decoder corrects.
    for (Bytes* stream : {&code.first, &code.second}) {
        std::vector<int> flips;
        const int bits = static_cast<int>(stream->size() * 8) - 4;
        for (int bit = static_cast<int>(draw(40)); bit < bits;
             bit += 48 + static_cast<int>(draw(80))) {
            flips.push_back(bit);
        }
        flip_code_bits(*stream, flips);
    }
}

bool Scenario::spoil_stream(const Frame& frame, std::size_t first_digits, std::string& digits,
                            EncodedPacket& packet) {
    int block = pick_block(frame);
    if (packet.fault == FaultKind::truncated && options_.faults.block == FaultBlock::any) {
        block = frame.words.second.empty() || draw(2) == 0 ? 0 : 1;
    }
    if (block < 0) {
        return false;
    }
    const bool in_first = block == 0;
    const std::size_t at =
        in_first ? draw(static_cast<std::uint32_t>(first_digits))
                 : first_digits + draw(static_cast<std::uint32_t>(digits.size() - first_digits));
    if (packet.fault == FaultKind::non_hex) {
        digits[at] = kNonHex[draw(sizeof kNonHex - 1)];
    } else {
        digits.resize(at);
        packet.truncated = true;
    }
    packet.expected.push_back(in_first ? expected_first_block_abort()
                                       : expected_second_block_abort(frame.received[0]));
    return true;
}

EncodedPacket Scenario::encode(const Bytes& mant, FaultKind fault) {
    const int l = options_.first_payload;
    Frame frame{make_codewords(airlink_data(static_cast<int>(draw(64)), mant), l), {}};
    for (std::size_t k = 0; k < frame.blocks(); ++k) {
        frame.received.push_back(received_from(frame.word(k), 0));
    }
    EncodedPacket packet;
    packet.fault = fault;
    packet.second_blocks = static_cast<int>(frame.words.second.size());

    if ((fault == FaultKind::rs_corrected && !add_symbol_errors(frame)) ||
        (fault == FaultKind::rs_failed && !make_block_uncorrectable(frame))) {
        packet.fault = FaultKind::none;
    }
    CodeStreams code = encode_codewords(frame.words);
    if (fault == FaultKind::code_bits) {
        add_code_bit_errors(code);
    }
    std::string digits = to_stream(code).substr(1);
    if (fault == FaultKind::non_hex || fault == FaultKind::truncated) {
        if (spoil_stream(frame, 2 * code.first.size(), digits, packet)) {
            packet.stream = "x" + digits + (packet.truncated ? "" : "\r\n");
            return packet;
        }
        packet.fault = FaultKind::none;
    }
    packet.expected = expected_frame_records(frame.received, l).lines;
    packet.stream = "x" + digits + "\r\n";
    return packet;
}

} // namespace sondrel
