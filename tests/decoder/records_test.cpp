#include "decoder/records.h"

#include "test_support.h"

#include <atomic>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

using quorvel::RecordOutput;
using quorvel_test::CapturedStream;
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
        out_.log = log_.get();
    }
    std::string pending() const { return std::string(out_.pending.data(), out_.pending_length); }

    TempDir dir_;
    CapturedStream console_;
    CapturedStream log_;
    RecordOutput out_;
};

TEST_F(RecordOutputTest, FlushWritesCrCrLfToFileAndLogAndTheTextAsQueuedToTheConsole) {
    quorvel::queue_record(out_, kP1);
    quorvel::queue_line(out_, kN1);
    quorvel::flush_pending_output(out_);

    EXPECT_EQ(console_.text(), kP1 + kN1);
    EXPECT_EQ(log_.text(), as_stored(kP1 + kN1));
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kP1 + kN1));
    EXPECT_EQ(out_.pending_length, 0u);

    // The next flush appends only what was queued since.
    quorvel::queue_record(out_, kS2);
    quorvel::flush_pending_output(out_);
    quorvel::flush_pending_output(out_);
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
        EXPECT_EQ(std::string(out.pending.data(), out.pending_length), c.queued) << c.line;
    }
}

TEST_F(RecordOutputTest, RecordThatDoesNotFitIsDroppedWithAMessageNamingItsKind) {
    // Fill the pending output to 8190 characters: the largest that still fits.
    const std::string filler(8188, 'x');
    quorvel::queue_line(out_, filler);
    ASSERT_EQ(out_.pending_length, 8190u);

    quorvel::queue_record(out_, kP1);
    quorvel::queue_line(out_, kN1);
    quorvel::queue_record(out_, kS2);
    quorvel::queue_line(out_, "S,12,Error 5: too long");
    EXPECT_EQ(out_.pending_length, 8190u);
    EXPECT_EQ(console_.text(), "record dropped, pending output full: P record\r\n"
                               "record dropped, pending output full: N record\r\n"
                               "record dropped, pending output full: S,2 record\r\n"
                               "record dropped, pending output full: S,12 record\r\n");

    quorvel::flush_pending_output(out_);
    quorvel::queue_record(out_, kP1);
    EXPECT_EQ(pending(), kP1);
}

TEST_F(RecordOutputTest, DeletedExchangeFileIsCreatedAgainWithOnlyTheNewRecords) {
    quorvel::queue_record(out_, kP1);
    quorvel::flush_pending_output(out_);
    ASSERT_TRUE(std::filesystem::remove(out_.exchange_path));

    quorvel::queue_line(out_, kN1);
    quorvel::flush_pending_output(out_);
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kN1));
}

TEST_F(RecordOutputTest, UnopenableExchangeFileIsRetriedWithoutRepeatingConsoleOrLog) {
    // A folder in the file's place: the open fails even for root.
    std::filesystem::create_directory(out_.exchange_path);

    quorvel::queue_record(out_, kP1);
    quorvel::flush_pending_output(out_);
    quorvel::flush_pending_output(out_);
    quorvel::queue_line(out_, kN1);
    quorvel::flush_pending_output(out_);
    quorvel::queue_record(out_, kS2);
    quorvel::flush_pending_output(out_);

    const std::string error = "error on opening exchange file\r\n";
    EXPECT_EQ(console_.text(), kP1 + error + error + kN1 + error + kS2 + error);
    EXPECT_EQ(log_.text(), as_stored(kP1 + kN1 + kS2));
    EXPECT_EQ(pending(), kP1 + kN1 + kS2);

    std::filesystem::remove(out_.exchange_path);
    quorvel::flush_pending_output(out_);
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kP1 + kN1 + kS2));
    EXPECT_EQ(log_.text(), as_stored(kP1 + kN1 + kS2));
    EXPECT_EQ(console_.text(), kP1 + error + error + kN1 + error + kS2 + error);
    EXPECT_EQ(out_.pending_length, 0u);
}

TEST_F(RecordOutputTest, FlushWaitsForALockedExchangeFileAndLosesNothing) {
    quorvel::queue_record(out_, kP1);
    quorvel::flush_pending_output(out_);

    // The display's side of the hand-over: lock, read, delete, unlock.
    const int held = ::open(out_.exchange_path.c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    quorvel::queue_line(out_, kN1);
    std::atomic<bool> done{false};
    std::thread flusher([&] {
        quorvel::flush_pending_output(out_);
        done = true;
    });
    // The console already has the record; the file must not yet.
    ASSERT_TRUE(quorvel_test::wait_for([&] { return console_.text() == kP1 + kN1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(done);
    const std::string taken = read_file(out_.exchange_path);
    std::filesystem::remove(out_.exchange_path);
    ::flock(held, LOCK_UN);
    ::close(held);

    flusher.join();
    EXPECT_EQ(taken, as_stored(kP1));
    // The record waiting for the lock went to the new file, not the deleted one.
    EXPECT_EQ(read_file(out_.exchange_path), as_stored(kN1));
}

} // namespace
