// Builders for receiver streams and expected records, shared by the receive
// loop and end-to-end tests. Expected values come from the encoder's input
// bytes, never from the decoder's own code.
#pragma once

#include "simulator/encoder.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace receive_test {

using sondrel::Bytes;

// A MANT packet: six header bytes (no optional fields), then the payload.
inline Bytes mant_packet(int source, const Bytes& payload, int h1 = 0x00, int hop = 3) {
    Bytes packet = {0x00,
                    static_cast<std::uint8_t>(h1),
                    static_cast<std::uint8_t>((hop << 4) | ((payload.size() >> 8) & 0x0F)),
                    static_cast<std::uint8_t>(payload.size() & 0xFF),
                    static_cast<std::uint8_t>(source >> 8),
                    static_cast<std::uint8_t>(source)};
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

inline Bytes counting_bytes(std::size_t count, int start = 1) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(start + static_cast<int>(i));
    }
    return bytes;
}

inline Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

// What to spoil in the codewords before they are encoded.
struct Faults {
    int first_symbols = 0;
    int second_block = -1; // index of the second block to corrupt
    int second_symbols = 0;
    std::uint32_t seed = 7;
};

inline std::string packet_stream(const Bytes& airlink, int first_payload, Faults faults = {}) {
    sondrel::Codewords words = sondrel::make_codewords(airlink, first_payload);
    if (faults.first_symbols > 0) {
        sondrel::corrupt_symbols(words.first, faults.first_symbols, faults.seed);
    }
    if (faults.second_block >= 0) {
        sondrel::corrupt_symbols(words.second.at(static_cast<std::size_t>(faults.second_block)),
                                 faults.second_symbols, faults.seed);
    }
    return sondrel::to_stream(sondrel::encode_codewords(words));
}

inline void append_hex(std::string& text, std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
    text += ',';
}

// The P record with timestamp fields as "T" and timings as "U". rs: each
// block's expected result in order (first block first).
inline std::string expected_p_record(const Bytes& airlink, int first_payload,
                                     const std::vector<int>& rs) {
    const int mant_len = static_cast<int>(airlink.size()) - 2;
    std::string text =
        "P," + std::to_string(airlink[0] >> 2) + ",T,T,T,T,T,T," + std::to_string(mant_len) + ",";
    std::size_t offset = 0;
    std::size_t block = 0;
    auto add_block = [&](std::size_t length) {
        text += std::to_string(length) + ",";
        for (std::size_t i = 0; i < length; ++i) {
            append_hex(text, offset + i < airlink.size() ? airlink[offset + i] : 0);
        }
        text += std::to_string(rs.at(block++)) + ",";
        offset += length;
    };
    add_block(static_cast<std::size_t>(first_payload));
    while (offset < airlink.size()) {
        add_block(std::min<std::size_t>(32, airlink.size() - offset));
    }
    text += block > 1 ? "U,U" : "U";
    return text;
}

// The N record (dates masked) of a packet built by mant_packet.
inline std::string expected_n_record(const Bytes& packet) {
    std::string text = "N,T,T,T,T,T,T,0,0,0,0,0,";
    text += std::to_string(packet[1] >> 4) + "," + std::to_string((packet[1] >> 1) & 7) + "," +
            std::to_string(packet[1] & 1) + "," + std::to_string(packet[2] >> 7) + "," +
            std::to_string((packet[2] >> 4) & 7) + ",";
    const std::size_t length = static_cast<std::size_t>((packet[2] & 0x0F) * 256 + packet[3]);
    text += std::to_string(length) + "," + std::to_string(packet[4] * 256 + packet[5]);
    for (std::size_t i = 0; i < length; ++i) {
        text += ",";
        append_hex(text, packet[6 + i]);
        text.pop_back();
    }
    return text;
}

inline std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, ',')) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == ',') {
        fields.emplace_back();
    }
    return fields;
}

inline std::string join_fields(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        line += (i == 0 ? "" : ",") + fields[i];
    }
    return line;
}

// Replaces timestamps by "T" and P-record timings by "U", as the simulator's
// expectations are written.
inline std::string mask_record(const std::string& line) {
    std::vector<std::string> f = split_fields(line);
    if (f.empty()) {
        return line;
    }
    auto mask = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count && i < f.size(); ++i) {
            f[i] = "T";
        }
    };
    if (f[0] == "N") {
        mask(1, 6);
    } else if (f[0] == "P") {
        mask(2, 6);
        const std::size_t first_payload = std::stoul(f.at(9));
        const std::size_t mant_len = std::stoul(f.at(8));
        const bool second = mant_len > first_payload - 2;
        f.back() = "U";
        if (second) {
            f[f.size() - 2] = "U";
        }
    } else if (f[0] == "S" && f.size() > 1 && f[1] != "12") {
        mask(f[1] == "1" ? 3 : 2, 6);
    }
    return join_fields(f);
}

// Records of an exchange file without their line ends.
inline std::vector<std::string> read_records(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace receive_test
