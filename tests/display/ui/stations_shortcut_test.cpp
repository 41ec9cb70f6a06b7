// Ctrl+T in the display's window starts the stations screen from the
// program folder on the display's data folder, or says why it could not.
#include "display/ui/display_window.h"
#include "ui_test_support.h"

#include <QTest>

#include <gtest/gtest.h>

namespace veltaro {
namespace {

class StationsShortcutTest : public testing::Test {
protected:
    void PressCtrlT() {
        window_.show();
        window_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
        QTest::keyClick(&window_, Qt::Key_T, Qt::ControlModifier);
    }

    QTemporaryDir programs_;
    QTemporaryDir data_;
    FDisplay window_{programs_.path(), data_.path()};
};

TEST_F(StationsShortcutTest, StartsTheStationsProgramOnTheSameDataFolder) {
    const QString started = data_.path() + "/started";
    test::WriteScript(programs_.path(), "veltaro-stations",
                      "printf '%s|' \"$@\" \"$PWD\" > '" + started.toUtf8() + ".part'\n" + "mv '" +
                          started.toUtf8() + ".part' '" + started.toUtf8() + "'\n");
    const int reports = window_.Count(ListId::lstReport);
    PressCtrlT();
    ASSERT_TRUE(test::WaitFor([&] { return QFile::exists(started); }));
    EXPECT_EQ(test::ReadFile(started),
              "--data-dir|" + data_.path().toUtf8() + "|" + data_.path().toUtf8() + "|");
    EXPECT_EQ(window_.Count(ListId::lstReport), reports);
}

TEST_F(StationsShortcutTest, AProgramThatCannotStartIsReported) {
    PressCtrlT();
    ASSERT_GE(window_.Count(ListId::lstReport), 1);
    EXPECT_TRUE(window_.Entry(ListId::lstReport, 0).ends_with("  Can't open Stations Program"))
        << window_.Entry(ListId::lstReport, 0);
}

} // namespace
} // namespace veltaro
