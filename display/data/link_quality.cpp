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
    explicit Fields(std::string_view line) : line_(line) {}

    // The next field; none past the last one.
    std::optional<std::string_view> Next() {
        if (at_ > line_.size()) {
            return std::nullopt;
        }
        const std::size_t comma = std::min(line_.find(',', at_), line_.size());
        const std::string_view field = line_.substr(at_, comma - at_);
        at_ = comma + 1;
        return field;
    }

    // Steps over `count` fields; false when there are fewer. Data bytes (two
    // digits and a comma each) are stepped over without a search.
    bool Skip(std::size_t count) {
        const std::size_t end = at_ + 3 * count;
        bool plain = end <= line_.size();
        for (std::size_t comma = at_ + 2; plain && comma < end; comma += 3) {
            plain = line_[comma] == ',';
        }
        if (plain) {
            at_ = end;
            return true;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (!Next()) {
                return false;
            }
        }
        return true;
    }

    // Whether at least `count` fields are left.
    bool HasLeft(std::size_t count) const {
        std::size_t at = at_;
        for (std::size_t i = 1; i < count && at <= line_.size(); ++i) {
            at = std::min(line_.find(',', at), line_.size()) + 1;
        }
        return count == 0 || at <= line_.size();
    }

private:
    std::string_view line_;
    std::size_t at_ = 0;
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
        const std::optional<std::string_view> length_field = fields.Next();
        const std::optional<int> length = length_field ? Integer(*length_field) : std::nullopt;
        if (!length || *length < 1 || !fields.Skip(static_cast<std::size_t>(*length))) {
            return std::nullopt;
        }
        const std::optional<std::string_view> result_field = fields.Next();
        const std::optional<int> result = result_field ? Integer(*result_field) : std::nullopt;
        if (!result || !fields.HasLeft(1)) {
            return std::nullopt;
        }
        if (*result == -1) {
            ++link.failed;
        } else {
            link.corrected += *result;
        }
    } while (fields.HasLeft(3));
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
