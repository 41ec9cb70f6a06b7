#include "display/ui/data_folder_lock.h"
#include "ui_test_support.h"

#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace veltaro {
namespace {

using State = DataFolderLock::State;

class DataFolderLockTest : public testing::Test {
protected:
    QString Folder() const { return folder_.path(); }
    QString LockPath() const { return Folder() + "/" + kDataFolderLockName; }
    QString Outside() const { return outside_.path() + "/target"; }
    std::string InUse() const {
        return ("The data folder " + Folder() + " is in use by another Veltaro").toStdString();
    }
    std::string CantLock(const QString& description) const {
        return (description + "  Can't lock the data folder " + Folder()).toStdString();
    }

    QTemporaryDir folder_;
    QTemporaryDir outside_;
};

// What someone who can write the folder may have put under the lock's name.
struct PlantedCase {
    const char* what;
    std::function<void(const QString& lock, const QString& outside)> plant;
};

TEST_F(DataFolderLockTest, ALockNameThatIsNoRegularFileIsRefusedAndNothingOutsideChanges) {
    const PlantedCase cases[] = {
        {"link to a file outside",
         [](const QString& lock, const QString& outside) {
             test::WriteFile(outside, "keep me\n");
             QFile::link(outside, lock);
         }},
        {"link to a missing file outside",
         [](const QString& lock, const QString& outside) { QFile::link(outside, lock); }},
        {"pipe", [](const QString& lock,
                    const QString&) { ::mkfifo(QFile::encodeName(lock).constData(), 0644); }},
        {"folder", [](const QString& lock, const QString&) { QDir().mkdir(lock); }},
    };
    for (const PlantedCase& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(LockPath());
        QDir(LockPath()).removeRecursively();
        QFile::remove(Outside());
        c.plant(LockPath(), Outside());
        const QByteArray outside_before = test::ReadFile(Outside());

        const DataFolderLock lock(Folder());
        EXPECT_EQ(lock.state(), State::Failed);
        EXPECT_EQ(lock.Problem().toStdString(), CantLock("Not a regular file: " + LockPath()));
        EXPECT_EQ(test::ReadFile(Outside()), outside_before);
    }
    EXPECT_FALSE(QFileInfo::exists(Outside())) << "the missing link target was created";
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
