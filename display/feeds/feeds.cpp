#include "display/feeds/feeds.h"

#include "display/feeds/mqtt_feed.h"
#include "display/feeds/tcp_feeds.h"

namespace veltaro::feeds {

namespace {

template <typename Feed>
void StartLineFeed(const FeedSettings& settings, int port, const Report& report,
                   std::vector<std::unique_ptr<data::ReadingOutput>>& feeds) {
    if (port == 0) {
        return;
    }
    auto feed = std::make_unique<Feed>(report);
    if (feed->Server().Listen(QHostAddress(QString::fromStdString(settings.bind)),
                              static_cast<quint16>(port))) {
        feeds.push_back(std::move(feed));
    }
}

} // namespace

std::vector<std::unique_ptr<data::ReadingOutput>>
StartFeeds(const std::map<std::string, std::string>& keys, const Report& report) {
    std::vector<std::string> problems;
    const FeedSettings settings = ParseFeedSettings(keys, problems);
    for (const std::string& problem : problems) {
        report(problem);
    }
    std::vector<std::unique_ptr<data::ReadingOutput>> feeds;
    StartLineFeed<RecordsFeed>(settings, settings.records_port, report, feeds);
    StartLineFeed<ReadingsFeed>(settings, settings.readings_port, report, feeds);
    if (!settings.mqtt.host.empty()) {
        feeds.push_back(std::make_unique<MqttFeed>(settings.mqtt, report));
    }
    return feeds;
}

} // namespace veltaro::feeds
