// The [Feeds] group as read at start: the values that turn each feed on,
// and every value that cannot be used, which turns its feed off.
#include "display/feeds/feed_settings.h"

#include <gtest/gtest.h>

namespace veltaro::feeds {
namespace {

TEST(FeedSettings, EachBadValueIsReportedOnceAndTurnsOnlyItsFeedOff) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> keys;
        std::string problem; // a part of the one problem listed, or "" for none
        int records_port = 0;
        int readings_port = 0;
        bool mqtt_on = false;
    };
    const std::pair<std::string, std::string> broker = {"mqtt_host", "broker"};
    const Case cases[] = {
        {"nothing set: every feed off", {}, ""},
        {"all three on",
         {{"records_port", "7001"}, {"readings_port", "7002"}, broker},
         "",
         7001,
         7002,
         true},
        {"a port that is no number",
         {{"records_port", "70x"}, {"readings_port", "7002"}},
         "records_port=\"70x\" is not a whole number from 0 to 65535; the records feed is off",
         0,
         7002},
        {"a port out of range", {{"readings_port", "65536"}}, "readings_port"},
        {"a bind address that is no address",
         {{"records_port", "7001"}, {"readings_port", "7002"}, {"bind", "local host"}, broker},
         "bind=\"local host\" is not an IP address; every TCP feed is off",
         0,
         0,
         true},
        {"a keep-alive below the broker's least",
         {broker, {"mqtt_keepalive", "4"}, {"records_port", "7001"}},
         "mqtt_keepalive=\"4\"",
         7001},
        {"a prefix with a wildcard", {broker, {"mqtt_prefix", "alert2/#"}}, "mqtt_prefix"},
        {"a password without a user name, not shown",
         {broker, {"mqtt_password", "secret"}},
         "mqtt_password=\"...\""},
        {"a certificate file that cannot be read",
         {broker, {"mqtt_cafile", "/no/such/ca.pem"}},
         "mqtt_cafile"},
        {"an unknown key: ignored, the feeds run",
         {{"record_port", "7001"}, broker},
         "unknown key \"record_port\" ignored",
         0,
         0,
         true},
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

} // namespace
} // namespace veltaro::feeds
