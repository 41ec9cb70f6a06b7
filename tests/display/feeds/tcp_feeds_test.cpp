// What the feeds make of the readings' outputs: record lines ended with CR
// LF, held until their slice is kept and dropped when it is undone; the
// retained topic of each reading.
#include "display/feeds/mqtt_feed.h"
#include "display/feeds/tcp_feeds.h"
#include "qt_app.h"

#include <QTcpSocket>

#include <gtest/gtest.h>

namespace veltaro::feeds {
namespace {

using feeds_test::RunUntil;

TEST(TcpFeeds, ASlicesRecordsGoOutOnceWhenItIsKeptAndNeverWhenUndone) {
    feeds_test::App();
    RecordsFeed feed([](const std::string&) {});
    ASSERT_TRUE(feed.Server().Listen(QHostAddress::LocalHost, 0));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, feed.Server().Port());
    ASSERT_TRUE(RunUntil([&] { return feed.Server().Clients() == 1; }));

    // A slice undone (a log could not be written), then done again and kept.
    feed.OnRecord("P,41,2026");
    feed.OnRecord("N,2026,12");
    feed.OnSliceUndone();
    feed.OnRecord("P,41,2026");
    feed.OnRecord("N,2026,12");
    feed.OnSliceKept();
    feed.OnSliceKept(); // nothing held: nothing sent
    const QByteArray expected = "P,41,2026\r\nN,2026,12\r\n";
    QByteArray received;
    ASSERT_TRUE(RunUntil([&] {
        received += client.readAll();
        return received.size() >= expected.size();
    }));
    RunUntil([&] { return false; }, 1); // anything more would have come by now
    received += client.readAll();
    EXPECT_EQ(received, expected);
}

TEST(MqttFeed, EachReadingHasTheRetainedTopicOfItsSourceKindAndSensor) {
    struct Case {
        std::string source;
        int type;
        long long sensor;
        std::string topic;
    };
    const Case cases[] = {
        {"1234", 2, 10, "alert2/1234/rain/10"},
        {"7", 0, 3, "alert2/7/compact/3"},
        {"12/+#", 1, 1, "alert2/12___/general/1"},
        {"", 3, 65535, "alert2/_/multiple/65535"},
    };
    for (const Case& c : cases) {
        data::Packet packet;
        packet.source = c.source;
        data::Reading reading;
        reading.packet = &packet;
        reading.type = c.type;
        reading.sensor = c.sensor;
        EXPECT_EQ(SensorTopic("alert2", reading), c.topic);
    }
}

} // namespace
} // namespace veltaro::feeds
