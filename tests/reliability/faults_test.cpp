// Faults of a workstation and of the input, on the real programs: the decoder
// stopped mid-packet, the exchange file's folder gone for a while, a log that
// cannot grow, and bad records between good ones.
#include "reliability_support.h"

#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <sys/stat.h>

namespace reliability {
namespace {

// A simulator capture cut into its packets, with the records each one must
// give (faults off: one P record and its N records per packet).
struct Capture {
    std::vector<std::string> packets;
    std::vector<std::vector<std::string>> records;
};

Capture MakeCapture(const TempDir& dir, int count, int seed) {
    const Child sim = spawn({kBin + "/sondrel-sim", "--output", dir.file("capture.txt"), "--count",
                             std::to_string(count), "--seed", std::to_string(seed), "--expect",
                             dir.file("expect.txt")},
                            dir.path());
    EXPECT_EQ(wait_exit(sim.pid, 60), 0);
    Capture capture;
    const std::string stream = read_file(dir.file("capture.txt"));
    for (std::size_t start = stream.find('x'); start != std::string::npos;) {
        const std::size_t next = stream.find('x', start + 1);
        capture.packets.push_back(stream.substr(start, next - start));
        start = next;
    }
    for (const std::string& line : read_lines(dir.file("expect.txt"))) {
        if (line.rfind("P,", 0) == 0) {
            capture.records.emplace_back();
        }
        capture.records.back().push_back(line);
    }
    EXPECT_EQ(capture.packets.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(capture.records.size(), static_cast<std::size_t>(count));
    return capture;
}

std::vector<std::string> RecordsOf(const Capture& capture, std::size_t from, std::size_t to) {
    std::vector<std::string> records;
    for (std::size_t i = from; i < to; ++i) {
        records.insert(records.end(), capture.records[i].begin(), capture.records[i].end());
    }
    return records;
}

std::vector<std::string> Masked(const std::vector<std::string>& records) {
    std::vector<std::string> masked;
    for (const std::string& record : records) {
        masked.push_back(mask_record(record));
    }
    return masked;
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        ASSERT_GT(n, 0);
        done += static_cast<std::size_t>(n);
    }
}

// The decoder reading a FIFO the test writes to, as it reads a receiver.
struct FedDecoder {
    Child child;
    int feed = -1;
};

FedDecoder StartFedDecoder(const TempDir& dir, const std::string& exchange,
                           const std::string& log) {
    FedDecoder decoder;
    decoder.child = spawn({kBin + "/quorvel", "-p", "feed.fifo", "-e", exchange, "-o", log},
                          dir.path(), {}, false, dir.file("console.txt"));
    decoder.feed = ::open(dir.file("feed.fifo").c_str(), O_WRONLY | O_CLOEXEC);
    return decoder;
}

TEST(Faults, DecoderStoppedMidPacketKeepsFinishedPacketsAndDecodesOnAfterRestart) {
    TempDir dir;
    const Capture capture = MakeCapture(dir, 12, 31);
    ASSERT_EQ(::mkfifo(dir.file("feed.fifo").c_str(), 0600), 0);

    FedDecoder first = StartFedDecoder(dir, "exchange.txt", "log1.txt");
    ASSERT_GE(first.feed, 0);
    for (int i = 0; i < 5; ++i) {
        WriteAll(first.feed, capture.packets[i]);
    }
    WriteAll(first.feed, capture.packets[5].substr(0, capture.packets[5].size() / 2));
    const std::vector<std::string> finished = RecordsOf(capture, 0, 5);
    EXPECT_TRUE(
        wait_for([&] { return read_lines(dir.file("log1.txt")).size() >= finished.size(); }));
    ::kill(first.child.pid, SIGTERM);
    EXPECT_EQ(wait_exit(first.child.pid, 30), 0);
    ::close(first.feed);
    EXPECT_EQ(Masked(read_lines(dir.file("log1.txt"))), finished);

    // The rest of the cut packet comes first: no "x", so it is ignored.
    FedDecoder second = StartFedDecoder(dir, "exchange.txt", "log2.txt");
    ASSERT_GE(second.feed, 0);
    WriteAll(second.feed, capture.packets[5].substr(capture.packets[5].size() / 2));
    for (std::size_t i = 6; i < capture.packets.size(); ++i) {
        WriteAll(second.feed, capture.packets[i]);
    }
    ::close(second.feed); // end of the stream: the decoder ends with status 0
    EXPECT_EQ(wait_exit(second.child.pid, 60), 0);
    EXPECT_EQ(Masked(read_lines(dir.file("log2.txt"))),
              RecordsOf(capture, 6, capture.packets.size()));
    std::vector<std::string> all = finished;
    const std::vector<std::string> after = RecordsOf(capture, 6, capture.packets.size());
    all.insert(all.end(), after.begin(), after.end());
    EXPECT_EQ(Masked(read_lines(dir.file("exchange.txt"))), all);
}

// The folder disappears (a dangling path: chmod does not stop root, which the
// tests run as) and comes back.
TEST(Faults, RecordsWaitWhileTheExchangeFolderIsGoneAndArriveOnceInOrder) {
    TempDir dir;
    const Capture capture = MakeCapture(dir, 7, 32);
    // What waits must fit the decoder's pending output (8191 characters).
    std::size_t waiting = 0;
    for (const std::string& record : RecordsOf(capture, 3, 5)) {
        waiting += record.size() + 2;
    }
    ASSERT_LT(waiting, 8000u);
    ASSERT_EQ(::mkfifo(dir.file("feed.fifo").c_str(), 0600), 0);
    fs::create_directories(dir.path() / "data");
    Child runner = spawn({kRunner, "--data-dir", dir.file("data"), "--tick-ms", "50"}, dir.path(),
                         {}, false, dir.file("runner.txt"));
    FedDecoder decoder = StartFedDecoder(dir, "data/SondrelMANTout.txt", "log.txt");
    ASSERT_GE(decoder.feed, 0);
    const auto raw_lines = [&] { return read_lines(dir.file("data/A2RawData.txt")).size(); };

    for (int i = 0; i < 3; ++i) {
        WriteAll(decoder.feed, capture.packets[i]);
    }
    EXPECT_TRUE(wait_for([&] { return raw_lines() == RecordsOf(capture, 0, 3).size(); }));

    fs::rename(dir.path() / "data", dir.path() / "away");
    for (int i = 3; i < 5; ++i) {
        WriteAll(decoder.feed, capture.packets[i]);
    }
    EXPECT_TRUE(wait_for([&] {
        return read_file(dir.file("console.txt")).find("error on opening exchange file") !=
                   std::string::npos &&
               read_file(dir.file("runner.txt"))
                       .find("No such file or directory  Problem ingesting N records") !=
                   std::string::npos;
    }));

    fs::rename(dir.path() / "away", dir.path() / "data");
    for (std::size_t i = 5; i < capture.packets.size(); ++i) {
        WriteAll(decoder.feed, capture.packets[i]); // the next byte retries the file
    }
    ::close(decoder.feed);
    EXPECT_EQ(wait_exit(decoder.child.pid, 60), 0);
    const std::size_t total = RecordsOf(capture, 0, capture.packets.size()).size();
    EXPECT_TRUE(wait_for([&] { return raw_lines() == total; }));
    ::kill(runner.pid, SIGTERM);
    EXPECT_EQ(wait_exit(runner.pid, 30), 0);

    const std::vector<std::string> logged = read_lines(dir.file("log.txt"));
    EXPECT_EQ(Masked(logged), RecordsOf(capture, 0, capture.packets.size()));
    EXPECT_EQ(read_lines(dir.file("data/A2RawData.txt")), logged);
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// A file-size limit stands in for a full disk (writes past it fail with
// EFBIG) until SIGUSR1 lifts it. The pass cannot end while the logs cannot
// grow, so it counts for nothing; once space returns it is done again and
// every line reaches its log, and an output that holds slices until they are
// kept, exactly once, with one message for the outage.
TEST(Faults, AFullDiskLosesAndDoublesNothingAndIsReportedOnce) {
    TempDir dir;
    const Capture capture = MakeCapture(dir, 40, 33);
    const Child replay =
        spawn({kBin + "/quorvel", "-p", "capture.txt", "-e", "decoder-records.txt"}, dir.path());
    ASSERT_EQ(wait_exit(replay.pid, 60), 0);
    ASSERT_GT(read_file(dir.file("decoder-records.txt")).size(), 9000u);
    fs::copy_file(dir.path() / "decoder-records.txt", dir.path() / harness::kExchangeName);

    harness::CapturedChild runner({kRunner, "--data-dir", dir.path().string(), "--tick-ms", "50",
                                   "--fsize-limit", "9000", "--kept-records", "1"},
                                  dir.path());
    EXPECT_EQ(runner.read_line(60), "ready");
    const std::string outage = runner.read_line(60);
    EXPECT_TRUE(outage.starts_with("File too large  Can't save")) << outage;
    EXPECT_TRUE(fs::exists(dir.file(harness::kExchangeName + ".claimed")));
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the outage lasts some ticks
    ::kill(runner.pid(), SIGUSR1);
    EXPECT_TRUE(wait_for([&] {
        return !fs::exists(dir.file(harness::kExchangeName)) &&
               !fs::exists(dir.file(harness::kExchangeName + ".claimed"));
    }));
    ::kill(runner.pid(), SIGTERM);
    const std::string rest = runner.read_rest();
    EXPECT_EQ(runner.wait_exit(), 0);
    EXPECT_EQ(Count(rest, "File too large"), 0u) << rest;
    EXPECT_EQ(Count(rest, "Logs written again"), 1u) << rest;
    std::string decoder_lines;
    for (const std::string& line : read_lines(dir.file("decoder-records.txt"))) {
        decoder_lines += line + "\n";
    }
    EXPECT_TRUE(runner.errors() == decoder_lines);

    fs::create_directories(dir.path() / "reference");
    write_reference_logs(dir.file("decoder-records.txt"), dir.file("reference"));
    for (const std::string& log :
         {harness::kRawLogName, harness::kHeaderLogName, harness::kReportLogName}) {
        EXPECT_TRUE(read_file(dir.file(log)) == read_file(dir.file("reference/" + log))) << log;
    }
}

// Entries someone else put in the data folder: a folder under the claim
// name, a link and a pipe under log names. Each is named once, no file
// outside the data folder changes, nothing waits on the pipe, and once the
// logs are regular files again every record reaches them exactly once.
TEST(Faults, AHostileDataFolderChangesNothingOutsideAndHangsNothing) {
    TempDir dir;
    MakeCapture(dir, 20, 34);
    const fs::path data = dir.path() / "data";
    fs::create_directories(data / (harness::kExchangeName + ".claimed"));
    const fs::path outside = harness::make_outside_file(dir.path());
    fs::create_symlink(outside, data / harness::kHeaderLogName);
    ASSERT_EQ(::mkfifo((data / harness::kReportLogName).c_str(), 0600), 0);

    Child runner =
        spawn({kRunner, "--data-dir", data.string(), "--tick-ms", "50"}, dir.path(), {}, true);
    EXPECT_EQ(read_output(runner, true, 60), "ready");
    const Child replay = spawn({kBin + "/quorvel", "-p", "capture.txt", "-e",
                                "data/" + harness::kExchangeName, "-o", "decoder-log.txt"},
                               dir.path());
    ASSERT_EQ(wait_exit(replay.pid, 60), 0);
    const std::string folder_named = read_output(runner, true, 60);
    EXPECT_NE(folder_named.find(".claimed is a folder, not a regular file"), std::string::npos)
        << folder_named;
    const std::string link_named = read_output(runner, true, 60);
    EXPECT_NE(link_named.find(harness::kHeaderLogName + " is a symbolic link"), std::string::npos)
        << link_named;

    std::this_thread::sleep_for(std::chrono::seconds(1)); // some ticks with the same entries
    fs::remove(data / harness::kHeaderLogName);
    fs::remove(data / harness::kReportLogName);
    EXPECT_TRUE(wait_for([&] {
        return !fs::exists(data / harness::kExchangeName) &&
               !fs::exists(data / (harness::kExchangeName + ".claimed.1"));
    }));
    ::kill(runner.pid, SIGTERM);
    const std::string rest = read_output(runner, false, 60);
    EXPECT_EQ(wait_exit(runner.pid, 30), 0);
    ::close(runner.output);
    EXPECT_EQ(Count(rest, "not a regular file"), 0u) << rest;
    EXPECT_EQ(Count(rest, "Logs written again"), 1u) << rest;

    EXPECT_EQ(read_file(outside), harness::kOutsideText);
    EXPECT_TRUE(fs::is_directory(data / (harness::kExchangeName + ".claimed")));
    const std::vector<std::string> decoded = read_lines(dir.file("decoder-log.txt"));
    EXPECT_FALSE(decoded.empty());
    EXPECT_EQ(read_lines((data / harness::kRawLogName).string()), decoded);
}

// ---- Bad records between good ones ----

constexpr const char* kGood = "N,2026,12,07,06,41,0.8770,0,0,0,0,0,0,0,0,0,6,19,29516,64,5D,FB,02,"
                              "06,01,12,10,E4,FB,C6,01,06,02,34,3F,F9,99,9A";

struct Decoded {
    std::vector<std::string> headers;
    std::vector<std::string> reports;
};

Decoded Decode(const std::string& content) {
    veltaro::MemoryControls ui("/nonexistent-reliability-folder");
    ui.SetText(veltaro::TextBoxId::txtGMTOffset, "0");
    ui.SetOption(veltaro::OptionId::optUseOffset, true);
    veltaro::MStart m(ui);
    veltaro::IngestExchangeText(m, content);
    return {ui.Lines(veltaro::ListId::lstMessage), ui.Lines(veltaro::ListId::lstReport)};
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

struct BadRecord {
    const char* name;
    std::string line;
    bool reported; // a message or "  Unreadable Data Packet" in lstReport
};

TEST(Faults, BadRecordGetsAMessageAndTheNextRecordDecodesNormally) {
    const std::string good = kGood;
    const BadRecord cases[] = {
        {"junk line", "garbage \x01\xff without a kind", false},
        {"lower-case kind", "n," + good.substr(2), false},
        {"record ends in its header", "N,2026,12,07,06,41", true},
        {"truncated payload", good.substr(0, 80), true},
        {"over-long record", good + std::string(30000, 'F'), true},
        {"non-hex header field", Replace(good, ",6,19,", ",6,Z9,"), true},
        {"element length past the data", Replace(good, "5D,FB,02,06", "5D,FB,02,60"), true},
        {"path count above five",
         Replace(good, "0,0,0,0,0,0,0,0,0,6,19,29516,",
                 "0,0,0,0,1,0,0,0,0,6,19,29516,9,1,2,3,4,5,6,7,8,9,"),
         true},
        {"unreadable element type", Replace(good, "5D,FB,02", "5D,FB,0F"), true},
        {"empty payload", Replace(good, ",19,29516,64,", ",0,29516"), true},
    };
    const Decoded alone = Decode(good + "\r\r\n");
    ASSERT_FALSE(alone.reports.empty());

    for (const BadRecord& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded bad_alone = Decode(c.line + "\r\r\n");
        if (c.reported) {
            bool said = false;
            for (const std::string& line : bad_alone.reports) {
                said = said || line == "  Unreadable Data Packet" ||
                       (line.rfind("  ", 0) != 0 && line != "__________");
            }
            // A packet whose bytes still read as reports was decoded, not lost.
            EXPECT_TRUE(said || bad_alone.reports.size() > 1);
        } else {
            EXPECT_TRUE(bad_alone.reports.empty());
            EXPECT_TRUE(bad_alone.headers.empty());
        }
        const Decoded both = Decode(c.line + "\r\r\n" + good + "\r\r\n");
        ASSERT_GE(both.reports.size(), alone.reports.size());
        ASSERT_GE(both.headers.size(), 1u);
        EXPECT_EQ(both.headers.front(), alone.headers.front());
        const std::vector<std::string> newest(both.reports.begin(),
                                              both.reports.begin() + alone.reports.size());
        EXPECT_EQ(newest, alone.reports);
    }
}

} // namespace
} // namespace reliability
