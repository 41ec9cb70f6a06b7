#include "display/ui/single_instance.h"
#include "display/ui/splash.h"
#include "display/ui/version.h"
#include "ui_test_support.h"

#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace veltaro {
namespace {

TEST(SingleInstance, SecondClaimIsRefusedWithTheMessageUntilTheFirstEnds) {
    const QString path = InstanceLockPath();
    auto first = ClaimSingleInstance(path);
    ASSERT_NE(first, nullptr);

    test::MessageBoxAnswerer answerer;
    EXPECT_EQ(ClaimSingleInstance(path), nullptr);
    EXPECT_EQ(answerer.Text(), kAlreadyRunningText);

    first.reset();
    EXPECT_NE(ClaimSingleInstance(path), nullptr);
}

TEST(SingleInstance, RunningDisplayProcessRefusesUsAndItsLockDiesWithIt) {
    QTemporaryDir data;
    QProcess display;
    display.setProgram(VELTARO_BIN_DIR "/veltaro");
    display.setArguments({"--no-splash", "--data-dir", data.path()});
    display.start();
    ASSERT_TRUE(display.waitForStarted());
    ASSERT_TRUE(test::WaitFor([] { return QFile::exists(InstanceLockPath()); }));

    {
        test::MessageBoxAnswerer answerer;
        EXPECT_EQ(ClaimSingleInstance(InstanceLockPath()), nullptr);
        EXPECT_EQ(answerer.Text(), kAlreadyRunningText);
    }

    display.kill(); // a display that dies leaves its lock behind
    display.waitForFinished();
    EXPECT_NE(ClaimSingleInstance(InstanceLockPath()), nullptr);
}

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplay) {
    const struct {
        const char* option;
        QString expected;
    } cases[] = {
        {"--help", "--data-dir <DIR>"},
        {"-h", "--no-splash"},
        {"--version", QString("Veltaro ") + kVersion + "\n"},
    };
    QProcessEnvironment no_display = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        no_display.remove(name);
    }
    for (const auto& c : cases) {
        QProcess display;
        display.setProcessEnvironment(no_display);
        display.start(VELTARO_BIN_DIR "/veltaro", {c.option});
        ASSERT_TRUE(display.waitForFinished()) << c.option;
        EXPECT_EQ(display.exitStatus(), QProcess::NormalExit) << c.option;
        EXPECT_EQ(display.exitCode(), 0) << c.option;
        EXPECT_TRUE(QString::fromUtf8(display.readAllStandardOutput()).contains(c.expected))
            << c.option;
    }
}

class SplashTest : public testing::Test {
protected:
    void SetUp() override {
        splash_ = new FSplash(&main_);
        splash_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(splash_));
    }
    void TearDown() override { delete splash_.data(); }
    bool HandedOver() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return main_.isVisible() && splash_.isNull();
    }

    QWidget main_;
    QPointer<FSplash> splash_;
};

TEST_F(SplashTest, ModifierKeysAndLabelClicksDoNotHandOver) {
    QTest::keyClick(splash_, Qt::Key_Shift);
    QTest::keyClick(splash_, Qt::Key_Left);
    QTest::mouseClick(splash_->findChild<QLabel*>("lblVersion"), Qt::LeftButton);
    QTest::mouseClick(splash_->findChild<QLabel*>("Picture1"), Qt::LeftButton);
    EXPECT_FALSE(HandedOver());
}

TEST_F(SplashTest, CharacterKeyHandsOverAtOnce) {
    QTest::keyClick(splash_, Qt::Key_Escape);
    EXPECT_TRUE(HandedOver());
}

TEST_F(SplashTest, ClickOnFreeFrameAreaHandsOver) {
    QWidget* frame = splash_->findChild<QWidget*>("Frame1");
    QTest::mouseClick(frame, Qt::LeftButton, {}, QPoint(frame->width() / 2, frame->height() - 10));
    EXPECT_TRUE(HandedOver());
}

TEST_F(SplashTest, TimerHandsOverAfterFiveSeconds) {
    EXPECT_TRUE(test::WaitFor([this] { return HandedOver(); }, 30000));
}

} // namespace
} // namespace veltaro
