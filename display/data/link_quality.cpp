#include "display/data/link_quality.h"

#include "display/data/numbers.h"
#include "display/data/utc_time.h"

#include <algorithm>

namespace veltaro::data {

namespace {

// Field indexes of a P record: kind, ALRES, six time fields, MANT_len, then
// the block groups (blk_len, blk_len data bytes, rs_errs) and one or two
// timing fields.
constexpr std::size_t kPYearField = 2;
constexpr std::size_t kPFirstGroup = 9;
constexpr std::size_t kNYearField = 1;

// Walks the comma-separated fields of a line without copying them.
class Fields {
public:
    explicit Fields(std::string_view line)
        : line_(line),
          left_(static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) + 1) {}

    std::size_t Left() const { return left_; }

    std::string_view Next() {
        if (left_ == 0) {
            return {};
        }
        const std::size_t comma = line_.find(',', at_);
        const std::string_view field = line_.substr(at_, comma - at_);
        at_ = comma == std::string_view::npos ? line_.size() : comma + 1;
        --left_;
        return field;
    }

    void Skip(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            Next();
        }
    }

private:
    std::string_view line_;
    std::size_t at_ = 0;
    std::size_t left_;
};

// A field that must be a small whole number.
std::optional<int> Integer(std::string_view field) {
    const std::optional<long long> value = WholeNumber(field);
    if (!value || *value < -1 || *value > 65535) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

} // namespace

std::optional<LinkQuality> PRecordLinkQuality(std::string_view line) {
    if (!line.starts_with("P,")) {
        return std::nullopt;
    }
    Fields fields(line);
    fields.Skip(kPFirstGroup);
    LinkQuality link;
    // A group takes at least three fields and one timing field follows the
    // last group; fewer than three fields left are the timing fields.
    do {
        const std::optional<int> length = fields.Left() > 0 ? Integer(fields.Next()) : std::nullopt;
        if (!length || *length < 1 || static_cast<std::size_t>(*length) + 2 > fields.Left()) {
            return std::nullopt;
        }
        fields.Skip(static_cast<std::size_t>(*length));
        const std::optional<int> result = Integer(fields.Next());
        if (!result) {
            return std::nullopt;
        }
        if (*result == -1) {
            ++link.failed;
        } else {
            link.corrected += *result;
        }
    } while (fields.Left() >= 3);
    return link;
}

void LinkQualityMatcher::OnRecord(std::string_view line) {
    if (line.starts_with("P,")) {
        recent_frames_.push_back({ReceiveMillis(line, kPYearField), PRecordLinkQuality(line)});
        if (recent_frames_.size() > kRecentFrames) {
            recent_frames_.pop_front();
        }
        return;
    }
    if (!line.starts_with("N,")) {
        return;
    }
    Frame record{ReceiveMillis(line, kNYearField), std::nullopt};
    for (auto frame = recent_frames_.rbegin(); frame != recent_frames_.rend(); ++frame) {
        if (record.received && frame->received == record.received) {
            record.link = frame->link;
            break;
        }
    }
    waiting_records_.push_back(record);
    if (waiting_records_.size() > kMaxWaiting) {
        waiting_records_.pop_front();
    }
}

std::optional<LinkQuality> LinkQualityMatcher::ForPacket(std::int64_t received) {
    while (!waiting_records_.empty()) {
        const Frame record = waiting_records_.front();
        waiting_records_.pop_front();
        if (record.received == received) {
            return record.link;
        }
    }
    return std::nullopt;
}

} // namespace veltaro::data
