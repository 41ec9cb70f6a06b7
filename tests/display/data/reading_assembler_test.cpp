// Packets and readings as data: receive times to the millisecond, link
// quality, values at full precision and the registry's names and scaling.
#include "display/data/registry.h"
#include "tests/support/exchange_text.h"
#include "tests/support/readings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace veltaro::data {
namespace {

using harness::exchange_content;
using harness::n_record;
using harness::p_record;

// 2015-05-03 14:07:09.250 UTC, the receive time of harness::n_record.
constexpr std::int64_t kReceivedMillis = 1430662029250;

TEST(ReadingAssembler, PacketsCarryTheirReceiveTimeAndTheirFramesLinkQuality) {
    harness::ReadingCollector out;
    harness::decode_into(exchange_content({p_record("09.250", {{24, 2}, {9, -1}}),
                                           n_record("58 01 04 0A 12 01 F4", 0, "1234", {100, 200}),
                                           n_record("00 01 04 0A 12 01 F4", 0, "x7")}),
                         {&out});
    ASSERT_EQ(out.packets.size(), 2u);
    const Packet& first = out.packets[0];
    EXPECT_EQ(first.received, kReceivedMillis);
    ASSERT_TRUE(first.link);
    EXPECT_EQ(first.link->corrected, 2);
    EXPECT_EQ(first.link->failed, 1);
    EXPECT_EQ(first.address, 1234);
    EXPECT_TRUE(first.test);
    EXPECT_EQ(first.packet_id, 5);
    EXPECT_EQ(first.bytes, 18);
    EXPECT_EQ(first.path, (std::vector<std::string>{"100", "200"}));
    // A source that is not an address keeps its text; the frame is the same.
    EXPECT_EQ(out.packets[1].source, "x7");
    EXPECT_FALSE(out.packets[1].address);
    EXPECT_TRUE(out.packets[1].link);
    ASSERT_EQ(out.readings.size(), 2u);
    EXPECT_EQ(out.readings[0].packet.record, first.record);
}

TEST(ReadingAssembler, ValuesAreIntegersExactlyAndRealsAsTheShortestDecimalOfTheSingle) {
    const std::pair<std::string, std::optional<double>> cases[] = {
        {"05 34 3D CC CC CD", 0.1},          {"05 34 41 48 00 00", 12.5},
        {"05 34 00 00 00 01", 1e-45},        {"05 34 7F 80 00 00", std::nullopt}, // infinity
        {"05 34 7F C0 00 00", std::nullopt},                                      // NaN
        {"05 14 FF FF FF FF", 4294967295.0}, {"05 24 80 00 00 00", -2147483648.0},
    };
    for (const auto& [body, expected] : cases) {
        SCOPED_TRACE(body);
        harness::ReadingCollector out;
        harness::decode_into(exchange_content({n_record("00 01 06 " + body)}), {&out});
        ASSERT_EQ(out.readings.size(), 1u);
        EXPECT_EQ(out.readings[0].reading.value, expected);
    }
}

TEST(ReadingAssembler, TheRegistryNamesStationsAndScalesTheSensorsItKnows) {
    const Registry registry =
        harness::registry_of("source,sensor,name,kind,units,multiplier,adder\n"
                             "1234,,Cedar Creek,,,,\n"
                             "1234,10,Gauge,rain,in,0.01,\n"
                             "1234,11,Stage,stage,ft,0.5,-3\n");
    struct Case {
        std::string source;
        std::string body; // a general sensor report body
        std::string station;
        std::string units;
        std::optional<double> scaled;
    };
    const Case cases[] = {
        {"1234", "0A 12 00 2A", "Cedar Creek", "in", 0.42}, // 42 x 0.01, without binary noise
        {"1234", "0B 22 FF FE", "Cedar Creek", "ft", -4},
        {"1234", "0C 12 00 2A", "Cedar Creek", "", std::nullopt}, // sensor not registered
        {"999", "0A 12 00 2A", "", "", std::nullopt},             // station not registered
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " " + c.body);
        harness::ReadingCollector out;
        harness::decode_into(exchange_content({n_record("00 01 04 " + c.body, 0, c.source)}),
                             {&out}, &registry);
        ASSERT_EQ(out.readings.size(), 1u);
        const Reading& r = out.readings[0].reading;
        EXPECT_EQ(r.station != nullptr ? r.station->name : "", c.station);
        EXPECT_EQ(r.sensor_entry != nullptr ? r.sensor_entry->units : "", c.units);
        EXPECT_EQ(r.scaled, c.scaled);
    }
}

} // namespace
} // namespace veltaro::data
