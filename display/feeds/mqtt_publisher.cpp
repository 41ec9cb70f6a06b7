#include "display/feeds/mqtt_publisher.h"

#include <mosquitto.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace veltaro::feeds {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFirstDelay = std::chrono::seconds(1);
constexpr auto kLongestDelay = std::chrono::seconds(30);
// The final hand-over, and how long the owner waits for the thread to end.
constexpr auto kFinishTime = std::chrono::seconds(2);
constexpr auto kStopWait = std::chrono::seconds(3);
// Messages handed to libmosquitto and not yet acknowledged; the rest wait in
// our own queue, where the oldest can be dropped.
constexpr int kWindow = 100;
constexpr int kQos = 1;
// libmosquitto wants its misc step about once a second (keep-alive, retries).
constexpr int kPollMs = 1000;

constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";

std::once_flag g_library;

// Errors of a connection, as opposed to a message libmosquitto refuses.
bool IsConnectionError(int rc) {
    return rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO ||
           rc == MOSQ_ERR_NOMEM || rc == MOSQ_ERR_KEEPALIVE || rc == MOSQ_ERR_PROTOCOL;
}

std::string Describe(int rc) {
    if (rc == MOSQ_ERR_ERRNO) {
        return std::strerror(errno);
    }
    return mosquitto_strerror(rc);
}

} // namespace

struct MqttPublisher::State {
    explicit State(const MqttSettings& s) : settings(s) {}

    const MqttSettings settings;
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    std::atomic<bool> stop{false};

    std::mutex mutex; // guards the queue and the counts
    std::deque<MqttReading> queue;
    long long dropped = 0;
    long long dropped_unreported = 0;

    std::mutex report_mutex; // the owner's callback, cleared when the owner goes
    Report report;

    std::mutex finish_mutex;
    std::condition_variable finished_cv;
    bool finished = false;

    ~State() { ::close(wake); }

    void Wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake, &one, sizeof one);
    }
    void DrainWake() const {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wake, &count, sizeof count);
    }
    void Tell(const std::string& message) {
        const std::lock_guard lock(report_mutex);
        if (report) {
            report(message);
        }
    }
    bool TakeFront(MqttReading& reading) {
        const std::lock_guard lock(mutex);
        if (queue.empty()) {
            return false;
        }
        reading = std::move(queue.front());
        queue.pop_front();
        return true;
    }
    bool QueueEmpty() {
        const std::lock_guard lock(mutex);
        return queue.empty();
    }
    void CountDropped(long long count) {
        const std::lock_guard lock(mutex);
        dropped += count;
        dropped_unreported += count;
    }
    long long TakeDroppedUnreported() {
        const std::lock_guard lock(mutex);
        return std::exchange(dropped_unreported, 0);
    }
};

namespace {

// The connection to the broker, on the publisher's thread only.
class Client {
public:
    explicit Client(MqttPublisher::State& state);
    ~Client() { mosquitto_destroy(mosq_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Run();

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);

    bool Set(int rc, const char* what);
    bool Connect(std::string& why);
    std::string Serve();
    int Step(int timeout_ms);
    int HandOver();
    int Send(const std::string& topic, std::string_view payload, bool retain);
    void Up();
    void Down(const std::string& why);
    void Wait(Clock::duration delay);
    void Finish();
    std::string Broker() const;

    MqttPublisher::State& state_;
    const MqttSettings& settings_;
    const std::string readings_topic_;
    const std::string status_topic_;
    mosquitto* mosq_ = nullptr;
    bool ready_ = false;
    bool connected_once_ = false;
    bool up_ = false; // the broker accepted the connection
    int refused_ = 0; // its reason when it did not
    int inflight_ = 0;
    enum class Shown { nothing, up, down } shown_ = Shown::nothing;
};

Client::Client(MqttPublisher::State& state)
    : state_(state), settings_(state.settings), readings_topic_(settings_.prefix + "/readings"),
      status_topic_(settings_.prefix + "/status") {
    std::call_once(g_library, [] { mosquitto_lib_init(); });
    mosq_ = mosquitto_new(settings_.client_id.c_str(), true, this);
    if (mosq_ == nullptr) {
        state_.Tell(std::string(std::strerror(errno)) + "  MQTT feed: can't start; it is off");
        return;
    }
    mosquitto_connect_callback_set(mosq_, OnConnect);
    mosquitto_disconnect_callback_set(mosq_, OnDisconnect);
    mosquitto_publish_callback_set(mosq_, OnPublish);
    ready_ = Set(mosquitto_max_inflight_messages_set(mosq_, kWindow), "in-flight limit") &&
             Set(mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1), "no-delay option") &&
             Set(mosquitto_will_set(mosq_, status_topic_.c_str(), kOffline.size(), kOffline.data(),
                                    kQos, true),
                 "last will");
    if (ready_ && !settings_.username.empty()) {
        ready_ = Set(mosquitto_username_pw_set(
                         mosq_, settings_.username.c_str(),
                         settings_.password.empty() ? nullptr : settings_.password.c_str()),
                     "user name");
    }
    if (ready_ && !settings_.cafile.empty()) {
        ready_ = Set(
            mosquitto_tls_set(mosq_, settings_.cafile.c_str(), nullptr, nullptr, nullptr, nullptr),
            "TLS");
    }
}

bool Client::Set(int rc, const char* what) {
    if (rc == MOSQ_ERR_SUCCESS) {
        return true;
    }
    state_.Tell(Describe(rc) + "  MQTT feed: can't set the " + what + "; it is off");
    return false;
}

std::string Client::Broker() const {
    return settings_.host + ":" + std::to_string(settings_.port);
}

void Client::OnConnect(mosquitto*, void* self, int rc) {
    auto& client = *static_cast<Client*>(self);
    if (rc != 0) {
        client.refused_ = rc;
        return;
    }
    client.up_ = true;
    // libmosquitto sends again what was in flight; a count that survived the
    // break would only narrow the window.
    client.inflight_ = 0;
    client.Send(client.status_topic_, kOnline, true);
    client.Up();
}

void Client::OnDisconnect(mosquitto*, void* self, int) {
    static_cast<Client*>(self)->up_ = false;
}

void Client::OnPublish(mosquitto*, void* self, int) {
    auto& client = *static_cast<Client*>(self);
    client.inflight_ = std::max(0, client.inflight_ - 1);
}

void Client::Up() {
    if (shown_ == Shown::up) {
        return;
    }
    std::string message = "  MQTT feed: connected to " + Broker();
    if (shown_ == Shown::down) {
        message += " again";
    }
    if (const long long dropped = state_.TakeDroppedUnreported(); dropped > 0) {
        message += "; " + std::to_string(dropped) + " readings were dropped while it was away";
    }
    shown_ = Shown::up;
    state_.Tell(message);
}

void Client::Down(const std::string& why) {
    up_ = false;
    if (shown_ == Shown::down) {
        return;
    }
    shown_ = Shown::down;
    state_.Tell(why + "  MQTT feed: no connection to " + Broker() +
                "; readings are queued until it is back");
}

bool Client::Connect(std::string& why) {
    up_ = false;
    refused_ = 0;
    const int rc = connected_once_ ? mosquitto_reconnect(mosq_)
                                   : mosquitto_connect(mosq_, settings_.host.c_str(),
                                                       settings_.port, settings_.keepalive);
    if (rc != MOSQ_ERR_SUCCESS) {
        why = Describe(rc);
        return false;
    }
    connected_once_ = true;
    return true;
}

int Client::Send(const std::string& topic, std::string_view payload, bool retain) {
    const int rc =
        mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), kQos, retain);
    // A QoS 1 message libmosquitto took is sent again after a break.
    if (rc == MOSQ_ERR_SUCCESS || IsConnectionError(rc)) {
        ++inflight_;
    }
    return rc;
}

// Moves readings from the queue to libmosquitto while the window has room.
int Client::HandOver() {
    MqttReading reading;
    while (up_ && inflight_ + 2 <= kWindow && state_.TakeFront(reading)) {
        int rc = Send(readings_topic_, reading.json, false);
        if (rc == MOSQ_ERR_SUCCESS) {
            rc = Send(reading.topic, reading.json, true);
        }
        if (IsConnectionError(rc)) {
            return rc;
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            state_.CountDropped(1); // libmosquitto refused the message itself
        }
    }
    return MOSQ_ERR_SUCCESS;
}

// One turn of the network loop: waits for the socket or a wake-up, then lets
// libmosquitto read, write and keep the connection alive.
int Client::Step(int timeout_ms) {
    if (up_) {
        if (const int rc = HandOver(); rc != MOSQ_ERR_SUCCESS) {
            return rc;
        }
    }
    const int sock = mosquitto_socket(mosq_);
    if (sock < 0) {
        return MOSQ_ERR_NO_CONN;
    }
    const short events = static_cast<short>(POLLIN | (mosquitto_want_write(mosq_) ? POLLOUT : 0));
    pollfd fds[2] = {{sock, events, 0}, {state_.wake, POLLIN, 0}};
    if (::poll(fds, 2, timeout_ms) < 0 && errno != EINTR) {
        return MOSQ_ERR_ERRNO;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        state_.DrainWake();
    }
    int rc = MOSQ_ERR_SUCCESS;
    if ((fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
        rc = mosquitto_loop_read(mosq_, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS && (fds[0].revents & POLLOUT) != 0) {
        rc = mosquitto_loop_write(mosq_, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS) {
        rc = mosquitto_loop_misc(mosq_);
    }
    return rc;
}

// Runs the connection until it breaks (the reason) or the owner stops it ("").
std::string Client::Serve() {
    while (!state_.stop) {
        const int rc = Step(kPollMs);
        if (refused_ != 0) {
            return mosquitto_connack_string(refused_);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            return Describe(rc);
        }
    }
    return {};
}

void Client::Wait(Clock::duration delay) {
    const auto until = Clock::now() + delay;
    while (!state_.stop && Clock::now() < until) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd wake{state_.wake, POLLIN, 0};
        ::poll(&wake, 1, static_cast<int>(left.count()) + 1);
        state_.DrainWake();
    }
}

// Says goodbye: "offline" on the status topic and what is queued, for a few
// seconds at most.
void Client::Finish() {
    if (!up_) {
        return;
    }
    Send(status_topic_, kOffline, true);
    const auto until = Clock::now() + kFinishTime;
    while (Clock::now() < until && up_ && (inflight_ > 0 || !state_.QueueEmpty())) {
        if (Step(100) != MOSQ_ERR_SUCCESS) {
            return;
        }
    }
    mosquitto_disconnect(mosq_);
    Step(0);
}

void Client::Run() {
    if (!ready_) {
        return;
    }
    Clock::duration delay = kFirstDelay;
    while (!state_.stop) {
        std::string why;
        if (Connect(why)) {
            why = Serve();
            if (state_.stop) {
                break;
            }
            if (shown_ == Shown::up) {
                delay = kFirstDelay; // a connection that worked starts the back-off anew
            }
        }
        Down(why);
        Wait(delay);
        delay = std::min<Clock::duration>(delay * 2, kLongestDelay);
    }
    Finish();
}

} // namespace

MqttPublisher::MqttPublisher(const MqttSettings& settings, Report report)
    : state_(std::make_shared<State>(settings)) {
    state_->report = std::move(report);
    // The thread keeps the state alive; the owner does not wait for it longer
    // than kStopWait (a connect to an unreachable host cannot be cut short).
    std::thread([state = state_] {
        {
            Client client(*state);
            client.Run();
        }
        const std::lock_guard lock(state->finish_mutex);
        state->finished = true;
        state->finished_cv.notify_all();
    }).detach();
}

MqttPublisher::~MqttPublisher() {
    state_->stop = true;
    state_->Wake();
    {
        std::unique_lock lock(state_->finish_mutex);
        state_->finished_cv.wait_for(lock, kStopWait, [&] { return state_->finished; });
    }
    const std::lock_guard lock(state_->report_mutex);
    state_->report = nullptr;
}

void MqttPublisher::Publish(std::vector<MqttReading> readings) {
    if (readings.empty()) {
        return;
    }
    {
        const std::lock_guard lock(state_->mutex);
        for (MqttReading& reading : readings) {
            state_->queue.push_back(std::move(reading));
        }
        while (state_->queue.size() > kQueueLimit) {
            state_->queue.pop_front();
            ++state_->dropped;
            ++state_->dropped_unreported;
        }
    }
    state_->Wake();
}

std::size_t MqttPublisher::Queued() const {
    const std::lock_guard lock(state_->mutex);
    return state_->queue.size();
}

long long MqttPublisher::Dropped() const {
    const std::lock_guard lock(state_->mutex);
    return state_->dropped;
}

} // namespace veltaro::feeds
