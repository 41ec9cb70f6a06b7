#include "common/file_io.h"

#include "tests/support/data_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using harness::read_file;
using harness::TempDir;
using harness::write_file;

TEST(OpenRegular, RefusesEveryNameThatIsNotARegularFileWithoutWaitingOrWriting) {
    const TempDir dir;
    const fs::path outside = harness::make_outside_file(dir.path());
    const int modes[] = {O_RDONLY, O_WRONLY | O_APPEND | O_CREAT, O_WRONLY | O_TRUNC};
    for (const harness::ForeignEntry& entry : harness::kForeignEntries) {
        const std::string name = dir.file(std::string("entry ") + entry.kind);
        entry.make(name, outside);
        for (const int flags : modes) {
            SCOPED_TRACE(name + ", flags " + std::to_string(flags));
            fileio::Problem problem;
            EXPECT_FALSE(fileio::OpenRegular(name, flags, problem).valid());
            EXPECT_STREQ(problem.refused, entry.kind);
            EXPECT_EQ(problem.Describe(), name + " is " + entry.kind + ", not a regular file");
        }
    }
    EXPECT_EQ(read_file(outside), harness::kOutsideText);
}

// A file-size limit makes writes fail part-way, as a full disk does.
TEST(AppendWhole, AWriteThatFailsPartWayIsCutOffAgain) {
    const TempDir dir;
    write_file(dir / "log", "kept\n");
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{10, 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        fileio::Problem problem;
        const fileio::Fd fd = fileio::OpenRegular(dir.file("log"), O_WRONLY | O_APPEND, problem);
        const bool fits = fileio::AppendWhole(fd.get(), "ab\n") == 0;
        const bool refused = fileio::AppendWhole(fd.get(), "too long\n") == EFBIG;
        _exit(fits && refused ? 0 : 1);
    }
    EXPECT_EQ(harness::wait_exit(child, 30), 0);
    EXPECT_EQ(read_file(dir / "log"), "kept\nab\n");
}

TEST(SameFile, IsTheNameNowAndNeverFollowsALink) {
    const TempDir dir;
    write_file(dir / "file", "a");
    fs::create_symlink(dir / "file", dir / "link");
    fileio::Problem problem;
    const fileio::Fd fd = fileio::OpenRegular(dir.file("file"), O_RDONLY, problem);
    EXPECT_TRUE(fileio::SameFile(fd.get(), dir.file("file")));
    EXPECT_FALSE(fileio::SameFile(fd.get(), dir.file("link")));
    fs::rename(dir / "file", dir / "moved");
    write_file(dir / "file", "new");
    EXPECT_FALSE(fileio::SameFile(fd.get(), dir.file("file")));
    EXPECT_TRUE(fileio::SameFile(fd.get(), dir.file("moved")));
}

} // namespace
