// Runs the real quorvel program: command line, exit statuses, banner, log.
#include "simulator/encoder.h"
#include "test_support.h"
#include "tests/support/pseudo_terminal.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using quorvel_test::kUsage;
using quorvel_test::read_file;
using quorvel_test::TempDir;
using quorvel_test::wait_for;
using quorvel_test::write_file;

std::string banner(const std::string& port, const std::string& exchange, int first_payload,
                   const char* log = nullptr) {
    char lengths[200];
    std::snprintf(lengths, sizeof lengths,
                  "-- 1st Block RS length=%3d, 2nd Blocks max RS length= 48\r\n"
                  "-- 1st block MANT payload=%3d, 2nd Blocks max MANT payload= 32\r\n",
                  first_payload + 16, first_payload);
    std::string text = "\r\n-- Sondrel Decoder (Ver 03)\r\n-- ALERT2 FEC & MANT Decoder Decoder\r\n"
                       "-- Reed Solomon FEC RS(255,239,8), \r\n"
                       "-- Convolutional Code FEC NASA poly rate 1/2 k=7, \r\n";
    text += lengths;
    text += "-- Maximum Data Payload Length 1200\r\n"
            "output strings:\r\n"
            "P,ALRES,Yr,Mon,Day,Hr,Min,Sec.sec,MANT_len,blk_len,data,...,rs_errs,[blk_len,data,"
            "...,rs_errs,][...,]usec_fblk[,usec_sblks]<LF>\r\n"
            "S,Type,TypeData<LF>\r\n\r\n";
    text += "Opened serial port " + port + " to Sondrel hardware, baudrate: 19200\r\n";
    text += "Exchange filename " + exchange + "\r\n";
    if (log != nullptr) {
        text += std::string("AirLink and MANT logged to ") + log + "\r\n";
    }
    return text;
}

// One run of quorvel in a working folder, its output captured in files there.
class Decoder {
public:
    // console_gone: standard output is a pipe nobody reads any more, as when
    // the program that started the decoder has died.
    Decoder(const TempDir& dir, std::vector<std::string> args, bool console_gone = false)
        : out_(dir.file("stdout.txt")), err_(dir.file("stderr.txt")) {
        args.insert(args.begin(), VELTARO_BIN_DIR "/quorvel");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::chdir(dir.path().c_str());
            int console[2];
            if (console_gone && ::pipe(console) == 0) {
                ::close(console[0]);
                ::dup2(console[1], 1);
                ::signal(SIGPIPE, SIG_DFL);
            } else {
                ::dup2(::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            }
            ::dup2(::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            std::vector<char*> argv;
            for (std::string& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Decoder() {
        if (!status_ && pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The exit status, or nothing when it did not end within the deadline.
    std::optional<int> wait() {
        wait_for([&] { return finished(); });
        if (!status_ || !WIFEXITED(*status_)) {
            return std::nullopt;
        }
        return WEXITSTATUS(*status_);
    }
    bool finished() {
        int status = 0;
        if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
        }
        return status_.has_value();
    }
    void signal(int number) { ::kill(pid_, number); }
    std::string out() const { return read_file(out_); }
    std::string err() const { return read_file(err_); }

private:
    std::string out_, err_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos;
         start = end + 1) {
        parts.push_back(text.substr(start, end - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

TEST(DecoderStartUp, HelpAndBadCommandLinesPrintTheUsageAndOpenNothing) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
        int status;
    };
    const Case cases[] = {
        {{"COM3"}, "", 1},
        {{"-x3"}, "", 1},
        {{"-e", "exchange.txt", "-o"}, "", 1},
        {{"-l16", "-e", "exchange.txt"}, "Bad first blk len: 16\r\n", 1},
        {{"-oquorvel.log", "-l"}, "Bad first blk len: 0\r\n", 1},
        {{"-oquorvel.log", "--help"}, "", 0},
        {{"-h", "-e", "exchange.txt"}, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        TempDir dir;
        Decoder decoder(dir, c.args);
        EXPECT_EQ(decoder.wait(), c.status);
        EXPECT_EQ(decoder.out(), kUsage);
        EXPECT_EQ(decoder.err(), c.err);
        EXPECT_FALSE(std::filesystem::exists(dir.file("quorvel.log")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("exchange.txt")));
    }
}

TEST(DecoderStartUp, PortThatCannotBeOpenedEndsWithAFailureStatus) {
    TempDir dir;
    Decoder decoder(dir, {"-p", "/nonexistent", "-o", "quorvel.log"});
    const std::optional<int> status = decoder.wait();
    ASSERT_TRUE(status);
    EXPECT_NE(*status, 0);
    EXPECT_EQ(decoder.out(), "Failed to open port /nonexistent\n\n");
    EXPECT_EQ(decoder.err(), "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("quorvel.log")));
}

TEST(DecoderStartUp, BannerGivesTheBlockFiguresOfTheFirstPayload) {
    for (int first_payload : {24, 17, 32}) {
        SCOPED_TRACE(first_payload);
        TempDir dir;
        const std::string capture = dir.file("capture.txt");
        write_file(capture, "");
        std::vector<std::string> args = {"-p" + capture, "-e", "out.txt"};
        if (first_payload != 24) {
            args.push_back("-l" + std::to_string(first_payload));
        }
        Decoder decoder(dir, args);
        EXPECT_EQ(decoder.wait(), 0);
        EXPECT_EQ(decoder.out(), banner(capture, "out.txt", first_payload));
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.txt")));
    }
}

TEST(DecoderStartUp, LogThatCannotBeCreatedIsReportedOnceAndTheRunGoesOn) {
    struct Case {
        const char* behaviour;
        std::string name;
        std::function<void(const TempDir&)> make;
    };
    const Case cases[] = {
        {"missing folder", "missing/quorvel.log", [](const TempDir&) {}},
        {"FIFO nobody reads", "quorvel.log",
         [](const TempDir& dir) { ::mkfifo(dir.file("quorvel.log").c_str(), 0644); }},
        {"link to another file", "quorvel.log",
         [](const TempDir& dir) {
             std::filesystem::create_symlink(dir.file("kept.txt"), dir.file("quorvel.log"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        TempDir dir;
        write_file(dir.file("capture.txt"), "");
        write_file(dir.file("kept.txt"), "kept");
        c.make(dir);
        Decoder decoder(dir, {"-pcapture.txt", "-o", c.name});
        EXPECT_EQ(decoder.wait(), 0);
        EXPECT_EQ(decoder.out(),
                  "error on opening output logging file, data will not be logged\r\n" +
                      banner("capture.txt", "SondrelMANTout.txt", 24));
        EXPECT_EQ(read_file(dir.file("kept.txt")), "kept");
    }
}

TEST(DecoderStartUp, EmptyPortNameOpensNothingAndRunsUntilTerminated) {
    TempDir dir;
    Decoder decoder(dir, {"-p", "", "-e", "out.txt"});
    const std::string expected = banner("", "out.txt", 24);
    ASSERT_TRUE(wait_for([&] { return decoder.out() == expected; })) << decoder.out();
    EXPECT_FALSE(decoder.finished());
    decoder.signal(SIGTERM);
    EXPECT_TRUE(decoder.wait());
}

TEST(DecoderStartUp, SecondDecoderOnAHeldPortIsRefused) {
    const harness::PseudoTerminal pty;
    const std::string slave = pty.device();
    ASSERT_FALSE(slave.empty());

    TempDir first_dir;
    Decoder first(first_dir, {"-p", slave});
    ASSERT_TRUE(
        wait_for([&] { return first.out().find("Exchange filename") != std::string::npos; }));

    TempDir second_dir;
    Decoder second(second_dir, {"-p", slave});
    const std::optional<int> status = second.wait();
    ASSERT_TRUE(status);
    EXPECT_NE(*status, 0);
    EXPECT_EQ(second.out(), "Failed to open port " + slave + "\n\n");

    first.signal(SIGTERM);
    EXPECT_TRUE(first.wait());
    TempDir third_dir;
    Decoder third(third_dir, {"-p", slave});
    ASSERT_TRUE(
        wait_for([&] { return third.out().find("Exchange filename") != std::string::npos; }));
    third.signal(SIGTERM);
    EXPECT_TRUE(third.wait());
}

// One packet of a recorded stream: its records reach console, log and exchange
// file in the same order, the files with CR CR LF, the console with CR LF.
TEST(DecoderStartUp, RecordsReachConsoleLogAndExchangeFileAlike) {
    TempDir dir;
    // One MANT packet with h[0] = 0: six header bytes, then 3 payload bytes.
    const sondrel::Bytes mant = {0x00, 0x00, 0x30, 0x03, 0x12, 0x34, 0xA1, 0xB2, 0xC3};
    const sondrel::Bytes airlink = sondrel::airlink_data(5, mant);
    const auto code = sondrel::encode_codewords(sondrel::make_codewords(airlink, 20));
    write_file(dir.file("capture.txt"), "\r\n" + sondrel::to_stream(code) + "\r\n");

    Decoder decoder(dir, {"-pcapture.txt", "-l20", "-oquorvel.log"});
    EXPECT_EQ(decoder.wait(), 0);
    const std::string head = banner("capture.txt", "SondrelMANTout.txt", 20, "quorvel.log");
    const std::string console = decoder.out();
    ASSERT_EQ(console.substr(0, head.size()), head);
    const std::string records = console.substr(head.size());

    std::string stored;
    for (char c : records) {
        stored += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(read_file(dir.file("SondrelMANTout.txt")), stored);
    EXPECT_EQ(read_file(dir.file("quorvel.log")), stored);

    const std::vector<std::string> lines = split(records, '\n');
    ASSERT_EQ(lines.size(), 3u) << records;
    EXPECT_EQ(lines[2], "");
    const std::vector<std::string> p = split(lines[0], ',');
    ASSERT_EQ(p.size(), 20u + 12u) << lines[0];
    EXPECT_EQ(p[0], "P");
    EXPECT_EQ(p[1], "5");
    EXPECT_EQ(p[8], "9");
    EXPECT_EQ(p[9], "20");
    EXPECT_EQ(p[12], "00");
    EXPECT_EQ(p[30], "0");
    const std::vector<std::string> n = split(lines[1], ',');
    ASSERT_EQ(n.size(), 19u + 3u) << lines[1];
    EXPECT_EQ(n[0], "N");
    EXPECT_EQ(n[17], "3");
    EXPECT_EQ(n[18], std::to_string(0x1234));
    EXPECT_EQ(n[19], "A1");
    EXPECT_EQ(n[21], "C3\r");
}

// Console failures are ignored: the records still reach the files.
TEST(DecoderStartUp, ConsoleThatCannotBeWrittenStopsNeitherDecodingNorTheFiles) {
    TempDir dir;
    const sondrel::Bytes mant = {0x00, 0x00, 0x30, 0x02, 0x00, 0x07, 0xA1, 0xB2};
    const auto code =
        sondrel::encode_codewords(sondrel::make_codewords(sondrel::airlink_data(1, mant), 24));
    write_file(dir.file("capture.txt"), sondrel::to_stream(code) + sondrel::to_stream(code));

    Decoder decoder(dir, {"-pcapture.txt", "-oquorvel.log"}, true);
    EXPECT_EQ(decoder.wait(), 0);
    const std::string records = read_file(dir.file("SondrelMANTout.txt"));
    const std::vector<std::string> lines = split(records, '\n');
    ASSERT_EQ(lines.size(), 5u) << records;
    EXPECT_EQ(lines[0].substr(0, 4), "P,1,");
    EXPECT_EQ(lines[1].substr(0, 2), "N,");
    EXPECT_EQ(lines[2].substr(0, 4), "P,1,");
    EXPECT_EQ(lines[3].substr(0, 2), "N,");
    EXPECT_EQ(read_file(dir.file("quorvel.log")), records);
}

// A capture of count single-block packets: two records each.
void write_capture(const TempDir& dir, int count) {
    const sondrel::Bytes mant = {0x00, 0x00, 0x30, 0x04, 0x00, 0x07, 0xA1, 0xB2, 0xC3, 0xD4};
    const auto code =
        sondrel::encode_codewords(sondrel::make_codewords(sondrel::airlink_data(1, mant), 24));
    std::string stream;
    for (int i = 0; i < count; ++i) {
        stream += sondrel::to_stream(code);
    }
    write_file(dir.file("capture.txt"), stream);
}

// SIGXFSZ would end the decoder; the records that do not fit are counted.
TEST(DecoderOutput, FileSizeLimitLeavesWholeRecordsAndCountsTheRest) {
    TempDir dir;
    write_capture(dir, 30);
    const std::string quorvel = VELTARO_BIN_DIR "/quorvel";
    // dash counts the limit in blocks of 512 bytes; the console is a pipe.
    const harness::Child child =
        harness::spawn({"/bin/sh", "-c", "ulimit -f 10 && exec " + quorvel + " -pcapture.txt"},
                       dir.path(), {}, true);
    const std::string console = harness::read_output(child, false, 60);
    EXPECT_EQ(harness::wait_exit(child.pid, 60), 3);
    ::close(child.output);

    const std::string written = read_file(dir.file("SondrelMANTout.txt"));
    EXPECT_LE(written.size(), 5120u);
    EXPECT_TRUE(written.empty() || written.ends_with("\r\r\n"));
    const std::size_t records = split(written, '\n').size() - 1;
    EXPECT_NE(console.find("error on writing exchange file\r\n"), std::string::npos);
    EXPECT_NE(console.find(std::to_string(60 - records) +
                           " records not written to the exchange file\r\n"),
              std::string::npos)
        << console;
}

} // namespace
