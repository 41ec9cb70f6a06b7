// The benchmarks measure what they claim only if their traffic is right: the
// largest frame must be the largest and decode whole, the typical traffic
// must decode without faults.
#include "bench/bench_support.h"

#include <gtest/gtest.h>

namespace bench {
namespace {

int CountLines(const std::string& content, const std::string& prefix) {
    return static_cast<int>(lines_starting(content, prefix).size());
}

TEST(BenchTraffic, LargestFrameFillsMantLenAndDecodesWhole) {
    const sondrel::Bytes mant = largest_mant_data(1);
    ASSERT_EQ(mant.size(), 1023u);
    const std::string stream = packet_stream(mant, 17);
    const CodeBytes code = code_bytes(stream, 17);
    EXPECT_EQ(code.first.size(), 2u * 17 + 34);
    EXPECT_EQ(code.second.size(), 2u * 1520 + 2) << "31 full blocks and a partial one";

    const std::string records = decode_stream(stream, 17);
    const std::vector<std::string> p = lines_starting(records, "P,");
    ASSERT_EQ(p.size(), 1u);
    EXPECT_NE(p[0].find(",1023,17,"), std::string::npos) << p[0];
    EXPECT_EQ(p[0].find(",-1,"), std::string::npos) << "no block may fail";
    EXPECT_EQ(CountLines(records, "N,"), 5);
    EXPECT_EQ(CountLines(records, "S,"), 0) << records;
}

TEST(BenchTraffic, TypicalTrafficDecodesWithoutFaults) {
    std::string capture;
    for (const std::string& stream : typical_streams(60, 24, 1)) {
        capture += stream;
    }
    const std::string records = decode_stream(capture, 24);
    EXPECT_EQ(CountLines(records, "P,"), 60);
    EXPECT_GE(CountLines(records, "N,"), 60);
    EXPECT_EQ(CountLines(records, "S,"), 0) << records;
}

TEST(BenchTraffic, SmallFrameFitsTheFirstBlock) {
    const std::string stream = packet_stream(small_mant_data(), 24);
    EXPECT_TRUE(code_bytes(stream, 24).second.empty());
    const std::string records = decode_stream(stream, 24);
    EXPECT_EQ(CountLines(records, "N,"), 1);
    EXPECT_EQ(CountLines(records, "S,"), 0) << records;
}

TEST(BenchTraffic, ExchangeTextEndsEachRecordAsTheDecoderDoes) {
    EXPECT_EQ(exchange_text({"N,1", "P,2"}), "N,1\r\r\nP,2\r\r\n");
    EXPECT_EQ(lines_starting("N,1\r\r\nP,2\r\r\nN,3", "N,"),
              (std::vector<std::string>{"N,1", "N,3"}));
}

} // namespace
} // namespace bench
