#include "display/ui/data_folder_lock.h"
#include "tests/support/data_folder.h"
#include "ui_test_support.h"

#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace veltaro {
namespace {

namespace fs = std::filesystem;
using State = DataFolderLock::State;

class DataFolderLockTest : public testing::Test {
protected:
    QString Folder() const { return folder_.path(); }
    QString LockPath() const { return Folder() + "/" + kDataFolderLockName; }
    std::string InUse() const {
        return ("The data folder " + Folder() + " is in use by another Veltaro").toStdString();
    }
    std::string CantLock(const QString& description) const {
        return (description + "  Can't lock the data folder " + Folder()).toStdString();
    }

    QTemporaryDir folder_;
    QTemporaryDir outside_;
};

// What someone who can write the folder may have put under the lock's name;
// a link to a missing file must not create it.
TEST_F(DataFolderLockTest, ALockNameThatIsNoRegularFileIsRefusedAndNothingOutsideChanges) {
    const std::string lock_path = LockPath().toStdString();
    const fs::path outside = harness::make_outside_file(outside_.path().toStdString());
    for (const harness::ForeignEntry& entry : harness::kForeignEntries) {
        SCOPED_TRACE(entry.kind);
        fs::remove_all(lock_path);
        entry.make(lock_path, outside);
        const DataFolderLock lock(Folder());
        EXPECT_EQ(lock.state(), State::Failed);
        EXPECT_EQ(lock.Problem().toStdString(), CantLock("Not a regular file: " + LockPath()));
    }
    EXPECT_EQ(harness::read_file(outside), harness::kOutsideText);
    fs::remove_all(lock_path);
    fs::create_symlink(outside_.path().toStdString() + "/missing", lock_path);
    EXPECT_EQ(DataFolderLock(Folder()).state(), State::Failed);
    EXPECT_FALSE(fs::exists(outside_.path().toStdString() + "/missing"));
}

TEST_F(DataFolderLockTest, ASecondClaimIsRefusedUntilTheFirstIsReleased) {
    auto first = std::make_unique<DataFolderLock>(Folder());
    ASSERT_EQ(first->state(), State::Held);
    {
        const DataFolderLock second(Folder());
        EXPECT_EQ(second.state(), State::InUse);
        EXPECT_EQ(second.Problem().toStdString(), InUse());
    }
    first.reset();
    EXPECT_EQ(DataFolderLock(Folder()).state(), State::Held);
}

// Another user's display must be able to open the lock file to be refused.
TEST_F(DataFolderLockTest, TheLockFileIsReadableByAllWhateverTheUmask) {
    const mode_t saved = ::umask(077);
    const DataFolderLock lock(Folder());
    ::umask(saved);
    ASSERT_EQ(lock.state(), State::Held);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(LockPath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

// A decoder started by the display must not keep the folder locked after it.
TEST_F(DataFolderLockTest, AChildProcessDoesNotInheritTheLock) {
    auto lock = std::make_unique<DataFolderLock>(Folder());
    ASSERT_EQ(lock->state(), State::Held);
    QProcess child;
    child.start("sleep", {"30"});
    ASSERT_TRUE(child.waitForStarted());
    lock.reset();
    EXPECT_EQ(DataFolderLock(Folder()).state(), State::Held);
    child.kill();
    child.waitForFinished();
}

TEST_F(DataFolderLockTest, TheWindowIsRefusedWithAMessageOnlyWhenTheFolderIsInUse) {
    const auto held = ClaimDataFolder(Folder());
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->state(), State::Held);

    test::MessageBoxAnswerer answerer;
    EXPECT_EQ(ClaimDataFolder(Folder()), nullptr);
    EXPECT_EQ(answerer.Text().toStdString(), InUse());

    // A folder that cannot be locked at all still opens the window, which
    // shows the problem.
    const auto unheld = ClaimDataFolder(Folder() + "/missing");
    ASSERT_NE(unheld, nullptr);
    EXPECT_EQ(unheld->state(), State::Failed);
}

} // namespace
} // namespace veltaro
