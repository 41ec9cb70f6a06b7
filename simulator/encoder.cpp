#include "simulator/encoder.h"

// libfec's header has no C++ linkage block of its own.
extern "C" {
#include <fec.h>
}

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace sondrel {

namespace {

constexpr int kParity = 16;
constexpr int kMaxPayload = 255 - kParity;
constexpr int kSecondPayload = 32;

struct RsCodecDeleter {
    void operator()(void* rs) const { free_rs_char(rs); }
};
using RsCodec = std::unique_ptr<void, RsCodecDeleter>;

// One codec per payload length, made on first use: a capture of thousands of
// packets would otherwise rebuild the field tables for every block.
void* rs_codec_for(int payload) {
    static std::array<RsCodec, kMaxPayload + 1> codecs;
    RsCodec& codec = codecs.at(static_cast<std::size_t>(payload));
    if (!codec) {
        codec.reset(init_rs_char(8, 0x187, 112, 11, kParity, kMaxPayload - payload));
        if (!codec) {
            throw std::runtime_error("init_rs_char failed");
        }
    }
    return codec.get();
}

int parity_of(unsigned value) {
    return __builtin_parity(value);
}

// Small, fully specified generator so that fault patterns are the same for a
// seed on every platform and standard library.
std::uint32_t next_random(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

Bytes scrambled_block(std::span<const std::uint8_t> airlink, std::size_t offset, std::size_t size) {
    Bytes block(size, 0);
    if (offset < airlink.size()) {
        std::size_t n = std::min(size, airlink.size() - offset);
        std::copy_n(airlink.begin() + static_cast<std::ptrdiff_t>(offset), n, block.begin());
    }
    scramble(block);
    return rs_encode(block);
}

} // namespace

Bytes rs_encode(std::span<const std::uint8_t> payload) {
    if (payload.empty() || payload.size() > static_cast<std::size_t>(kMaxPayload)) {
        throw std::invalid_argument("Reed-Solomon payload must be 1..239 bytes");
    }
    Bytes codeword(payload.begin(), payload.end());
    codeword.resize(payload.size() + kParity);
    encode_rs_char(rs_codec_for(static_cast<int>(payload.size())), codeword.data(),
                   codeword.data() + payload.size());
    return codeword;
}

void scramble(std::span<std::uint8_t> bytes) {
    // The register holds the transmitted (scrambled) bits, so the receiver's
    // self-synchronising descrambler sees the same history.
    std::uint32_t reg = 1;
    for (std::uint8_t& byte : bytes) {
        unsigned out = 0;
        for (int bit = 7; bit >= 0; --bit) {
            unsigned plain = (byte >> bit) & 1U;
            unsigned sent = plain ^ ((reg >> 16) & 1U) ^ ((reg >> 2) & 1U);
            reg = (reg << 1) | sent;
            out = (out << 1) | sent;
        }
        byte = static_cast<std::uint8_t>(out);
    }
}

Bytes convolutional_encode(std::span<const std::uint8_t> data) {
    Bytes code(2 * data.size() + 2, 0);
    std::size_t bit_index = 0;
    auto put = [&code, &bit_index](int symbol) {
        if (symbol) {
            code[bit_index / 8] |= static_cast<std::uint8_t>(0x80U >> (bit_index % 8));
        }
        ++bit_index;
    };
    unsigned reg = 0;
    auto shift_in = [&](unsigned bit) {
        reg = ((reg << 1) | bit) & 0x7FU;
        put(parity_of(reg & 0x6DU));
        put(parity_of(reg & 0x4FU));
    };
    for (std::uint8_t byte : data) {
        for (int bit = 7; bit >= 0; --bit) {
            shift_in((byte >> bit) & 1U);
        }
    }
    for (int tail = 0; tail < 6; ++tail) {
        shift_in(0);
    }
    return code;
}

Bytes airlink_data(int alres, std::span<const std::uint8_t> mant_bytes) {
    if (alres < 0 || alres > 63 || mant_bytes.size() > 1023) {
        throw std::invalid_argument("ALRES must be 0..63 and the MANT data at most 1023 bytes");
    }
    const unsigned mant_len = static_cast<unsigned>(mant_bytes.size());
    Bytes data;
    data.reserve(mant_bytes.size() + 2);
    data.push_back(
        static_cast<std::uint8_t>((static_cast<unsigned>(alres) << 2) | (mant_len >> 8)));
    data.push_back(static_cast<std::uint8_t>(mant_len & 0xFFU));
    data.insert(data.end(), mant_bytes.begin(), mant_bytes.end());
    return data;
}

Codewords make_codewords(std::span<const std::uint8_t> airlink, int first_payload) {
    if (first_payload < 17 || first_payload > 32) {
        throw std::invalid_argument("first-block payload must be 17..32 bytes");
    }
    const std::size_t first = static_cast<std::size_t>(first_payload);
    Codewords words;
    words.first = scrambled_block(airlink, 0, first);
    for (std::size_t offset = first; offset < airlink.size(); offset += kSecondPayload) {
        std::size_t size = std::min<std::size_t>(kSecondPayload, airlink.size() - offset);
        words.second.push_back(scrambled_block(airlink, offset, size));
    }
    return words;
}

CodeStreams encode_codewords(const Codewords& words) {
    CodeStreams code;
    code.first = convolutional_encode(words.first);
    if (!words.second.empty()) {
        Bytes joined;
        for (const Bytes& word : words.second) {
            joined.insert(joined.end(), word.begin(), word.end());
        }
        code.second = convolutional_encode(joined);
    }
    return code;
}

std::string to_stream(const CodeStreams& code) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(1 + 2 * (code.first.size() + code.second.size()));
    text.push_back('x');
    for (const Bytes* part : {&code.first, &code.second}) {
        for (std::uint8_t byte : *part) {
            text.push_back(kDigits[byte >> 4]);
            text.push_back(kDigits[byte & 0x0F]);
        }
    }
    return text;
}

void corrupt_symbols(Bytes& codeword, int count, std::uint32_t seed) {
    const std::size_t n = codeword.size();
    const std::size_t wanted = std::min(n, static_cast<std::size_t>(std::max(count, 0)));
    std::vector<std::size_t> positions(n);
    for (std::size_t i = 0; i < n; ++i) {
        positions[i] = i;
    }
    std::uint32_t state = seed * 2654435761U + 0x9E3779B9U;
    if (state == 0) {
        state = 1;
    }
    // Partial Fisher-Yates: the first `wanted` entries become distinct positions.
    for (std::size_t i = 0; i < wanted; ++i) {
        std::size_t j = i + next_random(state) % (n - i);
        std::swap(positions[i], positions[j]);
        std::uint8_t flip = static_cast<std::uint8_t>(1 + next_random(state) % 255);
        codeword[positions[i]] ^= flip;
    }
}

void flip_code_bits(Bytes& code, std::span<const int> bit_positions) {
    for (int position : bit_positions) {
        if (position < 0 || static_cast<std::size_t>(position) / 8 >= code.size()) {
            continue;
        }
        code[static_cast<std::size_t>(position) / 8] ^=
            static_cast<std::uint8_t>(0x80U >> (position % 8));
    }
}

} // namespace sondrel
