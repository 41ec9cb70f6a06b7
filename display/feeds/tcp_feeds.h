// The two TCP feeds: every record line the display ingests, exactly as read
// and ended with CR LF (records_port), and every reading as a JSON line
// (readings_port). A slice's lines are held until the ingest keeps the slice,
// so a client never receives a line twice.
#pragma once

#include "display/data/reading.h"
#include "display/feeds/line_server.h"

namespace veltaro::feeds {

class LineFeed : public data::ReadingOutput {
public:
    LineFeed(std::string name, LineServer::Report report)
        : server_(std::move(name), std::move(report)) {}

    LineServer& Server() { return server_; }

    void OnReading(const data::Reading& /*reading*/) override {}
    void OnSliceKept() override;
    void OnSliceUndone() override { held_.clear(); }

protected:
    QByteArray held_;

private:
    LineServer server_;
};

class RecordsFeed final : public LineFeed {
public:
    explicit RecordsFeed(LineServer::Report report) : LineFeed("Records feed", std::move(report)) {}
    void OnRecord(std::string_view line) override;
};

class ReadingsFeed final : public LineFeed {
public:
    explicit ReadingsFeed(LineServer::Report report)
        : LineFeed("Readings feed", std::move(report)) {}
    void OnReading(const data::Reading& reading) override;
};

} // namespace veltaro::feeds
