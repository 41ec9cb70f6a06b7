// The groups beside "Settings" in the same file ([Feeds], [Archive]): read as
// written, and never touched by Save Settings or Restore Defaults.
#include "display/ui/display_window.h"
#include "display/ui/settings.h"
#include "ui_test_support.h"

#include <QFileInfo>
#include <QSettings>

#include <gtest/gtest.h>

namespace veltaro {
namespace {

TEST(SettingsGroups, AreReadAsWrittenAndOutliveSaveAndRestoreDefaults) {
    const QString file = QSettings("Veltaro", "Veltaro").fileName();
    QDir().mkpath(QFileInfo(file).path());
    test::WriteFile(file, "[Settings]\ntxtFilter=7\n"
                          "[Feeds]\nrecords_port=7001\nmqtt_password=\"a,b\"\n"
                          "[Archive]\nenabled=false\n");
    QTemporaryDir folder;
    FDisplay window(folder.path(), folder.path());
    LoadSettings(window);
    SaveSettings(window);
    RestoreDefaults(window);

    const std::map<std::string, std::string> feeds = {{"mqtt_password", "a,b"},
                                                      {"records_port", "7001"}};
    EXPECT_EQ(LoadGroup("Feeds"), feeds);
    EXPECT_EQ(LoadGroup("Archive"), (std::map<std::string, std::string>{{"enabled", "false"}}));
    EXPECT_TRUE(LoadGroup("NoSuchGroup").empty());
    QFile::remove(file);
}

} // namespace
} // namespace veltaro
