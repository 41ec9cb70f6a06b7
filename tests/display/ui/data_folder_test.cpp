#include "display/ui/data_folder.h"
#include "ui_test_support.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace veltaro {
namespace {

TEST(DataFolder, RequestedFolderWinsAndIsCreated) {
    QTemporaryDir program;
    const QString requested = program.path() + "/chosen/data";
    EXPECT_EQ(ResolveDataFolder(program.path(), requested), requested);
    EXPECT_TRUE(QFileInfo(requested).isDir());
}

TEST(DataFolder, WritableProgramFolderIsUsed) {
    QTemporaryDir program;
    EXPECT_EQ(ResolveDataFolder(program.path(), ""), program.path());
}

TEST(DataFolder, UnusableProgramFolderFallsBackToTheUserDataFolder) {
    QTemporaryDir scratch;
    const QString expected = qEnvironmentVariable("XDG_DATA_HOME") + "/Veltaro";
    EXPECT_EQ(ResolveDataFolder(scratch.path() + "/missing", ""), expected);
    EXPECT_TRUE(QFileInfo(expected).isDir());
}

} // namespace
} // namespace veltaro
