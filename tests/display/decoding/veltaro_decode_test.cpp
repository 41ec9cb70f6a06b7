#include "tests/display/decoding/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace veltaro {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kGsrRecord =
    "N,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,7,1234,00,01,04,0A,12,01,F4";

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class VeltaroDecode : public ::testing::Test {
protected:
    // Runs the real program; stdin comes from `input` when given.
    Outcome Decode(const std::string& arguments, const std::string& input = "") {
        WriteFile(dir.File("stdin"), input);
        const std::string command = std::string("'") + VELTARO_BIN_DIR + "/veltaro-decode' " +
                                    arguments + " <'" + dir.File("stdin") + "' >'" +
                                    dir.File("stdout") + "' 2>'" + dir.File("stderr") + "'";
        const int raw = std::system(command.c_str());
        Outcome run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = ReadFile(dir.File("stdout"));
        run.err = ReadFile(dir.File("stderr"));
        return run;
    }
    std::string Exchange(const std::string& name, const std::string& content) {
        WriteFile(dir.File(name), content);
        return "'" + dir.File(name) + "'";
    }

    TempDir dir;
};

TEST_F(VeltaroDecode, PrintsTheThreeListsAndTheCurrentRecord) {
    const std::string content =
        std::string("S,12,Error 5: short\r\r\nP,0,2015,05,03,14,07,09.250,7\r\r\n") + kGsrRecord +
        "\r\r\n";
    const std::string file = Exchange("SondrelMANTout.txt", content);
    const Outcome run = Decode("--gmt-offset -6 " + file);
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
    EXPECT_EQ(ReadFile(dir.File("SondrelMANTout.txt")), content); // never changed
    EXPECT_FALSE(std::filesystem::exists(dir.File("A2RawData.txt")));
}

TEST_F(VeltaroDecode, FilterAndEmptyInputGiveEmptySections) {
    const Outcome filtered =
        Decode("--gmt-offset 0 --filter 999 -", std::string(kGsrRecord) + "\n");
    EXPECT_EQ(filtered.status, 0);
    EXPECT_EQ(filtered.out, std::string("[lstOutput]\n  ") + kGsrRecord +
                                "\n[lstMessage]\n[lstReport]\n[txtNMessage]\n\n");
}

TEST_F(VeltaroDecode, FilesAreCyclesInTheOrderGiven) {
    const std::string first = Exchange("a", "S,1,first\r\r\n");
    const std::string second = Exchange("b", "S,2,second\r\r\n");
    const Outcome run = Decode(first + " " + second);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[lstOutput]\n  S,2,second\n  S,1,first\n[lstMessage]\n[lstReport]\n"
                       "[txtNMessage]\n\n");
}

TEST_F(VeltaroDecode, LogDirReceivesTheThreeLogs) {
    const std::string file = Exchange("in", std::string(kGsrRecord) + "\r\r\n");
    const Outcome run = Decode("--gmt-offset -6 --log-dir '" + dir.path() + "' " + file);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(dir.File("A2RawData.txt")), std::string(kGsrRecord) + "\r\n");
    EXPECT_EQ(ReadFile(dir.File("A2Headers.txt")), "05/03/2015  08:07:09,1234,No,3,0,No,13,,,\r\n");
    EXPECT_EQ(ReadFile(dir.File("A2Reports.txt")), "05/03/2015  08:07:09    1234,1,10,500,\r\n");
    EXPECT_NE(run.out.find("* 05/03/2015  08:07:09    1234\t1\t10\t500\n"), std::string::npos);
}

TEST_F(VeltaroDecode, UnreadableFilePrintsNothingAndExitsTwo) {
    const std::string good = Exchange("good", "S,1\r\r\n");
    const Outcome run = Decode(good + " '" + dir.File("missing.txt") + "'");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(dir.File("missing.txt")), std::string::npos) << run.err;
}

TEST_F(VeltaroDecode, UsageErrorsAndHelp) {
    const Outcome help = Decode("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("veltaro-decode [--gmt-offset HOURS] [--filter SOURCE] [--log-dir DIR] "
                            "FILE..."),
              std::string::npos);
    for (const char* arguments : {"", "--bogus x", "--filter"}) {
        const Outcome run = Decode(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
        EXPECT_NE(run.err, "") << arguments;
    }
}

} // namespace
} // namespace veltaro
