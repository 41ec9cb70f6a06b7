#include "decoder/records.h"

#include "test_support.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using quorvel::RecordOutput;
using quorvel_test::CapturedStream;
using quorvel_test::LogFile;
using quorvel_test::read_file;
using quorvel_test::TempDir;

const std::string kP1 = "P,0,2014,06,04,20,25,26.007,0,17,00,00,00,00,00,00,00,00,00,00,00,00,"
                        "00,00,00,00,00,0,1000\r\n";
const std::string kN1 = "N,2014,06,04,20,25,5.0070,0,0,0,0,0,0,0,0,0,0,0,0,01\r\n";
const std::string kS2 = "S,2,2014,06,04,20,25,27.000,*Processing error (1Blk): non-hex ASCII "
                        "char received in data; discarding packet\r\n";

// What the files hold for records queued with CR LF: CR CR LF.
std::string as_stored(std::string text) {
    std::string stored;
    for (char c : text) {
        if (c == '\n') {
            stored += '\r';
        }
        stored += c;
    }
    return stored;
}

class RecordOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        out_.exchange_path = dir_.file("SondrelMANTout.txt");
        out_.console = console_.get();
        out_.log.fd = log_.fd();
    }
    // A flush at t0 + ms milliseconds.
    quorvel::FlushResult flush(int ms = 0) {
        return quorvel::flush_pending_output(out_, t0_ + std::chrono::milliseconds(ms));
    }

    TempDir dir_;
    CapturedStream console_;
    LogFile log_{dir_};
    RecordOutput out_;
    const quorvel::SteadyClock::time_point t0_ = quorvel::SteadyClock::now();
};

TEST_F(RecordOutputTest, FlushWritesCrCrLfToFileAndLogAndTheTextAsQueuedToTheConsole) {
    quorvel::queue_record(out_, kP1);
    quorvel::queue_line(out_, kN1);
    EXPECT_EQ(flush(), quorvel::FlushResult::Written);

    EXPECT_EQ(console_.text(), kP1 + kN1);
    EXPECT_EQ(log_.text(), as_stored(kP1 + kN1));
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kP1 + kN1));
    EXPECT_EQ(out_.pending, "");

    // The next flush appends only what was queued since.
    quorvel::queue_record(out_, kS2);
    flush();
    EXPECT_EQ(flush(), quorvel::FlushResult::Empty);
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kP1 + kN1 + kS2));
    EXPECT_EQ(log_.text(), as_stored(kP1 + kN1 + kS2));
}

TEST_F(RecordOutputTest, QueueLineEndsEveryNonEmptyLineWithOneCrLf) {
    struct Case {
        std::string line;
        std::string queued;
    };
    const Case cases[] = {
        {"", ""},
        {"S,12,Error 1\r\n", "S,12,Error 1\r\n"},
        {"N,1", "N,1\r\n"},
        {"N,2\n", "N,2\r\n"},
        {"N,3\r\r\n\n", "N,3\r\n"},
        {"\r\n", "\r\n"},
    };
    for (const Case& c : cases) {
        RecordOutput out;
        out.console = nullptr;
        quorvel::queue_line(out, c.line);
        EXPECT_EQ(out.pending, c.queued) << c.line;
    }
}

TEST_F(RecordOutputTest, DeletedExchangeFileIsCreatedAgainWithOnlyTheNewRecords) {
    quorvel::queue_record(out_, kP1);
    flush();
    ASSERT_TRUE(std::filesystem::remove(out_.exchange_path));

    quorvel::queue_line(out_, kN1);
    flush();
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kN1));
}

// An hour of the line's full rate, 1,920 characters a second, while the
// exchange file cannot be written: nothing is lost.
TEST_F(RecordOutputTest, AnHourOfRecordsWaitsForAnUnwritableExchangeFile) {
    std::filesystem::create_directory(out_.exchange_path);
    const std::size_t hour = 1920 * 3600;
    std::size_t queued = 0;
    std::size_t records = 0;
    for (; queued < hour; queued += kP1.size(), ++records) {
        quorvel::queue_record(out_, kP1);
        if (records % 1000 == 0) {
            flush(static_cast<int>(records));
        }
    }
    EXPECT_TRUE(out_.outage.dropped.empty());
    EXPECT_EQ(out_.pending_records, records);

    std::filesystem::remove(out_.exchange_path);
    EXPECT_EQ(flush(static_cast<int>(records)), quorvel::FlushResult::Written);
    EXPECT_EQ(std::filesystem::file_size(out_.exchange_path), as_stored(kP1).size() * records);
    EXPECT_EQ(log_.text().size(), as_stored(kP1).size() * records);
}

TEST_F(RecordOutputTest, FailuresAreReportedAtMostOnceASecondAndTheirEndOnce) {
    // A folder in the file's place: the open fails even for root.
    std::filesystem::create_directory(out_.exchange_path);
    const std::string error = "error on opening exchange file\r\n";
    quorvel::queue_record(out_, kP1);
    EXPECT_EQ(flush(0), quorvel::FlushResult::Failed);
    quorvel::queue_line(out_, kN1);
    flush(400);
    flush(999);
    quorvel::queue_record(out_, kS2);
    flush(1000);
    flush(1500);
    EXPECT_EQ(console_.text(), kP1 + error + kN1 + kS2 + error);
    EXPECT_EQ(log_.text(), as_stored(kP1 + kN1 + kS2));
    EXPECT_EQ(out_.pending, kP1 + kN1 + kS2);

    std::filesystem::remove(out_.exchange_path);
    EXPECT_EQ(flush(1600), quorvel::FlushResult::Written);
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kP1 + kN1 + kS2));
    EXPECT_EQ(console_.text(), kP1 + error + kN1 + kS2 + error +
                                   "exchange file written again: 3 records handed over\r\n");
    // A new outage is reported at once.
    std::filesystem::remove(out_.exchange_path);
    std::filesystem::create_directory(out_.exchange_path);
    quorvel::queue_record(out_, kP1);
    flush(1700);
    EXPECT_EQ(console_.text().substr(console_.text().size() - error.size()), error);
}

TEST_F(RecordOutputTest, LockHeldElsewhereKeepsRecordsPendingAndIsReportedOnlyWhenItLasts) {
    quorvel::queue_record(out_, kP1);
    flush();
    const int held = ::open(out_.exchange_path.c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    quorvel::queue_line(out_, kN1);
    EXPECT_EQ(flush(0), quorvel::FlushResult::Locked);
    flush(999);
    EXPECT_EQ(console_.text(), kP1 + kN1);
    flush(1000);
    EXPECT_EQ(console_.text(), kP1 + kN1 + "exchange file locked by another program\r\n");

    ::flock(held, LOCK_UN);
    ::close(held);
    EXPECT_EQ(flush(1100), quorvel::FlushResult::Written);
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kP1 + kN1));
}

TEST_F(RecordOutputTest, PastThePendingLimitRecordsReachOnlyConsoleAndLogAndAreCountedByKind) {
    std::filesystem::create_directory(out_.exchange_path);
    out_.pending_limit = kP1.size() + kN1.size();
    quorvel::queue_record(out_, kP1);
    quorvel::queue_line(out_, kN1);
    quorvel::queue_record(out_, kP1);
    quorvel::queue_line(out_, kN1);
    quorvel::queue_line(out_, kN1);
    quorvel::queue_record(out_, kS2);
    flush(0);
    EXPECT_EQ(out_.pending, kP1 + kN1);
    EXPECT_EQ(log_.text(), as_stored(kP1 + kN1 + kP1 + kN1 + kN1 + kS2));

    std::filesystem::remove(out_.exchange_path);
    flush(100);
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kP1 + kN1));
    const std::string console = console_.text();
    EXPECT_EQ(console.substr(console.find("exchange file written")),
              "exchange file written again: 2 records handed over\r\n"
              "records dropped, pending output full: 1 P, 2 N, 1 S,2\r\n");
    // Counted anew for the next outage.
    EXPECT_TRUE(out_.outage.dropped.empty());
}

// Run in a child: the size limit and the ignored SIGXFSZ are process-wide. Its
// console is a pipe, which the limit does not apply to.
TEST_F(RecordOutputTest, ALogAtASizeLimitKeepsWholeRecordsAndTakesTheRestOnceItCan) {
    int console[2];
    ASSERT_EQ(::pipe(console), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t usual = limit.rlim_cur;
        limit.rlim_cur = as_stored(kP1).size() + 10;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        out_.console = ::fdopen(console[1], "w");
        quorvel::queue_record(out_, kP1);
        quorvel::flush_streams(out_, t0_);
        quorvel::queue_line(out_, kN1);
        quorvel::queue_record(out_, kS2);
        quorvel::flush_streams(out_, t0_);
        const bool whole = log_.text() == as_stored(kP1);
        out_.pending_limit = out_.log.pending.size(); // what waits for the log is bounded
        quorvel::queue_line(out_, kN1);
        limit.rlim_cur = usual;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        quorvel::flush_streams(out_, t0_ + std::chrono::seconds(1));
        ::_exit(whole ? 0 : 1);
    }
    ::close(console[1]);
    const std::string said = harness::read_output({child, console[0]}, false, 60);
    ::close(console[0]);
    EXPECT_EQ(harness::wait_exit(child, 60), 0) << "the log ended in part of a record";
    EXPECT_EQ(log_.text(), as_stored(kP1 + kN1 + kS2));
    EXPECT_EQ(said, kP1 + kN1 + kS2 + "error on writing output logging file\r\n" + kN1 +
                        "output logging file written again, 1 records missing from it\r\n");
}

TEST_F(RecordOutputTest, RecordsNeverHandedOverAreCountedAtTheEnd) {
    struct Case {
        const char* behaviour;
        bool log;
        std::size_t queued;
        std::string message;
    };
    const Case cases[] = {
        {"all written", true, 0, ""},
        {"with a log", true, 3,
         "3 records not written to the exchange file; they are in the log\r\n"},
        {"without a log", false, 1, "1 records not written to the exchange file\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        CapturedStream console;
        RecordOutput out;
        out.console = console.get();
        out.log.fd = c.log ? log_.fd() : -1;
        for (std::size_t i = 0; i < c.queued; ++i) {
            quorvel::queue_line(out, kN1);
        }
        const std::string echoed = console.text();
        EXPECT_EQ(quorvel::report_unwritten(out), c.queued == 0);
        EXPECT_EQ(console.text().substr(echoed.size()), c.message);
    }
}

} // namespace
