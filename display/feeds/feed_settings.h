// The [Feeds] group of the settings file: which live feeds run and where.
// Read once at start; a value that cannot be used is reported and turns its
// feed off, the other feeds run as set.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace veltaro::feeds {

struct MqttSettings {
    std::string host; // empty: no MQTT feed
    int port = 1883;
    std::string prefix = "alert2";
    std::string client_id; // default "veltaro-<host name>"
    int keepalive = 60;    // seconds
    std::string username;
    std::string password;
    std::string cafile; // TLS when set
};

struct FeedSettings {
    int records_port = 0;  // 0: off
    int readings_port = 0; // 0: off
    std::string bind = "127.0.0.1";
    MqttSettings mqtt;
};

// The group's keys as stored; `problems` receives one message per value that
// cannot be used (its feed is then off) and per key that means nothing.
FeedSettings ParseFeedSettings(const std::map<std::string, std::string>& keys,
                               std::vector<std::string>& problems);

} // namespace veltaro::feeds
