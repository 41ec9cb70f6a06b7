// bench-feeds: the live feeds of a running veltaro --headless. The records of
// a simulator capture are appended to the exchange file the way the decoder
// appends them, one packet at a time at uneven intervals, each append timed;
// the display's decoder idles on a pipe meanwhile. Measures the delay from a
// packet's records reaching the exchange file to each of its readings at an
// MQTT subscriber, and how many TCP clients of the records feed it holds,
// each receiving every record. Prints key=value lines.
//
//   bench-feeds --bin DIR [--packets N] [--clients C]
#include "common/exchange_file.h"
#include "display/data/utc_time.h"
#include "tests/support/mqtt.h"
#include "tests/support/records.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <map>
#include <random>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace harness;
using SystemClock = std::chrono::system_clock;

struct Options {
    std::string bin;
    int packets = 300;
    int clients = 100;
};

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--bin") {
            options.bin = fs::absolute(value).string(); // the programs run in a folder of their own
        } else if (name == "--packets") {
            options.packets = std::stoi(value);
        } else if (name == "--clients") {
            options.clients = std::stoi(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.bin.empty();
}

int Connect(int port) {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(sock);
        return -1;
    }
    return sock;
}

// A replayed capture gives many packets the same receive time; each gets
// one of its own (seconds and milliseconds from its number, in its P record
// and its N records alike), so that a message names its packet.
std::string Stamped(const std::string& line, std::size_t packet) {
    std::vector<std::string> fields = split_fields(line);
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%02zu.%03zu", packet / 1000 % 60, packet % 1000);
    if (fields[0] == "P" && fields.size() > 7) {
        fields[7] = seconds;
    } else if (fields[0] == "N" && fields.size() > 6) {
        fields[6] = std::string(seconds) + "0";
    }
    return join_fields(fields);
}

// The capture's records, one text per packet (its P record and N records),
// each record ended with CR CR LF as the decoder writes it.
std::vector<std::string> PacketRecords(const Options& options, const TempDir& dir) {
    const std::string count = std::to_string(options.packets);
    wait_exit(spawn({options.bin + "/sondrel-sim", "--output", dir.file("capture.txt"), "--count",
                     count, "--seed", "3"},
                    dir.path())
                  .pid,
              120);
    wait_exit(
        spawn({options.bin + "/quorvel", "-p", "capture.txt", "-e", "records.txt"}, dir.path()).pid,
        120);
    std::vector<std::string> packets;
    for (const std::string& line : read_lines(dir / "records.txt")) {
        if (line.starts_with("P,") || packets.empty()) {
            packets.emplace_back();
        }
        packets.back() += Stamped(line, packets.size() - 1) + "\r\r\n";
    }
    return packets;
}

// The receive time the readings of a packet carry, as their JSON shows it.
std::string ReceivedOf(const std::string& packet) {
    const std::size_t n = packet.find("N,");
    if (n == std::string::npos) {
        return {};
    }
    return veltaro::data::IsoMillis(veltaro::data::ReceiveMillis(packet.substr(n), 1).value_or(0));
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "Usage: bench-feeds --bin DIR [--packets N] [--clients C]\n");
        return 2;
    }
    const TempDir dir("veltaro-bench-feeds");
    for (const char* folder : {"config/Veltaro/ports", "data", "run"}) {
        fs::create_directories(dir / folder);
    }
    fs::permissions(dir / "run", fs::perms::owner_all);
    const std::vector<std::string> packets = PacketRecords(options, dir);
    if (static_cast<int>(packets.size()) != options.packets) {
        std::fprintf(stderr, "bench-feeds: %zu of %d packets decoded; are sondrel-sim, quorvel "
                             "and veltaro in %s?\n",
                     packets.size(), options.packets, options.bin.c_str());
        return 1;
    }

    // The decoder reads a pipe nobody writes to: the records come from here.
    ::mkfifo(dir.file("idle.fifo").c_str(), 0600);
    const int idle = ::open(dir.file("idle.fifo").c_str(), O_RDWR);
    fs::create_symlink(dir / "idle.fifo", dir / "config/Veltaro/ports/COM5");

    Broker broker(dir);
    const Subscriber subscriber(broker.port(), "alert2/readings");
    const int records_port = free_port();
    write_file(dir / "config/Veltaro/Veltaro.conf",
               "[Settings]\noptUseOffset=True\ntxtGMTOffset=0\n[Feeds]\nrecords_port=" +
                   std::to_string(records_port) +
                   "\nmqtt_host=127.0.0.1\nmqtt_port=" + std::to_string(broker.port()) + "\n");
    const Child display = spawn(
        {options.bin + "/veltaro", "--headless", "--port", "COM5", "--data-dir", dir.file("data")},
        dir.path(),
        {"XDG_CONFIG_HOME=" + dir.file("config"), "XDG_RUNTIME_DIR=" + dir.file("run")});
    std::vector<int> clients;
    wait_for([&] {
        const int sock = Connect(records_port);
        if (sock >= 0) {
            clients.push_back(sock);
        }
        return sock >= 0;
    });
    while (static_cast<int>(clients.size()) < options.clients) {
        clients.push_back(Connect(records_port));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the display accepts them

    // The first client times each packet's P record as it arrives.
    std::vector<SystemClock::time_point> p_arrivals;
    std::string first_received;
    std::thread timer([&] {
        std::string pending;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(clients[0], buffer, sizeof buffer);
            if (n <= 0) {
                return;
            }
            const auto now = SystemClock::now();
            first_received.append(buffer, static_cast<std::size_t>(n));
            pending.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
                if (pending.starts_with("P,")) {
                    p_arrivals.push_back(now);
                }
                pending.erase(0, end + 2);
            }
            if (p_arrivals.size() == packets.size()) {
                return;
            }
        }
    });

    // Uneven gaps, so that appends fall at every point of the display's tick.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> gap_ms(20, 400);
    std::map<std::string, SystemClock::time_point> written;
    std::vector<SystemClock::time_point> write_times;
    std::string all;
    for (const std::string& packet : packets) {
        exchange::Append(dir.file("data/SondrelMANTout.txt"), packet);
        write_times.push_back(SystemClock::now());
        written.emplace(ReceivedOf(packet), write_times.back());
        all += packet;
        std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms(random)));
    }
    for (std::size_t at = 0; (at = all.find("\r\r\n", at)) != std::string::npos;) {
        all.replace(at, 3, "\r\n");
    }
    timer.join();
    int complete = first_received == all ? 1 : 0;
    for (std::size_t i = 1; i < clients.size(); ++i) {
        complete += receive(clients[i], all.size()) == all ? 1 : 0;
    }
    std::vector<double> record_latencies;
    for (std::size_t i = 0; i < p_arrivals.size(); ++i) {
        record_latencies.push_back(
            std::chrono::duration<double, std::milli>(p_arrivals[i] - write_times[i]).count());
    }
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the last messages arrive
    ::kill(display.pid, SIGTERM);
    wait_exit(display.pid, 30);
    ::close(idle);

    std::vector<double> latencies;
    for (const Message& m : subscriber.Messages()) {
        const auto found = written.find(nlohmann::json::parse(m.payload)["received"]);
        if (found != written.end()) {
            latencies.push_back(
                std::chrono::duration<double, std::milli>(m.arrived - found->second).count());
        }
    }
    std::printf("packets=%zu\nreadings=%zu\nmessages=%zu\n", packets.size(), latencies.size(),
                subscriber.Messages().size());
    std::printf("latency_median_ms=%.0f\nlatency_p95_ms=%.0f\nlatency_max_ms=%.0f\n",
                Percentile(latencies, 0.5), Percentile(latencies, 0.95),
                Percentile(latencies, 1.0));
    std::printf("records_median_ms=%.0f\nrecords_p95_ms=%.0f\nrecords_max_ms=%.0f\n",
                Percentile(record_latencies, 0.5), Percentile(record_latencies, 0.95),
                Percentile(record_latencies, 1.0));
    std::printf("tcp_clients=%zu\ntcp_clients_complete=%d\nrecord_bytes=%zu\n", clients.size(),
                complete, all.size());
    return complete == static_cast<int>(clients.size()) ? 0 : 1;
}
