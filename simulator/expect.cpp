#include "simulator/expect.h"

#include <cstdio>
#include <optional>

namespace sondrel {

namespace {

constexpr const char* kTimestamp = "T,T,T,T,T,T,";

std::string hex_byte(std::uint8_t b) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

// blk_len, data bytes and rs_errs, each followed by ",".
std::string block_group(const ReceivedBlock& block) {
    std::string text = std::to_string(block.payload.size()) + ",";
    for (std::uint8_t b : block.payload) {
        text += hex_byte(b) + ",";
    }
    return text + std::to_string(block.result < 0 ? -1 : block.result) + ",";
}

int alres_of(const ReceivedBlock& first) {
    return first.payload.at(0) >> 2;
}

int mant_len_of(const ReceivedBlock& first) {
    return (first.payload.at(0) & 3) * 256 + first.payload.at(1);
}

// The MANT walk over the reassembled AirLink data.
class MantWalk {
public:
    MantWalk(std::span<const ReceivedBlock> blocks, int first_payload)
        : first_payload_(first_payload) {
        total_ = mant_len_of(blocks[0]) + 2;
        for (const ReceivedBlock& block : blocks) {
            data_.insert(data_.end(), block.payload.begin(), block.payload.end());
            results_.push_back(block.result);
        }
    }

    void run(FrameRecords& out) {
        int off = 2;
        while (true) {
            const int remaining = total_ - off;
            if (remaining == 0) {
                return;
            }
            if (remaining < 0) {
                out.ambiguous = true;
                return;
            }
            std::optional<Geometry> g = geometry(off);
            if (!g) {
                out.ambiguous = true;
                return;
            }
            const bool header_bad = any_bad(off, off + g->header);
            const bool payload_bad = any_bad(off + g->header, off + g->header + g->payload);
            const bool compact = (data_[static_cast<std::size_t>(off + 1)] >> 4) == 1;
            if (header_bad || (payload_bad && !compact)) {
                off += g->header + g->payload;
                continue;
            }
            if (remaining < g->header + g->payload) {
                if (off + g->header > total_) {
                    out.ambiguous = true;
                    return;
                }
                char text[254];
                std::snprintf(
                    text, sizeof text,
                    "S,12,Error 5: Specified MANT packet length exceeds airlink length. "
                    "Remaining AirLink Len: %d; MANT Header Len: %d; MANT Payload Len: %d",
                    remaining, g->header, g->payload);
                out.lines.emplace_back(text);
                return;
            }
            if (!payload_bad) {
                out.lines.push_back(n_record(off, *g));
            }
            off += g->header + g->payload;
        }
    }

private:
    struct Geometry {
        int header;
        int payload;
        int count_at; // offset of the path count, -1 without path
    };

    std::optional<std::uint8_t> byte(int offset) const {
        if (offset < 0 || offset >= total_ || offset >= static_cast<int>(data_.size())) {
            return std::nullopt;
        }
        return data_[static_cast<std::size_t>(offset)];
    }

    // Nothing when a byte the geometry needs lies outside the AirLink data.
    std::optional<Geometry> geometry(int off) const {
        auto h0 = byte(off);
        auto h2 = byte(off + 2);
        auto h3 = byte(off + 3);
        if (!h0 || !h2 || !h3) {
            return std::nullopt;
        }
        const int t = (*h0 >> 3) & 7;
        const int base = 6 + 2 * (*h0 & 1) + (t == 1 ? 1 : 0);
        Geometry g{base, (*h2 & 0x0F) * 256 + *h3, -1};
        if (*h0 & 2) {
            auto count = byte(off + base);
            if (!count) {
                return std::nullopt;
            }
            g.count_at = off + base;
            g.header = (base + 2 * *count + 1) % 256;
        }
        return g;
    }

    int block_of(int offset) const {
        return offset < first_payload_ ? 0 : 1 + (offset - first_payload_) / 32;
    }

    bool any_bad(int from, int to) const {
        for (int i = from; i < to && i < total_; ++i) {
            if (results_.at(static_cast<std::size_t>(block_of(i))) < 0) {
                return true;
            }
        }
        return false;
    }

    unsigned at(int offset) const { return data_.at(static_cast<std::size_t>(offset)); }

    std::string n_record(int off, const Geometry& g) const {
        const unsigned h0 = at(off);
        const unsigned h1 = at(off + 1);
        const unsigned h2 = at(off + 2);
        std::string text = std::string("N,") + kTimestamp;
        for (unsigned field : {h0 >> 6, (h0 >> 3) & 7, (h0 >> 2) & 1, (h0 >> 1) & 1, h0 & 1,
                               h1 >> 4, (h1 >> 1) & 7, h1 & 1, h2 >> 7, (h2 >> 4) & 7}) {
            text += std::to_string(field) + ",";
        }
        text += std::to_string(g.payload) + ",";
        text += std::to_string(at(off + 4) * 256 + at(off + 5));
        int next = off + 6;
        if (h0 & 1) {
            text += "," + std::to_string(at(next) * 256 + at(next + 1));
            next += 2;
        }
        if (((h0 >> 3) & 7) == 1) {
            text += "," + std::to_string(at(next));
        }
        if (g.count_at >= 0) {
            const int count = static_cast<int>(at(g.count_at));
            text += "," + std::to_string(count);
            for (int i = 0; i < count; ++i) {
                const int v = g.count_at + 1 + 2 * i;
                text += "," + std::to_string(at(v) * 256 + at(v + 1));
            }
        }
        for (int i = 0; i < g.payload; ++i) {
            text += "," + hex_byte(static_cast<std::uint8_t>(at(off + g.header + i)));
        }
        return text;
    }

    int first_payload_;
    int total_ = 0;
    Bytes data_;
    std::vector<int> results_;
};

} // namespace

Bytes descramble(std::span<const std::uint8_t> bytes) {
    Bytes out(bytes.begin(), bytes.end());
    std::uint32_t history = 1; // bit k holds the received bit k + 1 places back
    for (std::uint8_t& byte : out) {
        unsigned plain = 0;
        for (int bit = 7; bit >= 0; --bit) {
            unsigned in = (byte >> bit) & 1U;
            plain = (plain << 1) | (in ^ ((history >> 2) & 1U) ^ ((history >> 16) & 1U));
            history = (history << 1) | in;
        }
        byte = static_cast<std::uint8_t>(plain);
    }
    return out;
}

FrameRecords expected_frame_records(std::span<const ReceivedBlock> blocks, int first_payload) {
    FrameRecords out;
    const ReceivedBlock& first = blocks[0];
    const std::string alres = std::to_string(alres_of(first)) + ",";
    const std::string head =
        kTimestamp + std::to_string(mant_len_of(first)) + "," + block_group(first);
    if (first.result < 0) {
        out.lines.push_back("S,1," + alres + head +
                            "*Bad First Block, uncorrectable bit errors; discarding packet");
        return out;
    }
    std::string p = "P," + alres + head;
    for (std::size_t k = 1; k < blocks.size(); ++k) {
        p += block_group(blocks[k]);
    }
    p += blocks.size() > 1 ? "U,U" : "U";
    out.lines.push_back(p);
    MantWalk(blocks, first_payload).run(out);
    return out;
}

std::string expected_first_block_abort() {
    return std::string("S,2,") + kTimestamp +
           "*Processing error (1Blk): non-hex ASCII char received in data; discarding packet";
}

std::string expected_second_block_abort(const ReceivedBlock& first) {
    return std::string("S,3,") + kTimestamp + std::to_string(mant_len_of(first)) + "," +
           block_group(first) +
           "*Processing error (SBlk): non-hex ASCII char received in data; discarding packet";
}

} // namespace sondrel
