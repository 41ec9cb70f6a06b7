// What the decoding core hands to an attached sink: record lines, packets and
// readings exactly as it lists them, with times in UTC.
#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/support/exchange_text.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

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
    std::vector<long long> tips = {};
    bool operator==(const SeenReading&) const = default;
};

void PrintTo(const SeenReading& r, std::ostream* out) {
    *out << r.type << "/" << r.sensor << " at " << r.time << ": " << r.text << " = " << r.value
         << " (kind " << static_cast<int>(r.kind) << ", " << r.bits << " bits, " << r.tips.size()
         << " tips)";
}

struct SeenPacket {
    std::string record;
    std::string source;
    bool test;
    int hop_limit;
    int packet_id;
    std::vector<std::string> path;
    std::string bytes;
    bool operator==(const SeenPacket&) const = default;
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

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Each reading the list shows, and only those: the packet is handed on
// unless its source is filtered out.
TEST(ReadingSink, HandsOnEachReadingOfEveryKindAsListed) {
    constexpr long long T = kReceived;
    struct Case {
        const char* name;
        std::string payload;
        std::vector<SeenReading> expected;
        int payload_kind = 0;
        std::string offset = "0";
        std::string filter = "";
    };
    const Case cases[] = {
        {"general unsigned", "00 01 04 0A 12 01 F4", {{1, 10, T, "500", 500, U, 16}}},
        {"general signed", "00 01 04 0A 22 FF FE", {{1, 10, T, "-2", -2, S, 16}}},
        {"general 4-byte",
         "00 01 06 0B 14 FF FF FF FF",
         {{1, 11, T, "4294967295", 4294967295.0, U, 32}}},
        {"real before rounding",
         "00 01 06 05 34 3D CC CC CD",
         {{1, 5, T, "0.1", double(0.1f), R, 32}}},
        {"real zero is zero", "00 01 06 05 34 00 00 00 00", {{1, 5, T, "0", 0, R, 32}}},
        // The list keeps showing what its own reader makes of the pattern.
        {"real of all exponent bits",
         "00 01 06 05 34 7F 80 00 00",
         {{1, 5, T, "3.40282366920938E+38", kInfinity, R, 32}}},
        {"rain, tips in body order",
         "00 02 05 07 11 2A 00 1E",
         {{2, 7, T, "42", 42, U, 8, {T, T - 30}}}},
        {"rain real", "00 02 06 07 34 3F C0 00 00", {{2, 7, T, "1.5", 1.5, R, 32}}},
        {"multiple, one reading a sensor",
         "00 03 04 03 FF 38 64",
         {{3, 1, T, "-200", -200, S, 16}, {3, 2, T, "100", 100, U, 8}}},
        {"compact, its age taken off", "00 34 A2 7F 05", {{0, 564, T - 5, "1407", 1407, U, 11}}, 1},
        // Time stamp 7620 s after 12:00 UTC, listed at UTC - 6: handed on in UTC.
        {"time stamp shown at an offset",
         "04 1D C4 01 04 0A 12 01 F4",
         {{1, 10, T - 9, "500", 500, U, 16}},
         0,
         "-6"},
        {"compact at an offset", "00 34 A2 7F 05", {{0, 564, T - 5, "1407", 1407, U, 11}}, 1, "5"},
        {"filtered source", "00 01 04 0A 12 01 F4", {}, 0, "0", "999"},
        {"element no decoder reads", "00 07 01 00", {}},
        {"real of two bytes not listed, the next reading is",
         "00 01 08 05 32 00 00 06 11 07",
         {{1, 6, T, "7", 7, U, 8}}},
        {"value cut short", "00 01 03 0A 12 01", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Cycle cycle(exchange_content({n_record(c.payload, c.payload_kind)}), c.offset,
                          c.filter);
        EXPECT_EQ(cycle.sink.readings, c.expected);
        EXPECT_EQ(cycle.sink.records.size(), 1u);
        EXPECT_EQ(cycle.sink.packets.size(), c.filter.empty() ? 1u : 0u);
    }
}

TEST(ReadingSink, HandsOnEveryRecordLineAndThePacketAsListed) {
    const std::string n = n_record("58 01 04 0A 12 01 F4", 0, "77", {100, 200});
    const Cycle cycle(
        exchange_content({"S,12,Error 5: short", "P,0,2015,05,03,14,07,09.250,7", "junk", n}));
    EXPECT_EQ(cycle.sink.records, (std::vector<std::string>{"S,12,Error 5: short",
                                                            "P,0,2015,05,03,14,07,09.250,7", n}));
    // 18 bytes: 7 of payload, 6 of header, the count and two addresses.
    const SeenPacket packet = {n, "77", true, 3, 5, {"100", "200"}, "18"};
    EXPECT_EQ(cycle.sink.packets, std::vector<SeenPacket>{packet});
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
