#include "tests/display/decoding/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltaro {
namespace {

constexpr const char* kGsrRecord =
    "N,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,7,1234,00,01,04,0A,12,01,F4";

using Arguments = std::vector<std::string>;

class VeltaroDecode : public ::testing::Test {
protected:
    // Runs the real program with input on its standard input.
    harness::Outcome Decode(Arguments arguments, const std::string& input = "") {
        arguments.insert(arguments.begin(), std::string(VELTARO_BIN_DIR) + "/veltaro-decode");
        return harness::run(arguments, dir.path(), input);
    }
    std::string Exchange(const std::string& name, const std::string& content) {
        harness::write_file(dir.file(name), content);
        return dir.file(name);
    }

    harness::TempDir dir;
};

TEST_F(VeltaroDecode, PrintsTheThreeListsAndTheCurrentRecord) {
    const std::string content =
        std::string("S,12,Error 5: short\r\r\nP,0,2015,05,03,14,07,09.250,7\r\r\n") + kGsrRecord +
        "\r\r\n";
    const std::string file = Exchange("SondrelMANTout.txt", content);
    const harness::Outcome run = Decode({"--gmt-offset", "-6", file});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, std::string("[lstOutput]\n  ") + kGsrRecord +
                           "\n"
                           "  P,0,2015,05,03,14,07,09.250,7\n"
                           "  S,12,Error 5: short\n"
                           "[lstMessage]\n"
                           "  05/03/2015  08:07:09\t1234\tNo\t3\t0\tNo\t13\t\t\t\t\t\n"
                           "[lstReport]\n"
                           "__________\n"
                           "  05/03/2015  08:07:09    1234\t1\t10\t500\n"
                           "[txtNMessage]\n" +
                           kGsrRecord + "\n");
    EXPECT_EQ(harness::read_file(dir.file("SondrelMANTout.txt")), content); // never changed
    EXPECT_FALSE(std::filesystem::exists(dir.file("A2RawData.txt")));
}

TEST_F(VeltaroDecode, FilterAndEmptyInputGiveEmptySections) {
    const harness::Outcome filtered =
        Decode({"--gmt-offset", "0", "--filter", "999", "-"}, std::string(kGsrRecord) + "\n");
    EXPECT_EQ(filtered.status, 0);
    EXPECT_EQ(filtered.out, std::string("[lstOutput]\n  ") + kGsrRecord +
                                "\n[lstMessage]\n[lstReport]\n[txtNMessage]\n\n");
}

TEST_F(VeltaroDecode, FilesAreCyclesInTheOrderGiven) {
    const std::string first = Exchange("a", "S,1,first\r\r\n");
    const std::string second = Exchange("b", "S,2,second\r\r\n");
    const harness::Outcome run = Decode({first, second});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[lstOutput]\n  S,2,second\n  S,1,first\n[lstMessage]\n[lstReport]\n"
                       "[txtNMessage]\n\n");
}

TEST_F(VeltaroDecode, LogDirReceivesTheThreeLogs) {
    const std::string file = Exchange("in", std::string(kGsrRecord) + "\r\r\n");
    const harness::Outcome run =
        Decode({"--gmt-offset", "-6", "--log-dir", dir.path().string(), file});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(harness::read_file(dir.file("A2RawData.txt")), std::string(kGsrRecord) + "\r\n");
    EXPECT_EQ(harness::read_file(dir.file("A2Headers.txt")),
              "05/03/2015  08:07:09,1234,No,3,0,No,13,,,\r\n");
    EXPECT_EQ(harness::read_file(dir.file("A2Reports.txt")),
              "05/03/2015  08:07:09    1234,1,10,500,\r\n");
    EXPECT_NE(run.out.find("* 05/03/2015  08:07:09    1234\t1\t10\t500\n"), std::string::npos);
}

TEST_F(VeltaroDecode, UnreadableFilePrintsNothingAndExitsTwo) {
    const std::string good = Exchange("good", "S,1\r\r\n");
    const harness::Outcome run = Decode({good, dir.file("missing.txt")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(dir.file("missing.txt")), std::string::npos) << run.err;
}

TEST_F(VeltaroDecode, UsageErrorsAndHelp) {
    const harness::Outcome help = Decode({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("veltaro-decode [--gmt-offset HOURS] [--filter SOURCE] [--log-dir DIR] "
                            "FILE..."),
              std::string::npos);
    for (const Arguments& arguments :
         {Arguments{}, Arguments{"--bogus", "x"}, Arguments{"--filter"}}) {
        const harness::Outcome run = Decode(arguments);
        EXPECT_EQ(run.status, 2) << arguments.size();
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err, "");
    }
}

} // namespace
} // namespace veltaro
