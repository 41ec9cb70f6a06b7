#include "display/feeds/tcp_feeds.h"

#include "display/data/reading_json.h"

namespace veltaro::feeds {

void LineFeed::OnSliceKept() {
    server_.Send(held_);
    held_.clear();
}

void RecordsFeed::OnRecord(std::string_view line) {
    held_.append(line.data(), static_cast<qsizetype>(line.size()));
    held_.append("\r\n");
}

void ReadingsFeed::OnReading(const data::Reading& reading) {
    held_.append(data::ReadingJsonLine(reading));
}

} // namespace veltaro::feeds
