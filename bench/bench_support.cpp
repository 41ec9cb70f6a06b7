#include "bench/bench_support.h"

#include "decoder/fec.h"
#include "decoder/packet_receiver.h"
#include "decoder/records.h"
#include "simulator/alert2.h"
#include "simulator/mant_packet.h"
#include "simulator/scenario.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>

namespace bench {

namespace {

using sondrel::Bytes;
using namespace sondrel::alert2;

constexpr std::size_t kMaxMant = 1023;
constexpr std::int64_t kScenarioClock = 1'700'000'000;

void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

Bytes with_time_stamp(int packet_id) {
    return app_header(AppHeader{packet_id, false, std::uint16_t{31000}});
}

Bytes mant(std::uint16_t source, int payload_kind, const Bytes& app) {
    sondrel::MantHeader header;
    header.source = source;
    header.hop_limit = 3;
    header.payload_kind = payload_kind;
    return sondrel::mant_packet(header, app);
}

Bytes rain_tips_app(std::uint32_t seed) {
    Bytes app = with_time_stamp(1);
    for (int e = 0; e < 8; ++e) {
        std::vector<std::uint8_t> tips;
        for (int t = 0; t < 12; ++t) {
            tips.push_back(static_cast<std::uint8_t>(240 - 20 * t));
        }
        const Reading total{1, Value::unsigned_int(seed % 1000 + static_cast<unsigned>(e), 2)};
        append(app, element(kRainTip, rain_tip_body(total, tips)));
    }
    return app;
}

Bytes general_sensor_app() {
    Bytes app = with_time_stamp(2);
    for (int e = 0; e < 4; ++e) {
        const std::vector<Reading> readings{
            {2, Value::real(1.25F + static_cast<float>(e))},
            {3, Value::unsigned_int(1200, 2)},
            {4, Value::signed_int(-12, 1)},
            {5, Value::signed_int(-300, 2)},
            {6, Value::unsigned_int(45, 1)},
            {7, Value::real(1013.5F)},
            {8, Value::unsigned_int(123456789, 4)},
            {9, Value::signed_int(-654321, 4)},
            {10, Value::unsigned_int(0xABCDEF, 3)},
            {11, Value::signed_int(-70000, 3)},
        };
        append(app, element(kGeneralSensor, general_sensor_body(readings)));
    }
    return app;
}

Bytes multiple_sensor_app() {
    Bytes app = with_time_stamp(3);
    const std::array<std::int32_t, 8> values{-1200, 200, 3000, 17, 40000, 99, -5, 250};
    for (int e = 0; e < 10; ++e) {
        append(app, element(kMultipleSensor, multiple_sensor_body(0xFF, values)));
    }
    return app;
}

Bytes compact_app() {
    Bytes app = app_header(AppHeader{4, false, std::nullopt});
    for (int r = 0; r < 40; ++r) {
        append(app, compact_report(CompactReport{static_cast<std::uint16_t>(100 + r),
                                                 static_cast<std::uint16_t>(20 * r),
                                                 static_cast<std::uint8_t>(r)}));
    }
    return app;
}

// General sensor readings of 3 to 6 bytes each, body exactly `size` (>= 3).
Bytes readings_of_size(int size) {
    std::vector<Reading> readings;
    std::uint8_t sensor = 20;
    while (size > 0) {
        const int take = size >= 9 ? 6 : size == 8 ? 5 : size == 7 ? 4 : size;
        readings.push_back({sensor++, Value::unsigned_int(1000U + sensor, take - 2)});
        size -= take;
    }
    return general_sensor_body(readings);
}

// General sensor elements taking exactly `size` bytes (>= 5).
Bytes elements_of_size(int size) {
    Bytes out;
    while (size > 0) {
        int chunk = std::min(size, 200);
        if (size - chunk > 0 && size - chunk < 5) {
            chunk = size - 5;
        }
        append(out, element(kGeneralSensor, readings_of_size(chunk - 2)));
        size -= chunk;
    }
    return out;
}

} // namespace

Bytes largest_mant_data(std::uint32_t seed) {
    Bytes data;
    append(data, mant(101, 0, rain_tips_app(seed)));
    append(data, mant(202, 0, general_sensor_app()));
    append(data, mant(303, 0, multiple_sensor_app()));
    append(data, mant(404, 1, compact_app()));
    constexpr int kHeaderAndAppHeader = 6 + 3;
    const int room = static_cast<int>(kMaxMant - data.size()) - kHeaderAndAppHeader;
    if (room < 5) {
        throw std::logic_error("largest frame: no room for the last packet");
    }
    Bytes last = with_time_stamp(5);
    append(last, elements_of_size(room));
    append(data, mant(505, 0, last));
    if (data.size() != kMaxMant) {
        throw std::logic_error("largest frame is not 1023 bytes");
    }
    return data;
}

Bytes small_mant_data() {
    Bytes app = app_header(AppHeader{1, false, std::nullopt});
    const std::vector<Reading> stage{{2, Value::unsigned_int(1234, 2)}};
    append(app, element(kGeneralSensor, general_sensor_body(stage)));
    return mant(101, 0, app);
}

std::string packet_stream(const Bytes& mant_bytes, int first_payload) {
    const Bytes airlink = sondrel::airlink_data(0, mant_bytes);
    const sondrel::Codewords words = sondrel::make_codewords(airlink, first_payload);
    return sondrel::to_stream(sondrel::encode_codewords(words)) + "\r\n";
}

std::vector<std::string> typical_streams(int count, int first_payload, std::uint32_t seed) {
    sondrel::ScenarioOptions options;
    options.first_payload = first_payload;
    options.seed = seed;
    options.start_time = kScenarioClock;
    sondrel::Scenario scenario(options);
    std::vector<std::string> streams;
    for (int i = 0; i < count; ++i) {
        streams.push_back(scenario.next(i + 1 == count).stream);
    }
    return streams;
}

CodeBytes code_bytes(const std::string& stream, int first_payload) {
    std::vector<std::uint8_t> all;
    for (std::size_t i = 1; i + 1 < stream.size(); i += 2) {
        const std::string pair = stream.substr(i, 2);
        if (pair.find_first_not_of("0123456789ABCDEF") != std::string::npos) {
            break;
        }
        all.push_back(static_cast<std::uint8_t>(std::stoi(pair, nullptr, 16)));
    }
    const std::size_t first = static_cast<std::size_t>(2 * first_payload + 34);
    if (all.size() < first) {
        throw std::invalid_argument("stream shorter than its first block");
    }
    CodeBytes code;
    code.first.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(first));
    code.second.assign(all.begin() + static_cast<std::ptrdiff_t>(first), all.end());
    return code;
}

void use_private_folders(const TempDir& root) {
    for (const char* name : {"config", "data", "runtime"}) {
        const std::filesystem::path folder = root.path() / name;
        ::mkdir(folder.c_str(), 0700);
    }
    ::setenv("XDG_CONFIG_HOME", (root.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root.path() / "data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root.path() / "runtime").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

std::string decode_stream(const std::string& stream, int first_payload) {
    TempDir dir;
    const std::filesystem::path exchange = dir.path() / "exchange.txt";
    quorvel::FecContext fec;
    quorvel::init_fec(fec, first_payload);
    quorvel::RecordOutput out;
    out.exchange_path = exchange.string();
    out.console = nullptr;
    quorvel::PacketReceiver receiver(fec, out, [] {});
    receiver.feed(std::span(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size()));
    quorvel::flush_pending_output(out, quorvel::SteadyClock::now());
    return read_file(exchange);
}

std::vector<std::string> lines_starting(const std::string& content, const std::string& prefix) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = content.size();
        }
        if (content.compare(start, prefix.size(), prefix) == 0) {
            lines.push_back(content.substr(start, end - start));
        }
        start = end + 1;
    }
    return lines;
}

std::string exchange_text(const std::vector<std::string>& records) {
    std::string text;
    for (const std::string& record : records) {
        text += record;
        text += "\r\r\n";
    }
    return text;
}

} // namespace bench
