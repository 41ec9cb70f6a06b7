// The MQTT feed as an output of the readings: each reading's JSON and its
// retained topic, held until the ingest keeps the slice, then queued for the
// publisher. Its reports reach the owner on the owner's (Qt) thread.
#pragma once

#include "display/data/reading.h"
#include "display/feeds/mqtt_publisher.h"

#include <QObject>

namespace veltaro::feeds {

class MqttFeed final : public QObject, public data::ReadingOutput {
    Q_OBJECT
public:
    MqttFeed(const MqttSettings& settings, MqttPublisher::Report report, QObject* parent = nullptr);

    void OnReading(const data::Reading& reading) override;
    void OnSliceKept() override;
    void OnSliceUndone() override { held_.clear(); }

private:
    const std::string prefix_;
    const MqttPublisher::Report report_;
    std::vector<MqttReading> held_;
    MqttPublisher publisher_; // last: its thread may report as soon as it exists
};

// <prefix>/<source>/<kind>/<sensor>; a source that would not make one topic
// level ("/", "+", "#", empty) has those characters replaced by "_".
std::string SensorTopic(const std::string& prefix, const data::Reading& reading);

} // namespace veltaro::feeds
