// A real MQTT broker for tests (the mosquitto program on a free port of its
// own, with its own configuration file and nothing else), a subscriber that
// collects what the broker delivers, and plain clients on the loopback.
#pragma once

#include "tests/support/harness.h"

#include <mosquitto.h>

#include <chrono>
#include <csignal>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace harness {

inline sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// A port nobody listens on at the moment of asking.
inline int free_port() {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(sock);
    return ntohs(address.sin_port);
}

// A client connected to the port, or -1 when nothing accepts there; a
// receive buffer of receive_buffer bytes when given.
inline int connect_loopback(int port, int receive_buffer = 0) {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receive_buffer > 0) {
        ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    const sockaddr_in address = loopback(port);
    if (::connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(sock);
        return -1;
    }
    return sock;
}

// True once something accepts connections on the port.
inline bool port_open(int port) {
    const int sock = connect_loopback(port);
    ::close(sock);
    return sock >= 0;
}

// What a client received until it holds `size` bytes or the other side
// closed the connection (or 60 s passed).
inline std::string receive(int sock, std::size_t size = std::string::npos) {
    std::string received;
    wait_for([&] {
        char buffer[65536];
        pollfd p{sock, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0) {
            const ssize_t n = ::read(sock, buffer, sizeof buffer);
            if (n <= 0) {
                return true;
            }
            received.append(buffer, static_cast<std::size_t>(n));
        }
        return received.size() >= size;
    });
    return received;
}

// mosquitto listening on 127.0.0.1 at a port of its own; with persistence its
// retained messages and sessions survive Stop and Start.
class Broker {
public:
    explicit Broker(const TempDir& dir, bool persistent = false)
        : port_(free_port()), config_(dir.file("mosquitto-" + std::to_string(port_) + ".conf")) {
        // Run as root, the broker would switch to its own user, which cannot
        // write here: it stays the user the tests run as.
        const passwd* user = ::getpwuid(::getuid());
        std::string text =
            "listener " + std::to_string(port_) +
            " 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\nlog_dest none\nuser " +
            std::string(user != nullptr ? user->pw_name : "root") + "\n";
        if (persistent) {
            text += "persistence true\npersistence_location " + dir.path().string() + "/\n";
        }
        write_file(config_, text);
        Start();
    }
    ~Broker() { Stop(); }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    int port() const { return port_; }

    void Start() {
        pid_ = spawn({MOSQUITTO_BROKER, "-c", config_}, fs::path(config_).parent_path()).pid;
        if (!wait_for([&] { return port_open(port_); }, 30)) {
            throw std::runtime_error("the broker did not start");
        }
    }
    // An orderly end: a persistent broker saves its state.
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            wait_exit(pid_, 30);
            pid_ = -1;
        }
    }

private:
    int port_;
    std::string config_;
    pid_t pid_ = -1;
};

struct Message {
    std::string topic;
    std::string payload;
    bool retain = false;
    std::chrono::system_clock::time_point arrived;
};

// Subscribes to a topic filter at QoS 1 and keeps every message, in order.
// A fixed id without a clean session lets it collect what arrived while the
// broker was restarted.
class Subscriber {
public:
    Subscriber(int port, const std::string& filter, const std::string& id = "", bool clean = true)
        : filter_(filter) {
        mosquitto_lib_init();
        mosq_ = mosquitto_new(id.empty() ? nullptr : id.c_str(), clean, this);
        mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void* self, int rc) {
            if (rc == 0) {
                mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->filter_.c_str(), 1);
            }
        });
        mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
            auto& s = *static_cast<Subscriber*>(self);
            const std::lock_guard lock(s.mutex_);
            ++s.subscribed_;
        });
        mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self,
                                                 const mosquitto_message* m) {
            auto& s = *static_cast<Subscriber*>(self);
            const std::lock_guard lock(s.mutex_);
            s.messages_.push_back({m->topic,
                                   std::string(static_cast<const char*>(m->payload), m->payloadlen),
                                   m->retain, std::chrono::system_clock::now()});
        });
        mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
        mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1); // no wait on small packets
        mosquitto_connect(mosq_, "127.0.0.1", port, 60);
        mosquitto_loop_start(mosq_);
        if (!wait_for([&] { return Subscriptions() > 0; }, 30)) {
            throw std::runtime_error("the subscriber did not subscribe");
        }
    }
    ~Subscriber() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    std::vector<Message> Messages() const {
        const std::lock_guard lock(mutex_);
        return messages_;
    }
    // Payloads on one topic, in order.
    std::vector<std::string> Payloads(const std::string& topic) const {
        std::vector<std::string> payloads;
        for (const Message& m : Messages()) {
            if (m.topic == topic) {
                payloads.push_back(m.payload);
            }
        }
        return payloads;
    }
    int Subscriptions() const {
        const std::lock_guard lock(mutex_);
        return subscribed_;
    }

private:
    std::string filter_;
    mosquitto* mosq_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    int subscribed_ = 0;
};

} // namespace harness
