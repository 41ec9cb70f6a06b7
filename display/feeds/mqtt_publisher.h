// Readings to an MQTT broker through libmosquitto, QoS 1:
//   <prefix>/readings                   every reading's JSON, not retained
//   <prefix>/<source>/<kind>/<sensor>   the latest reading's JSON, retained
//   <prefix>/status                     "online" on connect, retained; the
//                                       last will "offline", retained
//
// The network loop runs on the publisher's own thread, which alone touches
// the libmosquitto handle: connecting (a name lookup, a slow or unreachable
// broker) never holds the lists and logs. Publish only queues and wakes that
// thread. While the broker is away readings wait in the queue (the oldest
// dropped past kQueueLimit, and counted) and go out in order once it is back;
// reconnecting backs off from 1 s to 30 s. Each change of state is reported
// once, through the report callback on the publisher's thread.
#pragma once

#include "display/feeds/feed_settings.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace veltaro::feeds {

// One reading for the broker: its JSON and its retained topic.
struct MqttReading {
    std::string topic; // <prefix>/<source>/<kind>/<sensor>
    std::string json;
};

class MqttPublisher {
public:
    static constexpr std::size_t kQueueLimit = 100000;

    using Report = std::function<void(const std::string& message)>;

    MqttPublisher(const MqttSettings& settings, Report report);
    // Says "offline" on the status topic and hands over what is queued, for a
    // few seconds at most; then disconnects. No report follows its return.
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    void Publish(std::vector<MqttReading> readings);

    std::size_t Queued() const;
    long long Dropped() const; // over the whole run

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace veltaro::feeds
