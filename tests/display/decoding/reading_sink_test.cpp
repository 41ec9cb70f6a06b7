// What the decoding core hands to an attached sink: record lines, packets and
// readings exactly as it lists them, with times in UTC.
#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/support/exchange_text.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace veltaro {
namespace {

using harness::exchange_content;
using harness::n_record;

// 2015-05-03 14:07:09 UTC, the receive time of harness::n_record.
constexpr long long kReceived = 1430662029;

struct SeenReading {
    int type;
    long long sensor;
    long long time;
    std::string text;
    double value;
    ValueKind kind;
    int bits;
    std::vector<long long> tips;
};

struct SeenPacket {
    std::string record;
    std::string source;
    bool test;
    int hop_limit;
    int packet_id;
    std::vector<std::string> path;
    std::string bytes;
};

class RecordingSink : public ReadingSink {
public:
    void OnRecord(std::string_view line) override { records.emplace_back(line); }
    void OnPacket(const PacketEvent& p) override {
        packets.push_back({std::string(p.record), std::string(p.source), p.test, p.hop_limit,
                           p.packet_id, std::vector<std::string>(p.path.begin(), p.path.end()),
                           std::string(p.bytes)});
    }
    void OnReading(const ReadingEvent& r) override {
        readings.push_back({r.type, r.sensor, r.time, std::string(r.text), r.value, r.value_kind,
                            r.value_bits, std::vector<long long>(r.tips.begin(), r.tips.end())});
    }

    std::vector<std::string> records;
    std::vector<SeenPacket> packets;
    std::vector<SeenReading> readings;
};

// One ingest cycle over the content, with the sink attached unless asked
// otherwise; with a folder, the lines are logged there.
struct Cycle {
    explicit Cycle(const std::string& content, const std::string& offset = "0",
                   const std::string& filter = "", const std::string& log_folder = "",
                   bool attach = true)
        : ui(log_folder.empty() ? "." : log_folder) {
        ui.SetText(TextBoxId::txtGMTOffset, offset);
        ui.SetText(TextBoxId::txtFilter, filter);
        ui.SetOption(OptionId::optUseOffset, true);
        if (!log_folder.empty()) {
            for (const auto& [box, name] : {std::pair{TextBoxId::txtRawDataFile, "raw.txt"},
                                            std::pair{TextBoxId::txtMsgFile, "headers.txt"},
                                            std::pair{TextBoxId::txtReportFile, "reports.txt"}}) {
                ui.SetText(box, name);
            }
            ui.SetOption(OptionId::optDisplayed, true);
        }
        m.Sink = attach ? &sink : nullptr;
        IngestExchangeText(m, content);
    }
    MemoryControls ui;
    MStart m{ui};
    RecordingSink sink;
};

constexpr auto U = ValueKind::unsigned_integer;
constexpr auto S = ValueKind::signed_integer;
constexpr auto R = ValueKind::real;

struct KindCase {
    const char* name;
    std::string payload;
    int payload_kind;
    std::string offset;
    std::vector<SeenReading> expected;
};

TEST(ReadingSink, HandsOnEachReadingOfEveryKindAsListed) {
    const KindCase cases[] = {
        {"general unsigned",
         "00 01 04 0A 12 01 F4",
         0,
         "0",
         {{1, 10, kReceived, "500", 500, U, 16, {}}}},
        {"general signed",
         "00 01 04 0A 22 FF FE",
         0,
         "0",
         {{1, 10, kReceived, "-2", -2, S, 16, {}}}},
        {"general four-byte unsigned",
         "00 01 06 0B 14 FF FF FF FF",
         0,
         "0",
         {{1, 11, kReceived, "4294967295", 4294967295.0, U, 32, {}}}},
        {"general real before rounding",
         "00 01 06 05 34 3D CC CC CD",
         0,
         "0",
         {{1, 5, kReceived, "0.1", static_cast<double>(0.1f), R, 32, {}}}},
        {"general real zero is zero",
         "00 01 06 05 34 00 00 00 00",
         0,
         "0",
         {{1, 5, kReceived, "0", 0, R, 32, {}}}},
        {"rain with tips in body order",
         "00 02 05 07 11 2A 00 1E",
         0,
         "0",
         {{2, 7, kReceived, "42", 42, U, 8, {kReceived, kReceived - 30}}}},
        {"rain real",
         "00 02 06 07 34 3F C0 00 00",
         0,
         "0",
         {{2, 7, kReceived, "1.5", 1.5, R, 32, {}}}},
        {"multiple, one reading a sensor",
         "00 03 04 03 FF 38 64",
         0,
         "0",
         {{3, 1, kReceived, "-200", -200, S, 16, {}}, {3, 2, kReceived, "100", 100, U, 8, {}}}},
        {"compact, its age taken off",
         "00 34 A2 7F 05",
         1,
         "0",
         {{0, 564, kReceived - 5, "1407", 1407, U, 11, {}}}},
        // Time stamp 7620 s after 12:00 UTC, listed at UTC - 6: handed on in UTC.
        {"time stamp shown at an offset",
         "04 1D C4 01 04 0A 12 01 F4",
         0,
         "-6",
         {{1, 10, kReceived - 9, "500", 500, U, 16, {}}}},
        {"compact at an offset",
         "00 34 A2 7F 05",
         1,
         "5",
         {{0, 564, kReceived - 5, "1407", 1407, U, 11, {}}}},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Cycle cycle(exchange_content({n_record(c.payload, c.payload_kind)}), c.offset);
        const auto& seen = cycle.sink.readings;
        ASSERT_EQ(seen.size(), c.expected.size());
        for (std::size_t i = 0; i < seen.size(); ++i) {
            EXPECT_EQ(seen[i].type, c.expected[i].type);
            EXPECT_EQ(seen[i].sensor, c.expected[i].sensor);
            EXPECT_EQ(seen[i].time, c.expected[i].time);
            EXPECT_EQ(seen[i].text, c.expected[i].text);
            EXPECT_EQ(seen[i].value, c.expected[i].value);
            EXPECT_EQ(seen[i].kind, c.expected[i].kind);
            EXPECT_EQ(seen[i].bits, c.expected[i].bits);
            EXPECT_EQ(seen[i].tips, c.expected[i].tips);
        }
    }
}

TEST(ReadingSink, ARealWithAllExponentBitsStaysAnInfinity) {
    const Cycle cycle(exchange_content({n_record("00 01 06 05 34 7F 80 00 00")}));
    ASSERT_EQ(cycle.sink.readings.size(), 1u);
    EXPECT_EQ(cycle.sink.readings[0].value, std::numeric_limits<double>::infinity());
    // The list keeps showing what its own reader makes of the pattern.
    EXPECT_EQ(cycle.sink.readings[0].text, "3.40282366920938E+38");
}

TEST(ReadingSink, HandsOnEveryRecordLineAndThePacketAsListed) {
    const std::string n = n_record("58 01 04 0A 12 01 F4", 0, "77", {100, 200});
    const Cycle cycle(
        exchange_content({"S,12,Error 5: short", "P,0,2015,05,03,14,07,09.250,7", "junk", n}));
    EXPECT_EQ(cycle.sink.records, (std::vector<std::string>{"S,12,Error 5: short",
                                                            "P,0,2015,05,03,14,07,09.250,7", n}));
    ASSERT_EQ(cycle.sink.packets.size(), 1u);
    const SeenPacket& p = cycle.sink.packets[0];
    EXPECT_EQ(p.record, n);
    EXPECT_EQ(p.source, "77");
    EXPECT_TRUE(p.test);
    EXPECT_EQ(p.hop_limit, 3);
    EXPECT_EQ(p.packet_id, 5);
    EXPECT_EQ(p.path, (std::vector<std::string>{"100", "200"}));
    EXPECT_EQ(p.bytes, "18"); // 7 payload bytes, 6 header bytes, count and two addresses
}

TEST(ReadingSink, WhatTheListDoesNotShowIsNotHandedOn) {
    struct Case {
        const char* name;
        std::string payload;
        std::string filter;
        std::size_t packets;
        std::vector<long long> sensors;
    };
    const Case cases[] = {
        {"filtered source", "00 01 04 0A 12 01 F4", "999", 0, {}},
        {"element no decoder reads", "00 07 01 00", "", 1, {}},
        {"real of two bytes not listed, the next reading is",
         "00 01 08 05 32 00 00 06 11 07",
         "",
         1,
         {6}},
        {"value cut short", "00 01 03 0A 12 01", "", 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Cycle cycle(exchange_content({n_record(c.payload)}), "0", c.filter);
        EXPECT_EQ(cycle.sink.records.size(), 1u);
        EXPECT_EQ(cycle.sink.packets.size(), c.packets);
        std::vector<long long> sensors;
        for (const SeenReading& r : cycle.sink.readings) {
            sensors.push_back(r.sensor);
        }
        EXPECT_EQ(sensors, c.sensors);
    }
}

TEST(ReadingSink, ListsAndLogsAreTheSameWithASinkAttached) {
    const std::string content = exchange_content({
        "P,0,2015,05,03,14,07,09.250,7",
        n_record("00 02 05 07 11 2A 00 1E"),
        n_record("00 03 04 03 FF 38 64"),
        n_record("00 34 A2 7F 05", 1),
        n_record("00 07 01 00"),
    });
    const harness::TempDir plain_logs;
    const harness::TempDir sink_logs;
    const Cycle plain(content, "0", "", plain_logs.path().string(), false);
    const Cycle with(content, "0", "", sink_logs.path().string());
    EXPECT_EQ(with.sink.readings.size(), 4u);
    for (const ListId list : {ListId::lstOutput, ListId::lstMessage, ListId::lstReport}) {
        EXPECT_EQ(with.ui.Lines(list), plain.ui.Lines(list));
    }
    for (const char* log : {"raw.txt", "headers.txt", "reports.txt"}) {
        EXPECT_NE(harness::read_file(plain_logs / log), "") << log;
        EXPECT_EQ(harness::read_file(sink_logs / log), harness::read_file(plain_logs / log)) << log;
    }
}

} // namespace
} // namespace veltaro
