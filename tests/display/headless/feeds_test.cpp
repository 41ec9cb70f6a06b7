// The live feeds end to end: sondrel-sim -> quorvel -> veltaro --headless ->
// TCP clients and a real MQTT broker, checked against the decoder's records
// and what veltaro-decode finds in them.
#include "headless_fixture.h"
#include "tests/support/mqtt.h"

namespace {

using namespace harness;

constexpr const char* kUtc = "optUseOffset=True\ntxtGMTOffset=0\n";

// A client of a TCP feed, connected once the display listens.
int ConnectWhenListening(int port) {
    int sock = -1;
    wait_for([&] { return (sock = connect_loopback(port)) >= 0; });
    return sock;
}

std::string Joined(const std::vector<std::string>& lines, const std::string& end) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + end;
    }
    return text;
}

TEST_F(HeadlessTest, EveryTcpClientReceivesTheDecodersRecordsAndTheReadingsAsJson) {
    const int records_port = free_port();
    const int readings_port = free_port();
    SaveSettings(kUtc, "[Feeds]\nrecords_port=" + std::to_string(records_port) +
                           "\nreadings_port=" + std::to_string(readings_port) + "\n");
    SaveStations("");
    Child sim = StartCounted(20, 9);
    // Held until every client is connected, so that each receives everything.
    ::kill(sim.pid, SIGSTOP);
    const pid_t display = StartDisplay({"--headless", "--port", "COM5", "--data-dir", Data()});
    std::vector<int> record_clients;
    std::vector<int> reading_clients;
    for (int i = 0; i < 3; ++i) {
        record_clients.push_back(ConnectWhenListening(records_port));
        reading_clients.push_back(ConnectWhenListening(readings_port));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the display accepts them
    ::kill(sim.pid, SIGCONT);
    const std::vector<std::string> expected = FinishSimulator(sim);
    // Ended, the display has logged and sent the same lines, the decoder's
    // report of the simulator's end included.
    ::kill(display, SIGTERM);
    EXPECT_EQ(wait_exit(display, 30), 0);

    const std::vector<std::string> raw = read_lines(dir_ / "data/A2RawData.txt");
    const std::vector<std::string> json = Decoded("json");
    ASSERT_GT(json.size(), 20u);
    EXPECT_EQ(MaskedRawLog(), expected);
    for (const int client : record_clients) {
        EXPECT_TRUE(receive(client) == Joined(raw, "\r\n"));
        ::close(client);
    }
    for (const int client : reading_clients) {
        EXPECT_TRUE(receive(client) == Joined(json, "\n"));
        ::close(client);
    }
}

TEST_F(HeadlessTest, TheBrokerGetsEachReadingOnceAndTheStatusTurnsOfflineWhenTheDisplayIsKilled) {
    const int keepalive = 5;
    Broker broker(dir_);
    const Subscriber subscriber(broker.port(), "alert2/#");
    SaveSettings(kUtc, "[Feeds]\nmqtt_host=127.0.0.1\nmqtt_port=" + std::to_string(broker.port()) +
                           "\nmqtt_keepalive=" + std::to_string(keepalive) + "\n");
    SaveStations("");
    Child sim = StartCounted(20, 9);
    const pid_t display = StartDisplay({"--headless", "--port", "COM5", "--data-dir", Data()});
    FinishSimulator(sim);
    const std::vector<std::string> json = Decoded("json");
    ASSERT_GT(json.size(), 20u);
    ASSERT_TRUE(
        wait_for([&] { return subscriber.Payloads("alert2/readings").size() >= json.size(); }));
    EXPECT_EQ(subscriber.Payloads("alert2/readings"), json);
    EXPECT_EQ(subscriber.Payloads("alert2/status"), std::vector<std::string>{"online"});
    EXPECT_NE(read_file(dir_ / "errors.txt").find("veltaro:   MQTT feed: connected to 127.0.0.1:"),
              std::string::npos);

    // Killed, its connection ends with it: the broker sends its last will,
    // which stays retained for whoever subscribes later.
    const std::vector<pid_t> decoders = Children(display);
    ::kill(display, SIGKILL);
    EXPECT_TRUE(wait_for([&] { return subscriber.Payloads("alert2/status").size() == 2; },
                         keepalive * 3 / 2));
    EXPECT_EQ(subscriber.Payloads("alert2/status").back(), "offline");
    const Subscriber later(broker.port(), "alert2/status");
    ASSERT_TRUE(wait_for([&] { return !later.Messages().empty(); }));
    EXPECT_EQ(later.Messages()[0].payload, "offline");
    EXPECT_TRUE(later.Messages()[0].retain);
    wait_exit(display, 30);
    for (const pid_t decoder : decoders) {
        ::kill(decoder, SIGTERM);
    }
}

} // namespace
