#include "display/feeds/mqtt_feed.h"

#include "display/data/reading_json.h"

#include <QMetaObject>

namespace veltaro::feeds {

MqttFeed::MqttFeed(const MqttSettings& settings, MqttPublisher::Report report, QObject* parent)
    : QObject(parent), prefix_(settings.prefix), report_(std::move(report)),
      publisher_(settings, [this](const std::string& message) {
          // Queued to this object's thread; dropped by Qt if it has gone.
          QMetaObject::invokeMethod(
              this, [this, message] { report_(message); }, Qt::QueuedConnection);
      }) {}

void MqttFeed::OnReading(const data::Reading& reading) {
    std::string json = data::ReadingJsonLine(reading);
    json.pop_back(); // a message is the object alone
    held_.push_back({SensorTopic(prefix_, reading), std::move(json)});
}

void MqttFeed::OnSliceKept() {
    publisher_.Publish(std::move(held_));
    held_.clear();
}

std::string SensorTopic(const std::string& prefix, const data::Reading& reading) {
    std::string source = reading.packet->source;
    for (char& c : source) {
        if (c == '/' || c == '+' || c == '#') {
            c = '_';
        }
    }
    if (source.empty()) {
        source = "_";
    }
    return prefix + "/" + source + "/" + std::string(data::KindName(reading.type)) + "/" +
           std::to_string(reading.sensor);
}

} // namespace veltaro::feeds
