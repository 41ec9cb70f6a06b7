#include "display/feeds/feed_settings.h"

#include <QHostAddress>
#include <QSysInfo>

#include <mosquitto.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>

namespace veltaro::feeds {

namespace {

constexpr std::string_view kProblemLead = "  Feeds: ";

// A whole number within [low, high], or nothing.
std::optional<int> Number(const std::string& text, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// Collects the problems of one pass; a feed with a problem is off.
class Reader {
public:
    Reader(const std::map<std::string, std::string>& keys, std::vector<std::string>& problems)
        : keys_(keys), problems_(problems) {}

    const std::string* Find(const char* key) const {
        const auto it = keys_.find(key);
        return it == keys_.end() ? nullptr : &it->second;
    }

    // The number under key, or the default when the key is absent or empty.
    int Port(const char* key, int fallback, int low, const char* feed, bool& off) {
        const std::string* text = Find(key);
        if (text == nullptr || text->empty()) {
            return fallback;
        }
        if (const std::optional<int> value = Number(*text, low, 65535)) {
            return *value;
        }
        Bad(key, *text, "a whole number from " + std::to_string(low) + " to 65535", feed, off);
        return fallback;
    }

    void Bad(const char* key, const std::string& text, const std::string& expected,
             const char* feed, bool& off) {
        problems_.push_back(std::string(kProblemLead) + key + "=\"" + text + "\" is not " +
                            expected + "; " + feed + " is off");
        off = true;
    }

    void Unknown(const std::string& key) {
        problems_.push_back(std::string(kProblemLead) + "unknown key \"" + key + "\" ignored");
    }

private:
    const std::map<std::string, std::string>& keys_;
    std::vector<std::string>& problems_;
};

constexpr const char* kKnownKeys[] = {"records_port",   "readings_port",  "bind",
                                      "mqtt_host",      "mqtt_port",      "mqtt_prefix",
                                      "mqtt_client_id", "mqtt_keepalive", "mqtt_username",
                                      "mqtt_password",  "mqtt_cafile"};

std::string Text(const Reader& reader, const char* key, const std::string& fallback) {
    const std::string* text = reader.Find(key);
    return text == nullptr || text->empty() ? fallback : *text;
}

void ReadTcp(Reader& reader, FeedSettings& settings) {
    bool records_off = false;
    bool readings_off = false;
    settings.records_port = reader.Port("records_port", 0, 0, "the records feed", records_off);
    settings.readings_port = reader.Port("readings_port", 0, 0, "the readings feed", readings_off);
    settings.bind = Text(reader, "bind", settings.bind);
    if (QHostAddress(QString::fromStdString(settings.bind)).isNull()) {
        bool off = false;
        reader.Bad("bind", settings.bind, "an IP address", "every TCP feed", off);
        records_off = readings_off = true;
    }
    if (records_off) {
        settings.records_port = 0;
    }
    if (readings_off) {
        settings.readings_port = 0;
    }
}

// The topics must be valid with the prefix in front; "+" and "#" are not.
bool ValidPrefix(const std::string& prefix) {
    const std::string topic = prefix + "/readings";
    return !prefix.empty() && prefix.find_first_of("+#") == std::string::npos &&
           mosquitto_pub_topic_check2(topic.data(), topic.size()) == MOSQ_ERR_SUCCESS;
}

void ReadMqtt(Reader& reader, MqttSettings& mqtt) {
    constexpr const char* kFeed = "the MQTT feed";
    mqtt.host = Text(reader, "mqtt_host", "");
    bool off = false;
    mqtt.port = reader.Port("mqtt_port", mqtt.port, 1, kFeed, off);
    mqtt.keepalive = reader.Port("mqtt_keepalive", mqtt.keepalive, 5, kFeed, off);
    mqtt.prefix = Text(reader, "mqtt_prefix", mqtt.prefix);
    if (!ValidPrefix(mqtt.prefix)) {
        reader.Bad("mqtt_prefix", mqtt.prefix, "a topic without \"+\" or \"#\"", kFeed, off);
    }
    mqtt.client_id =
        Text(reader, "mqtt_client_id", "veltaro-" + QSysInfo::machineHostName().toStdString());
    mqtt.username = Text(reader, "mqtt_username", "");
    mqtt.password = Text(reader, "mqtt_password", "");
    if (!mqtt.password.empty() && mqtt.username.empty()) {
        reader.Bad("mqtt_password", "...", "usable without mqtt_username", kFeed, off);
    }
    mqtt.cafile = Text(reader, "mqtt_cafile", "");
    if (!mqtt.cafile.empty() && !std::ifstream(mqtt.cafile)) {
        reader.Bad("mqtt_cafile", mqtt.cafile, "a readable file", kFeed, off);
    }
    if (off) {
        mqtt.host.clear();
    }
}

} // namespace

FeedSettings ParseFeedSettings(const std::map<std::string, std::string>& keys,
                               std::vector<std::string>& problems) {
    Reader reader(keys, problems);
    for (const auto& entry : keys) {
        if (std::find_if(std::begin(kKnownKeys), std::end(kKnownKeys), [&](const char* known) {
                return entry.first == known;
            }) == std::end(kKnownKeys)) {
            reader.Unknown(entry.first);
        }
    }
    FeedSettings settings;
    ReadTcp(reader, settings);
    ReadMqtt(reader, settings.mqtt);
    return settings;
}

} // namespace veltaro::feeds
