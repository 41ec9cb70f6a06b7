#include "decoder/options.h"

#include "test_support.h"

#include <optional>
#include <string>
#include <vector>

namespace {

using quorvel::DecoderConfig;
using quorvel_test::CapturedStream;
using quorvel_test::kUsage;

struct Parsed {
    std::optional<DecoderConfig> config;
    std::string out;
    std::string err;
};

Parsed parse(std::vector<const char*> args) {
    args.insert(args.begin(), "quorvel");
    CapturedStream out;
    CapturedStream err;
    Parsed parsed;
    parsed.config = quorvel::parse_command_line(static_cast<int>(args.size()), args.data(),
                                                out.get(), err.get())
                        .config;
    parsed.out = out.text();
    parsed.err = err.text();
    return parsed;
}

TEST(CommandLine, NoArgumentsGiveEveryDefault) {
    const Parsed parsed = parse({});
    ASSERT_TRUE(parsed.config);
    EXPECT_EQ(parsed.config->port_name, "COM2");
    EXPECT_EQ(parsed.config->exchange_file, "SondrelMANTout.txt");
    EXPECT_FALSE(parsed.config->log_file);
    EXPECT_EQ(parsed.config->first_payload, 24);
    EXPECT_EQ(parsed.out, "");
}

TEST(CommandLine, AcceptedValuesAttachedOrSeparateLastOneWinning) {
    struct Case {
        std::vector<const char*> args;
        std::string port, exchange, log;
        int first_payload;
    };
    const Case cases[] = {
        {{"-pCOM3"}, "COM3", "SondrelMANTout.txt", "", 24},
        {{"-p", "COM3"}, "COM3", "SondrelMANTout.txt", "", 24},
        {{"-p", "/dev/ttyUSB0", "-pCOM7"}, "COM7", "SondrelMANTout.txt", "", 24},
        {{"-p", ""}, "", "SondrelMANTout.txt", "", 24},
        {{"-l17"}, "COM2", "SondrelMANTout.txt", "", 17},
        {{"-l32"}, "COM2", "SondrelMANTout.txt", "", 32},
        {{"-l", "20"}, "COM2", "SondrelMANTout.txt", "", 20},
        {{"-l20abc"}, "COM2", "SondrelMANTout.txt", "", 20},
        {{"-l", " +18"}, "COM2", "SondrelMANTout.txt", "", 18},
        {{"-e", "-o"}, "COM2", "-o", "", 24},
        {{"-eout.txt", "-o", "log.txt"}, "COM2", "out.txt", "log.txt", 24},
        {{"-p", "-l", "-l", "30"}, "-l", "SondrelMANTout.txt", "", 30},
    };
    for (const Case& c : cases) {
        const Parsed parsed = parse(c.args);
        ASSERT_TRUE(parsed.config) << c.args[0];
        EXPECT_EQ(parsed.config->port_name, c.port) << c.args[0];
        EXPECT_EQ(parsed.config->exchange_file, c.exchange) << c.args[0];
        EXPECT_EQ(parsed.config->log_file.value_or(""), c.log) << c.args[0];
        EXPECT_EQ(parsed.config->first_payload, c.first_payload) << c.args[0];
        EXPECT_EQ(parsed.out + parsed.err, "") << c.args[0];
    }
}

TEST(CommandLine, RejectionsPrintTheUsageTextAndBadLengthsTheirValue) {
    struct Case {
        std::vector<const char*> args;
        std::string err;
    };
    const Case cases[] = {
        {{"COM3"}, ""},
        {{"-x3"}, ""},
        {{"-P", "COM3"}, ""},
        {{"-"}, ""},
        {{"-p"}, ""},
        {{"-l17", "-e"}, ""},
        {{"-o"}, ""},
        {{"-l16"}, "Bad first blk len: 16\r\n"},
        {{"-l", "33"}, "Bad first blk len: 33\r\n"},
        {{"-l-24"}, "Bad first blk len: -24\r\n"},
        {{"-labc"}, "Bad first blk len: 0\r\n"},
        {{"-l"}, "Bad first blk len: 0\r\n"},
        // Scanning stops at the first bad argument.
        {{"-l99", "-l5"}, "Bad first blk len: 99\r\n"},
    };
    for (const Case& c : cases) {
        const Parsed parsed = parse(c.args);
        EXPECT_FALSE(parsed.config) << c.args[0];
        EXPECT_EQ(parsed.out, kUsage) << c.args[0];
        EXPECT_EQ(parsed.err, c.err) << c.args[0];
    }
}

} // namespace
