#include "decoder/exchange_append.h"

#include "test_support.h"

#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using quorvel::append_exchange_file;
using quorvel::AppendResult;
using quorvel::AppendWait;
using quorvel_test::read_file;
using quorvel_test::TempDir;
using quorvel_test::write_file;
using Clock = std::chrono::steady_clock;

const std::string kRecord = "P,0,1\r\r\n";

// The result, or nothing when the call did not come back within the deadline.
std::optional<AppendResult> append_in_time(const std::string& path, const AppendWait& wait = {}) {
    auto call =
        std::async(std::launch::async, [&] { return append_exchange_file(path, kRecord, wait); });
    if (call.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        return std::nullopt;
    }
    return call.get();
}

TEST(ExchangeAppend, AnythingButARegularFileAtThePathIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string target = dir.file("target.txt");
    write_file(target, "kept");
    struct Case {
        const char* behaviour;
        std::string name;
        std::function<void(const std::string&)> make;
    };
    const Case cases[] = {
        {"FIFO without a reader", "fifo", [](const std::string& p) { ::mkfifo(p.c_str(), 0644); }},
        {"link to a regular file", "link",
         [&](const std::string& p) { std::filesystem::create_symlink(target, p); }},
        {"dangling link", "dangling",
         [&](const std::string& p) { std::filesystem::create_symlink(dir.file("none"), p); }},
        {"folder", "folder", [](const std::string& p) { std::filesystem::create_directory(p); }},
        {"missing folder on the way", "gone/exchange.txt", [](const std::string&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        c.make(dir.file(c.name));
        EXPECT_EQ(append_in_time(dir.file(c.name)), AppendResult::OpenFailed);
    }
    EXPECT_EQ(read_file(target), "kept");

    // A FIFO that someone reads is still no exchange file.
    const std::string fifo = dir.file("fifo");
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(append_in_time(fifo), AppendResult::OpenFailed);
    char byte;
    EXPECT_EQ(::read(reader, &byte, 1), 0);
    ::close(reader);
}

TEST(ExchangeAppend, HeldLockIsWaitedForOnlyUntilTheDeadlineOrAWakeUp) {
    TempDir dir;
    const std::string path = dir.file("exchange.txt");
    const int held = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_EQ(append_in_time(path), AppendResult::Locked);
    EXPECT_EQ(append_in_time(path, {Clock::now() + std::chrono::milliseconds(50)}),
              AppendResult::Locked);

    int wake[2];
    ASSERT_EQ(::pipe(wake), 0);
    ASSERT_EQ(::write(wake[1], "s", 1), 1);
    EXPECT_EQ(append_in_time(path, {Clock::now() + std::chrono::hours(1), wake[0]}),
              AppendResult::Locked);
    ::close(wake[0]);
    ::close(wake[1]);
    EXPECT_EQ(read_file(path), "");
    ::close(held);
    EXPECT_EQ(append_in_time(path), AppendResult::Written);
    EXPECT_EQ(read_file(path), kRecord);
}

TEST(ExchangeAppend, FileClaimedWhileWeWaitedForItsLockGetsNothingTheNewOneGetsTheText) {
    TempDir dir;
    const std::string path = dir.file("exchange.txt");
    write_file(path, "old\r\r\n");
    const int held = ::open(path.c_str(), O_RDWR);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    auto call = std::async(std::launch::async, [&] {
        return append_exchange_file(path, kRecord, {Clock::now() + std::chrono::minutes(1)});
    });
    // The display's claim: rename under the lock, then unlock.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::filesystem::rename(path, dir.file("claimed.txt"));
    ::flock(held, LOCK_UN);
    ::close(held);
    EXPECT_EQ(call.get(), AppendResult::Written);
    EXPECT_EQ(read_file(dir.file("claimed.txt")), "old\r\r\n");
    EXPECT_EQ(read_file(path), kRecord);
}

// Run in a child: the size limit and the ignored SIGXFSZ are process-wide.
TEST(ExchangeAppend, WriteBeyondAFileSizeLimitFailsWholeAndLeavesTheFileAsItWas) {
    TempDir dir;
    const std::string path = dir.file("exchange.txt");
    write_file(path, std::string(1000, 'a'));
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool refused =
            append_exchange_file(path, std::string(100, 'b')) == AppendResult::WriteFailed;
        const bool fits = append_exchange_file(path, std::string(24, 'c')) == AppendResult::Written;
        ::_exit(refused && fits ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file(path), std::string(1000, 'a') + std::string(24, 'c'));
}

} // namespace
