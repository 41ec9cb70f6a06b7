#include "common/exchange_file.h"

#include "tests/support/data_folder.h"

#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <future>
#include <memory>
#include <sys/file.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using exchange::Appended;
using exchange::ClaimedFile;
using exchange::LineReader;
using harness::read_file;
using harness::TempDir;
using harness::write_file;
using Kind = LineReader::Kind;
using Clock = std::chrono::steady_clock;

struct Line {
    Kind kind;
    std::string text;
    std::uint64_t position;
    bool operator==(const Line&) const = default;
};

std::vector<Line> ReadAll(LineReader reader) {
    std::vector<Line> lines;
    std::string_view text;
    for (Kind kind; (kind = reader.Next(text)) != Kind::end && kind != Kind::failed;) {
        lines.push_back({kind, std::string(text), reader.Position()});
    }
    return lines;
}

std::vector<Line> ReadFileLines(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<Line> lines = ReadAll(LineReader(fd, 0));
    ::close(fd);
    return lines;
}

TEST(LineReader, LineEndsAreCrLfOrCrLfAndTheEndOfTheContent) {
    struct Case {
        const char* content;
        std::vector<Line> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"S,1\r\r\n", {{Kind::line, "S,1", 4}, {Kind::line, "", 6}}},
        {"a\nb\rc\r\nd",
         {{Kind::line, "a", 2}, {Kind::line, "b", 4}, {Kind::line, "c", 7}, {Kind::line, "d", 8}}},
        {"\n\n", {{Kind::line, "", 1}, {Kind::line, "", 2}}},
        {"last\r", {{Kind::line, "last", 5}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadAll(LineReader(c.content)), c.lines) << '"' << c.content << '"';
    }
}

std::string Repeat(char c, std::size_t count) {
    return std::string(count, c);
}

// The file is read in slices; a line end that falls between two of them, and
// lines far longer than a slice, read as in memory.
TEST(LineReader, AFileReadsInSlicesAsTheSameContentInMemory) {
    std::string crossing;
    for (int i = 0; i < 130; ++i) {
        crossing += Repeat('a', 1000) + "\r\n";
    }
    crossing += Repeat('b', 812) + "\r\ntail"; // that CR ends the first slice read
    const std::string too_long = "S,1\r\r\n" + Repeat('L', 70000) + "\r\r\nS,2\r\r\n" +
                                 Repeat('M', 300000) + "\nS,3\n" + Repeat('N', 65536) + "\n" +
                                 Repeat('E', 65537);
    const TempDir dir;
    for (const std::string& content : {crossing, too_long}) {
        write_file(dir / "content", content);
        const std::vector<Line> from_file = ReadFileLines(dir / "content");
        EXPECT_EQ(from_file, ReadAll(LineReader(content)));
        ASSERT_FALSE(from_file.empty());
        EXPECT_EQ(from_file.back().position, content.size());
    }
    const std::vector<Line> lines = ReadFileLines(dir / "content");
    const std::vector<Line> expected = {
        {Kind::line, "S,1", 4},
        {Kind::line, "", 6},
        {Kind::too_long, Repeat('L', 40), 70007},
        {Kind::line, "", 70009},
        {Kind::line, "S,2", 70013},
        {Kind::line, "", 70015},
        {Kind::too_long, Repeat('M', 40), 370016},
        {Kind::line, "S,3", 370020},
        {Kind::line, Repeat('N', 65536), 435557},
        {Kind::too_long, Repeat('E', 40), 501094},
    };
    EXPECT_EQ(lines, expected);
}

// ---- Appending ----

const std::string kRecord = "P,0,1\r\r\n";

// The append's outcome; a test failure when it does not come back in time (an
// open that waits for a pipe's reader blocks for good).
exchange::AppendResult AppendInTime(const std::string& path, exchange::LockWait wait = {}) {
    auto outcome = std::make_shared<std::promise<exchange::AppendResult>>();
    std::future<exchange::AppendResult> result = outcome->get_future();
    std::thread([=] { outcome->set_value(exchange::Append(path, kRecord, wait)); }).detach();
    if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << path << ": the append never came back";
        return {};
    }
    return result.get();
}

TEST(Append, AnythingButARegularFileAtThePathIsRefusedWithoutWaiting) {
    const TempDir dir;
    const fs::path outside = harness::make_outside_file(dir.path());
    for (const harness::ForeignEntry& entry : harness::kForeignEntries) {
        SCOPED_TRACE(entry.kind);
        const std::string path = dir.file(std::string("exchange as ") + entry.kind);
        entry.make(path, outside);
        const exchange::AppendResult refused = AppendInTime(path);
        EXPECT_EQ(refused.status, Appended::open_failed);
        EXPECT_STREQ(refused.problem.refused, entry.kind);
    }
    fs::create_symlink(dir / "nothing", dir / "dangling");
    EXPECT_EQ(AppendInTime(dir.file("dangling")).status, Appended::open_failed);
    EXPECT_FALSE(fs::exists(dir / "nothing"));
    EXPECT_EQ(AppendInTime(dir.file("gone/exchange.txt")).status, Appended::open_failed);
    EXPECT_EQ(read_file(outside), harness::kOutsideText);

    // A pipe that someone reads is no exchange file either.
    const std::string pipe = dir.file("exchange as a pipe");
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(AppendInTime(pipe).status, Appended::open_failed);
    char byte;
    EXPECT_EQ(::read(reader, &byte, 1), 0);
    ::close(reader);
}

TEST(Append, AHeldLockIsWaitedForOnlyUntilTheDeadlineOrAWakeUp) {
    const TempDir dir;
    const std::string path = dir.file(harness::kExchangeName);
    const int held = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    int wake[2];
    ASSERT_EQ(::pipe(wake), 0);
    ASSERT_EQ(::write(wake[1], "s", 1), 1);
    struct Case {
        const char* name;
        exchange::LockWait wait;
    };
    const Case cases[] = {
        {"no wait", {}},
        {"a deadline that passes", {Clock::now() + std::chrono::milliseconds(50)}},
        {"a wake-up long before the deadline", {Clock::now() + std::chrono::hours(1), wake[0]}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AppendInTime(path, c.wait).status, Appended::locked) << c.name;
    }
    ::close(wake[0]);
    ::close(wake[1]);
    EXPECT_EQ(read_file(path), "");
    ::close(held);
    EXPECT_EQ(AppendInTime(path).status, Appended::written);
    EXPECT_EQ(read_file(path), kRecord);
}

TEST(Append, AFileClaimedWhileTheAppendWaitedForItsLockGetsNothingTheNewOneGetsTheText) {
    const TempDir dir;
    const std::string path = dir.file(harness::kExchangeName);
    write_file(path, "S,1\r\r\n");
    const int held = ::open(path.c_str(), O_RDWR);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    auto call = std::async(std::launch::async, [&] {
        return exchange::Append(path, kRecord, {Clock::now() + std::chrono::minutes(1)}).status;
    });
    // Gives the append time to open the file that is about to be claimed.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The display's claim: renamed under the lock, then unlocked.
    fs::rename(path, dir / "claimed");
    ::close(held);
    EXPECT_EQ(call.get(), Appended::written);
    EXPECT_EQ(read_file(dir / "claimed"), "S,1\r\r\n");
    EXPECT_EQ(read_file(path), kRecord);
}

// ---- The hand-over ----

class HandOver : public ::testing::Test {
protected:
    std::string Exchange() const { return dir.file(harness::kExchangeName); }
    std::string Claimed(int slot = 0) const { return exchange::NamesOf(Exchange(), slot).claimed; }
    std::string Mark(int slot = 0) const { return exchange::NamesOf(Exchange(), slot).mark; }

    ClaimedFile::Opened Open(ClaimedFile& file) {
        problem = {};
        notices.clear();
        return file.Open(Exchange(), logs, problem, notices);
    }
    std::vector<std::string> Lines(ClaimedFile& file, int count = -1) {
        std::vector<std::string> lines;
        std::string_view line;
        while (count-- != 0 && file.Lines().Next(line) == Kind::line) {
            lines.emplace_back(line);
        }
        return lines;
    }
    void Append(const std::string& text) {
        const exchange::AppendResult appended = exchange::Append(Exchange(), text);
        ASSERT_EQ(appended.status, Appended::written) << appended.problem.Describe();
    }

    TempDir dir;
    std::array<std::string, 3> logs = {dir.file(harness::kRawLogName),
                                       dir.file(harness::kHeaderLogName),
                                       dir.file(harness::kReportLogName)};
    exchange::Problem problem;
    std::vector<exchange::Problem> notices;
};

TEST_F(HandOver, AClaimTakesTheFileAndTheNextAppendStartsANewOne) {
    ClaimedFile file;
    EXPECT_EQ(Open(file), ClaimedFile::Opened::nothing); // no file yet: silent
    EXPECT_FALSE(problem);

    Append("S,1\r\r\nP,2\r\r\n");
    ASSERT_EQ(Open(file), ClaimedFile::Opened::claimed);
    EXPECT_FALSE(fs::exists(Exchange()));
    Append("N,3\r\r\n");
    EXPECT_EQ(Lines(file), (std::vector<std::string>{"S,1", "", "P,2", ""}));
    EXPECT_EQ(read_file(Exchange()), "N,3\r\r\n");

    EXPECT_FALSE(file.Checkpoint({}));
    EXPECT_TRUE(fs::exists(Mark()));
    EXPECT_FALSE(file.Release());
    EXPECT_FALSE(fs::exists(Claimed()));
    EXPECT_FALSE(fs::exists(Mark()));
    EXPECT_FALSE(file.IsOpen());
}

// A pass killed after its checkpoint: the logs written since are cut back and
// reading goes on from the checkpoint's position.
TEST_F(HandOver, AResumedPassUndoesTheLogsSinceItsCheckpointAndGoesOnFromThere) {
    write_file(logs[0], "raw before\r\n");
    Append("S,1\r\r\nS,2\r\r\nS,3\r\r\n");
    {
        ClaimedFile file;
        ASSERT_EQ(Open(file), ClaimedFile::Opened::claimed);
        EXPECT_EQ(Lines(file, 2), (std::vector<std::string>{"S,1", ""}));
        ASSERT_FALSE(file.Checkpoint(logs));
        EXPECT_EQ(read_file(logs[1]), ""); // created, so it can be measured
        write_file(logs[0], "raw before\r\nS,2\r\n");
        write_file(logs[1], "half a li");
    } // killed: no release

    ClaimedFile file;
    ASSERT_EQ(Open(file), ClaimedFile::Opened::resumed);
    EXPECT_EQ(read_file(logs[0]), "raw before\r\n");
    EXPECT_EQ(read_file(logs[1]), "");
    EXPECT_EQ(Lines(file), (std::vector<std::string>{"S,2", "", "S,3", ""}));
}

TEST_F(HandOver, ACheckpointWithoutLogsKeepsWhatWasWrittenBeforeIt) {
    Append("S,1\r\r\nS,2\r\r\n");
    {
        ClaimedFile file;
        ASSERT_EQ(Open(file), ClaimedFile::Opened::claimed);
        ASSERT_FALSE(file.Checkpoint(logs));
        Lines(file, 2);
        write_file(logs[0], "S,1\r\n");
        ASSERT_FALSE(file.Checkpoint({}));
    }
    ClaimedFile file;
    ASSERT_EQ(Open(file), ClaimedFile::Opened::resumed);
    EXPECT_EQ(read_file(logs[0]), "S,1\r\n");
    EXPECT_EQ(Lines(file), (std::vector<std::string>{"S,2", ""}));
}

// Whatever the mark says, it can only cut the configured logs, and only the
// very files it measured; nothing else changes.
TEST_F(HandOver, AForgedMarkChangesNoFileButTheConfiguredLogs) {
    const fs::path outside = harness::make_outside_file(dir.path());
    struct stat raw {};
    write_file(logs[0], "0123456789");
    ::stat(logs[0].c_str(), &raw);
    const std::string raw_identity = std::to_string(raw.st_dev) + " " + std::to_string(raw.st_ino);
    struct Case {
        const char* name;
        std::string mark;
        std::string raw_after;
        std::vector<std::string> lines; // read on from the mark
    };
    const Case cases[] = {
        {"sizes and paths of the old kind",
         "0\t" + outside.string() + "\n-1\t" + outside.string() + "\n",
         "0123456789",
         {"S,1", "", "S,2", ""}},
        {"garbage", "position x\nlog 1 2 3\n", "0123456789", {"S,1", "", "S,2", ""}},
        {"position past the end", "position 999999\n", "0123456789", {}},
        {"another file's identity",
         "position 0\nlog 0 1 2\n",
         "0123456789",
         {"S,1", "", "S,2", ""}},
        {"a size above the log's",
         "position 6\nlog 99 " + raw_identity + "\n",
         "0123456789",
         {"S,2", ""}},
        {"the log's own identity", "position 6\nlog 4 " + raw_identity + "\n", "0123", {"S,2", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(logs[0], "0123456789");
        write_file(Claimed(), "S,1\r\r\nS,2\r\r\n");
        write_file(Mark(), c.mark);
        ClaimedFile file;
        ASSERT_EQ(Open(file), ClaimedFile::Opened::resumed) << problem.Describe();
        EXPECT_EQ(Lines(file), c.lines);
        EXPECT_EQ(read_file(logs[0]), c.raw_after);
        EXPECT_FALSE(fs::exists(logs[1]));
        EXPECT_EQ(read_file(outside), harness::kOutsideText);
        ASSERT_FALSE(file.Release());
    }
}

// A claim name held by something else is named and the second set of names
// takes its place, so ingestion goes on; the entry itself is left alone.
TEST_F(HandOver, AClaimNameHeldBySomethingElseIsNamedAndTheOtherNamesServe) {
    const fs::path outside = harness::make_outside_file(dir.path());
    const exchange::ClaimNames names = exchange::NamesOf(Exchange(), 0);
    for (const std::string& name : {names.claimed, names.mark, names.fresh_mark}) {
        for (const harness::ForeignEntry& entry : harness::kForeignEntries) {
            SCOPED_TRACE(name + " is " + entry.kind);
            entry.make(name, outside);
            Append("S,1\r\r\n");
            ClaimedFile file;
            ASSERT_EQ(Open(file), ClaimedFile::Opened::claimed) << problem.Describe();
            ASSERT_EQ(notices.size(), 1u);
            EXPECT_EQ(notices[0].path, name);
            EXPECT_STREQ(notices[0].refused, entry.kind);
            EXPECT_EQ(file.Names().claimed, Claimed(1));
            EXPECT_FALSE(file.Checkpoint(logs));
            EXPECT_EQ(Lines(file), (std::vector<std::string>{"S,1", ""}));
            EXPECT_FALSE(file.Release());
            EXPECT_FALSE(fs::exists(Claimed(1)));
            EXPECT_EQ(fileio::NonRegularKind(name), std::string(entry.kind));
            fs::remove(name);
        }
    }
    EXPECT_EQ(read_file(outside), harness::kOutsideText);
}

TEST_F(HandOver, WithBothSetsOfClaimNamesHeldNothingIsClaimed) {
    fs::create_directory(Claimed(0));
    fs::create_directory(Claimed(1));
    Append("S,1\r\r\n");
    ClaimedFile file;
    EXPECT_EQ(Open(file), ClaimedFile::Opened::nothing);
    EXPECT_EQ(problem.path, Claimed(1));
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_TRUE(fs::exists(Exchange()));
}

TEST_F(HandOver, ALogThatIsNotARegularFileFailsTheCheckpointAndIsLeftAlone) {
    const fs::path outside = harness::make_outside_file(dir.path());
    for (const harness::ForeignEntry& entry : harness::kForeignEntries) {
        SCOPED_TRACE(entry.kind);
        entry.make(logs[2], outside);
        Append("S,1\r\r\n");
        ClaimedFile file;
        ASSERT_EQ(Open(file), ClaimedFile::Opened::claimed);
        const exchange::Problem refused = file.Checkpoint(logs);
        EXPECT_STREQ(refused.refused, entry.kind);
        EXPECT_EQ(refused.path, logs[2]);
        ASSERT_FALSE(file.Release());
        fs::remove(logs[2]);
    }
    EXPECT_EQ(read_file(outside), harness::kOutsideText);
}

} // namespace
