// Link quality of a packet: the Reed-Solomon results of the AirLink frame it
// came in, which the decoder writes in the frame's P record just before the
// frame's N records, with the same receive time.
#pragma once

#include "display/data/reading.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>

namespace veltaro::data {

// The summed results of a P record's blocks; none when the line is not a
// P record that can be read.
std::optional<LinkQuality> PRecordLinkQuality(std::string_view line);

// Matches each packet to the P record listed before its N record with the
// same receive time, in milliseconds (the P record writes them with three
// decimals, the N record with four).
class LinkQualityMatcher {
public:
    // Every record line, in the order listed.
    void OnRecord(std::string_view line);
    // The link quality of the next packet handed on, received at `received`
    // (milliseconds). N records listed before it that were not handed on
    // (filtered, unreadable header) are passed over.
    std::optional<LinkQuality> ForPacket(std::int64_t received);

private:
    struct Frame {
        std::optional<std::int64_t> received;
        std::optional<LinkQuality> link;
    };
    // A frame's N records follow its P record at once; a few P records back
    // is plenty.
    static constexpr std::size_t kRecentFrames = 16;
    // N records listed but not yet decoded: a cycle lists all its records
    // before it decodes them. Past this the oldest go without link quality.
    static constexpr std::size_t kMaxWaiting = std::size_t{1} << 20;

    std::deque<Frame> recent_frames_;
    std::deque<Frame> waiting_records_;
};

} // namespace veltaro::data
