// The [Feeds] group as read at start: defaults, the values that turn each
// feed on, and every value that cannot be used, which turns its feed off.
#include "display/feeds/feed_settings.h"

#include <gtest/gtest.h>

namespace veltaro::feeds {
namespace {

struct Case {
    const char* what;
    std::map<std::string, std::string> keys;
    int records_port;
    int readings_port;
    bool mqtt_on;
    std::string problem; // a part of the one problem listed, or "" for none
};

TEST(FeedSettings, EachBadValueIsReportedOnceAndTurnsOnlyItsFeedOff) {
    const Case cases[] = {
        {"nothing set: every feed off", {}, 0, 0, false, ""},
        {"all three on",
         {{"records_port", "7001"}, {"readings_port", "7002"}, {"mqtt_host", "broker"}},
         7001,
         7002,
         true,
         ""},
        {"a port that is no number",
         {{"records_port", "70x"}, {"readings_port", "7002"}},
         0,
         7002,
         false,
         "records_port=\"70x\" is not a whole number from 0 to 65535; the records feed is off"},
        {"a port out of range", {{"readings_port", "65536"}}, 0, 0, false, "readings_port"},
        {"a bind address that is no address",
         {{"records_port", "7001"},
          {"readings_port", "7002"},
          {"bind", "local host"},
          {"mqtt_host", "broker"}},
         0,
         0,
         true,
         "bind=\"local host\" is not an IP address; every TCP feed is off"},
        {"a keep-alive below the broker's least",
         {{"mqtt_host", "broker"}, {"mqtt_keepalive", "4"}, {"records_port", "7001"}},
         7001,
         0,
         false,
         "mqtt_keepalive=\"4\""},
        {"a prefix with a wildcard",
         {{"mqtt_host", "broker"}, {"mqtt_prefix", "alert2/#"}},
         0,
         0,
         false,
         "mqtt_prefix"},
        {"a password without a user name, not shown",
         {{"mqtt_host", "broker"}, {"mqtt_password", "secret"}},
         0,
         0,
         false,
         "mqtt_password=\"...\""},
        {"a certificate file that cannot be read",
         {{"mqtt_host", "broker"}, {"mqtt_cafile", "/no/such/ca.pem"}},
         0,
         0,
         false,
         "mqtt_cafile"},
        {"an unknown key: ignored, the feeds run",
         {{"record_port", "7001"}, {"mqtt_host", "broker"}},
         0,
         0,
         true,
         "unknown key \"record_port\" ignored"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> problems;
        const FeedSettings settings = ParseFeedSettings(c.keys, problems);
        EXPECT_EQ(settings.records_port, c.records_port);
        EXPECT_EQ(settings.readings_port, c.readings_port);
        EXPECT_EQ(!settings.mqtt.host.empty(), c.mqtt_on);
        if (c.problem.empty()) {
            EXPECT_TRUE(problems.empty()) << problems.front();
        } else {
            ASSERT_EQ(problems.size(), 1u);
            EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
            EXPECT_EQ(problems[0].find("secret"), std::string::npos);
        }
    }
}

TEST(FeedSettings, MqttDefaultsNameTheHostAndUseTheUsualPort) {
    std::vector<std::string> problems;
    const MqttSettings mqtt = ParseFeedSettings({{"mqtt_host", "broker"}}, problems).mqtt;
    EXPECT_EQ(mqtt.port, 1883);
    EXPECT_EQ(mqtt.prefix, "alert2");
    EXPECT_EQ(mqtt.keepalive, 60);
    EXPECT_TRUE(mqtt.client_id.starts_with("veltaro-")) << mqtt.client_id;
    EXPECT_GT(mqtt.client_id.size(), std::string("veltaro-").size());
}

} // namespace
} // namespace veltaro::feeds
