// The MQTT publisher against a real broker: the three kinds of topic, what
// is retained, the queue while the broker is away and its bound.
#include "display/feeds/mqtt_publisher.h"
#include "tests/support/mqtt.h"

#include <gtest/gtest.h>

#include <mutex>

namespace veltaro::feeds {
namespace {

using harness::Broker;
using harness::Subscriber;
using harness::TempDir;
using harness::wait_for;

// Reports arrive on the publisher's thread.
class Reports {
public:
    MqttPublisher::Report Callback() {
        return [this](const std::string& m) {
            const std::lock_guard lock(mutex_);
            messages_.push_back(m);
        };
    }
    std::size_t Count(const std::string& part) const {
        const std::lock_guard lock(mutex_);
        return std::count_if(messages_.begin(), messages_.end(), [&](const std::string& m) {
            return m.find(part) != std::string::npos;
        });
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

MqttSettings Settings(int port) {
    MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.client_id = "veltaro-test-" + std::to_string(port);
    return settings;
}

// Readings numbered from..to-1, on two sensors.
std::vector<MqttReading> Readings(int from, int to) {
    std::vector<MqttReading> readings;
    for (int i = from; i < to; ++i) {
        readings.push_back({"alert2/1234/general/" + std::to_string(i % 2), std::to_string(i)});
    }
    return readings;
}

std::vector<std::string> Numbers(int from, int to) {
    std::vector<std::string> numbers;
    for (int i = from; i < to; ++i) {
        numbers.push_back(std::to_string(i));
    }
    return numbers;
}

TEST(MqttPublisher, ReadingsGoOutOnceEachAndTheLatestPerSensorAndTheStatusAreRetained) {
    const TempDir dir;
    Broker broker(dir);
    const Subscriber live(broker.port(), "alert2/#");
    Reports reports;
    {
        MqttPublisher publisher(Settings(broker.port()), reports.Callback());
        publisher.Publish(Readings(0, 5));
        ASSERT_TRUE(wait_for([&] { return live.Payloads("alert2/readings").size() == 5; }));

        const Subscriber late(broker.port(), "alert2/#");
        ASSERT_TRUE(wait_for([&] { return late.Messages().size() == 3; }));
        std::vector<std::string> retained;
        for (const harness::Message& m : late.Messages()) {
            EXPECT_TRUE(m.retain) << m.topic;
            retained.push_back(m.topic + "=" + m.payload);
        }
        std::sort(retained.begin(), retained.end());
        EXPECT_EQ(retained,
                  (std::vector<std::string>{"alert2/1234/general/0=4", "alert2/1234/general/1=3",
                                            "alert2/status=online"}));
    }
    EXPECT_EQ(live.Payloads("alert2/readings"), Numbers(0, 5));
    // An orderly end says "offline" itself.
    ASSERT_TRUE(wait_for([&] { return live.Payloads("alert2/status").size() == 2; }));
    EXPECT_EQ(live.Payloads("alert2/status"), (std::vector<std::string>{"online", "offline"}));
    EXPECT_EQ(reports.Count("  MQTT feed: connected to 127.0.0.1:"), 1u);
}

// The subscriber keeps its session across the restart, so it receives what
// was published while it was away; the publisher must lose nothing either.
TEST(MqttPublisher, ABrokerRestartLosesNothingAndIsReportedOnceEachWay) {
    const TempDir dir;
    Broker broker(dir, true);
    const Subscriber subscriber(broker.port(), "alert2/readings", "restart-test", false);
    Reports reports;
    MqttPublisher publisher(Settings(broker.port()), reports.Callback());
    publisher.Publish(Readings(0, 50));
    ASSERT_TRUE(wait_for([&] { return subscriber.Messages().size() == 50; }));
    // The subscriber's acknowledgements reach the broker before it stops, so
    // it has nothing of its own to deliver again.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    broker.Stop();
    ASSERT_TRUE(wait_for([&] { return reports.Count("; readings are queued") == 1; }));
    publisher.Publish(Readings(50, 100));
    std::this_thread::sleep_for(std::chrono::seconds(2)); // some reconnect attempts fail
    EXPECT_EQ(publisher.Queued(), 50u);
    broker.Start();

    ASSERT_TRUE(wait_for([&] { return subscriber.Messages().size() >= 100; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // nothing more comes
    EXPECT_EQ(testing::PrintToString(subscriber.Payloads("alert2/readings")),
              testing::PrintToString(Numbers(0, 100)));
    EXPECT_EQ(reports.Count("; readings are queued"), 1u);
    EXPECT_EQ(reports.Count(" again"), 1u);
}

TEST(MqttPublisher, WhileTheBrokerIsAwayTheOldestPastTheLimitAreDroppedAndCounted) {
    Reports reports;
    MqttPublisher publisher(Settings(harness::free_port()), reports.Callback());
    publisher.Publish(Readings(0, MqttPublisher::kQueueLimit + 10));
    EXPECT_EQ(publisher.Queued(), MqttPublisher::kQueueLimit);
    EXPECT_EQ(publisher.Dropped(), 10);
    ASSERT_TRUE(wait_for([&] { return reports.Count("; readings are queued") == 1; }));
    EXPECT_EQ(reports.Count("Connection refused  MQTT feed: no connection to 127.0.0.1:"), 1u);
}

} // namespace
} // namespace veltaro::feeds
