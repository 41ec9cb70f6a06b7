#include "display/decoding/procedures.h"

#include <array>
#include <cmath>
#include <exception>
#include <stdexcept>

namespace veltaro {

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The two digits of a byte as 0..255; a digit pair cut short or holding
// other characters reads as the digits in front of the first other one.
std::int64_t ByteValue(const std::string& pair) {
    return static_cast<std::int64_t>(HexValue(pair));
}

std::int64_t SignedFrom(std::int64_t value, int bytes) {
    const std::int64_t range = std::int64_t{1} << (8 * bytes);
    return value >= range / 2 ? value - range : value;
}

} // namespace

double HexValue(std::string_view digits) {
    std::uint32_t value = 0;
    int count = 0;
    for (char c : digits) {
        const int digit = DigitValue(c);
        if (digit < 0) {
            break;
        }
        if (count == 8) {
            throw std::runtime_error("A hexadecimal number has more than eight digits");
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
        ++count;
    }
    if (count <= 4) {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    }
    return static_cast<std::int32_t>(value);
}

std::string TakeByte(std::string& text) {
    std::string digits = text.substr(0, 2);
    if (text.size() > 2) {
        text.erase(0, 3);
    }
    return digits;
}

std::int64_t ReadInteger(MStart& m, std::int16_t signedness, std::int16_t count,
                         std::string& text) {
    std::array<std::string, 4> pairs;
    try {
        for (int k = 0; k < count; ++k) {
            if (k == static_cast<int>(pairs.size())) {
                throw std::runtime_error("An integer field is longer than four bytes");
            }
            pairs[static_cast<std::size_t>(k)] = TakeByte(text);
        }
    } catch (const std::exception& e) {
        ReportProblem(m, e.what(), "  Problem reading integer");
        return 0;
    }
    if (count < 1) {
        return 0;
    }
    std::int64_t value = 0;
    for (int k = 0; k < count; ++k) {
        value = value * 256 + ByteValue(pairs[static_cast<std::size_t>(k)]);
    }
    return signedness == 2 ? SignedFrom(value, count) : value;
}

double ReadFloat(MStart& m, std::int16_t /*type_code*/, std::string& text) {
    if (text.size() != 12) {
        m.PacketUnreadable = true;
        return 0;
    }
    const int b1 = static_cast<int>(HexValue(TakeByte(text)));
    const int b2 = static_cast<int>(HexValue(TakeByte(text)));
    const int b3 = static_cast<int>(HexValue(TakeByte(text)));
    const int b4 = static_cast<int>(HexValue(TakeByte(text)));
    const double sign = (b1 & 128) ? -1.0 : 1.0;
    const int exponent = (b1 & 127) * 2 + (b2 & 128) / 128 - 127;
    const double fraction = ((b2 & 127) * 65536.0 + b3 * 256.0 + b4) / 8388608.0;
    // Exponent fields 0 and 255 get no special case: the zero patterns give
    // +-2^-127, which every caller rounds to 0.
    return sign * std::ldexp(1.0 + fraction, exponent);
}

} // namespace veltaro
