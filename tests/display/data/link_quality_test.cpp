// Link quality: the Reed-Solomon results of a packet's frame, from the P
// record listed before its N record with the same receive time.
#include "display/data/link_quality.h"
#include "tests/support/exchange_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace veltaro::data {
namespace {

using harness::n_record;
using harness::p_record;

// 2015-05-03 14:07:00 UTC in milliseconds, the minute of the test records.
constexpr std::int64_t kMinute = 1430662020000;

std::optional<std::pair<int, int>> Pair(const std::optional<LinkQuality>& link) {
    if (!link) {
        return std::nullopt;
    }
    return std::pair{link->corrected, link->failed};
}

TEST(PRecordLinkQuality, SumsCorrectedSymbolsAndCountsFailedBlocks) {
    using Result = std::optional<std::pair<int, int>>;
    const std::pair<std::string, Result> cases[] = {
        {p_record("09.250", {{24, 3}}), std::pair{3, 0}},
        {p_record("09.250", {{24, 0}, {32, -1}, {5, 4}}), std::pair{4, 1}},
        {p_record("09.250", {{17, 8}, {32, 8}, {32, -1}, {32, -1}}), std::pair{16, 2}},
        // The decoder's own example: 24 data bytes, no corrections, 1 ms.
        {harness::p_record_timed("2014,06,04,20,25,26.007", {{24, 0}}), std::pair{0, 0}},
        // Data fields that are not two digits each are walked field by field.
        {"P,0,2014,06,04,20,25,26.007,20,2,0,0000,3,1000", std::pair{3, 0}},
        {"P,0,2014,06,04,20,25,26.007,20", std::nullopt},                   // no block group
        {"P,0,2014,06,04,20,25,26.007,20,2,00,00,3", std::nullopt},         // no timing field
        {"P,0,2014,06,04,20,25,26.007,20,2,00,00,x,1000", std::nullopt},    // result not a number
        {"P,0,2014,06,04,20,25,26.007,20,2,00,00,-2,1000", std::nullopt},   // no such result
        {"S,1,0,2014,06,04,20,25,26.007,20,2,00,00,-1,*Bad", std::nullopt}, // not a P record
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Pair(PRecordLinkQuality(line)), expected);
    }
}

TEST(LinkQualityMatcher, MatchesEachPacketToThePRecordOfItsFrame) {
    using Result = std::optional<std::pair<int, int>>;
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        std::vector<std::int64_t> packets; // receive times of the packets handed on
        std::vector<Result> expected;
    };
    const std::string n = n_record("00", 0, "1", {}, "9.2500");
    const Case cases[] = {
        {"N right after its P",
         {p_record("09.250", {{24, 3}}), n},
         {kMinute + 9250},
         {std::pair{3, 0}}},
        {"three decimals against four, read as a single",
         {p_record("26.007", {{24, 1}}), n_record("00", 0, "1", {}, "26.0070")},
         {kMinute + 26007},
         {std::pair{1, 0}}},
        {"every N record of a frame",
         {p_record("09.250", {{24, 2}, {9, -1}}), n, n},
         {kMinute + 9250, kMinute + 9250},
         {std::pair{2, 1}, std::pair{2, 1}}},
        {"no P record listed", {n}, {kMinute + 9250}, {std::nullopt}},
        {"the P record of another moment",
         {p_record("09.251", {{24, 3}}), n},
         {kMinute + 9250},
         {std::nullopt}},
        {"a P record after the N does not count",
         {n, p_record("09.250", {{24, 3}})},
         {kMinute + 9250},
         {std::nullopt}},
        {"an N record not handed on is passed over",
         {p_record("09.250", {{24, 3}}), n, p_record("10.500", {{24, 5}}),
          n_record("00", 0, "1", {}, "10.5000")},
         {kMinute + 10500},
         {std::pair{5, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkQualityMatcher matcher;
        for (const std::string& line : c.lines) {
            matcher.OnRecord(line);
        }
        std::vector<Result> seen;
        for (const std::int64_t received : c.packets) {
            seen.push_back(Pair(matcher.ForPacket(received)));
        }
        EXPECT_EQ(seen, c.expected);
    }
}

} // namespace
} // namespace veltaro::data
