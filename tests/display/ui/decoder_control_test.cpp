#include "common/port_names.h"
#include "display/ui/display_window.h"
#include "tests/support/pseudo_terminal.h"
#include "ui_test_support.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace veltaro {
namespace {

// A pseudo-terminal whose slave side the port map names as a COM port.
class MappedPty {
public:
    explicit MappedPty(const std::string& com_name) : link_(common::port_map_folder() / com_name) {
        std::filesystem::create_directories(link_.parent_path());
        std::filesystem::remove(link_);
        std::filesystem::create_symlink(pty_.device(), link_);
    }
    ~MappedPty() { std::filesystem::remove(link_); }
    const std::string& Device() const { return pty_.device(); }

private:
    harness::PseudoTerminal pty_;
    std::filesystem::path link_;
};

bool ProcessGone(qint64 pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH;
}

class DecoderControlTest : public testing::Test {
protected:
    void SetUp() override {
        QSettings("Veltaro", "Veltaro").clear();
        QDir().mkpath(data_folder_);
        // Records its arguments and working folder, then waits like a decoder.
        test::WriteScript(program_.path(), "recording-decoder",
                          "echo \"$*\" > args-$$.txt\npwd > pwd-$$.txt\nexec sleep 60\n");
        // Ignores SIGTERM, so only the kill ends it.
        test::WriteScript(program_.path(), "stubborn-decoder",
                          "trap '' TERM\nwhile :; do sleep 1; done\n");
        test::WriteScript(
            program_.path(), "failing-decoder",
            "echo Quorvel starting\nsleep 0.3\necho \"Can't open port $1\" >&2\nexit 3\n");
        window_.Load();
    }

    QComboBox* Ports() { return window_.findChild<QComboBox*>("cmbPortSelect"); }
    std::string TopReport() {
        return window_.Count(ListId::lstReport) > 0 ? window_.Entry(ListId::lstReport, 0) : "";
    }
    QStringList RecordedArguments() {
        QStringList lines;
        for (const QString& file :
             QDir(data_folder_).entryList({"args-*.txt"}, QDir::Files, QDir::Time)) {
            lines << QString::fromUtf8(test::ReadFile(data_folder_ + "/" + file)).trimmed();
        }
        lines.sort();
        return lines;
    }

    QTemporaryDir program_;
    QString data_folder_ = program_.path() + "/data";
    FDisplay window_{program_.path(), data_folder_};
};

TEST_F(DecoderControlTest, PortListHoldsOpenablePortsWithTheirDevices) {
    MappedPty pty("COM7");
    window_.FillPortList();

    auto* combo = window_.findChild<QComboBox*>("cmbPortSelect");
    int previous = 0;
    int com7 = -1;
    for (int i = 0; i < combo->count(); ++i) {
        const QString entry = combo->itemText(i);
        ASSERT_TRUE(entry.startsWith("COM")) << entry.toStdString();
        const int number = entry.mid(3).toInt();
        EXPECT_GT(number, previous); // increasing, each once
        previous = number;
        if (entry == "COM7") {
            com7 = i;
        }
    }
    ASSERT_GE(com7, 0);
    EXPECT_TRUE(combo->itemData(com7, Qt::ToolTipRole)
                    .toString()
                    .contains(QString::fromStdString(pty.Device())));
}

TEST_F(DecoderControlTest, ChoosingAPortStartsTheDecoderWithItsCommandLine) {
    MappedPty pty("COM12");
    window_.show();
    window_.SetText(TextBoxId::txtAppName, "recording-decoder -l decoder.log");
    window_.FillPortList();
    auto* combo = window_.findChild<QComboBox*>("cmbPortSelect");
    const int com12 = combo->findText("COM12");
    ASSERT_GE(com12, 0);
    ASSERT_FALSE(window_.findChild<QPushButton*>("cmdStart")->isEnabled());

    emit combo->activated(com12); // what choosing the entry raises
    window_.StartDecoder(2);

    EXPECT_TRUE(window_.findChild<QPushButton*>("cmdStart")->isEnabled());
    ASSERT_TRUE(test::WaitFor([&] { return RecordedArguments().size() == 2; }));
    EXPECT_EQ(RecordedArguments(),
              (QStringList{"-l decoder.log -pCOM12", "-l decoder.log -pCOM2"}));
    for (const QString& file : QDir(data_folder_).entryList({"pwd-*.txt"})) {
        ASSERT_TRUE(
            test::WaitFor([&] { return !test::ReadFile(data_folder_ + "/" + file).isEmpty(); }));
        EXPECT_EQ(QString::fromUtf8(test::ReadFile(data_folder_ + "/" + file)).trimmed(),
                  QDir(data_folder_).canonicalPath());
    }
    EXPECT_EQ(window_.Decoders().RunningProcessIds().size(), 2u);
    EXPECT_EQ(window_.Decoders().DecoderPath(),
              program_.path() + "/recording-decoder -l decoder.log");
}

TEST_F(DecoderControlTest, MissingDecoderProgramIsReportedAndStartStaysDisabled) {
    window_.show();
    window_.SetText(TextBoxId::txtAppName, "no-such-decoder");

    window_.StartDecoder(3);

    EXPECT_EQ(TopReport(), program_.path().toStdString() +
                               "/no-such-decoder: No such file or directory  Can't open Decoder "
                               "Program");
    EXPECT_FALSE(window_.findChild<QPushButton*>("cmdStart")->isEnabled());
    EXPECT_FALSE(window_.Decoders().AnyStarted());
}

TEST_F(DecoderControlTest, EndEndsEveryDecoderItStartedEvenOneIgnoringTerm) {
    window_.SetText(TextBoxId::txtAppName, "recording-decoder");
    window_.StartDecoder(1);
    window_.SetText(TextBoxId::txtAppName, "stubborn-decoder");
    window_.StartDecoder(2);
    const std::vector<qint64> pids = window_.Decoders().RunningProcessIds();
    ASSERT_EQ(pids.size(), 2u);
    QTest::qWait(300); // lets the stubborn one set its trap
    QSignalSpy ended(&window_, &FDisplay::ended);

    QTest::mouseClick(window_.findChild<QPushButton*>("cmdEnd"), Qt::LeftButton);

    EXPECT_EQ(ended.count(), 1);
    for (qint64 pid : pids) {
        EXPECT_TRUE(ProcessGone(pid)) << pid;
    }
    EXPECT_EQ(window_.Count(ListId::lstReport), 0); // ended by us: nothing to report
}

TEST_F(DecoderControlTest, ClosingTheWindowEndsItsDecoders) {
    window_.show();
    window_.SetText(TextBoxId::txtAppName, "recording-decoder");
    window_.StartDecoder(5);
    const std::vector<qint64> pids = window_.Decoders().RunningProcessIds();
    ASSERT_EQ(pids.size(), 1u);

    window_.close();

    EXPECT_TRUE(ProcessGone(pids.front()));
}

TEST_F(DecoderControlTest, EndBeforeAnyDecoderOrAfterOneEndedReportsNothing) {
    window_.CloseDecoder();
    window_.SetText(TextBoxId::txtAppName, "recording-decoder");
    window_.StartDecoder(1);
    const qint64 pid = window_.Decoders().RunningProcessIds().at(0);
    ::kill(static_cast<pid_t>(pid), SIGKILL); // closed by hand
    ASSERT_TRUE(test::WaitFor([&] { return window_.Decoders().RunningProcessIds().empty(); }));
    const int lines = window_.Count(ListId::lstReport);

    window_.CloseDecoder();

    EXPECT_EQ(window_.Count(ListId::lstReport), lines);
}

TEST_F(DecoderControlTest, DecoderEndingOnItsOwnIsReportedWithStatusAndLastLine) {
    window_.SetText(TextBoxId::txtAppName, "failing-decoder");
    window_.StartDecoder(9);

    ASSERT_TRUE(test::WaitFor([&] { return window_.Count(ListId::lstReport) > 0; }));
    EXPECT_EQ(TopReport(),
              "  Decoder Program on COM9 ended with exit status 3: Can't open port -pCOM9");
}

// The decoder's console repeats every record; only a message says why it ended.
TEST_F(DecoderControlTest, KilledDecoderIsReportedWithTheSignalNameAndNeverARecord) {
    const struct {
        const char* console;
        std::string report;
    } cases[] = {
        {"echo 'N,2026,01,02,0,0,0.0,0'",
         "  Decoder Program on COM9 was stopped by signal 9 (Killed)"},
        {"echo 'Lost serial port COM9' >&2",
         "  Decoder Program on COM9 was stopped by signal 9 (Killed): Lost serial port COM9"},
    };
    for (const auto& c : cases) {
        window_.Clear(ListId::lstReport);
        QFile::remove(data_folder_ + "/written");
        test::WriteScript(program_.path(), "killed-decoder",
                          QByteArray(c.console) + "\ntouch written\nexec sleep 60\n");
        window_.SetText(TextBoxId::txtAppName, "killed-decoder");
        ASSERT_TRUE(window_.Decoders().StartDecoder(9));
        ASSERT_TRUE(test::WaitFor([&] { return QFile::exists(data_folder_ + "/written"); }));
        for (qint64 pid : window_.Decoders().RunningProcessIds()) {
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
        ASSERT_TRUE(test::WaitFor([&] { return window_.Count(ListId::lstReport) > 0; }));
        EXPECT_EQ(TopReport(), c.report);
    }
}

TEST_F(DecoderControlTest, UnusableDataFolderIsShownAtStartAndNamedWhenADecoderCannotStart) {
    QTemporaryDir scratch;
    test::WriteFile(scratch.path() + "/file", "not a folder");
    const QString data = scratch.path() + "/file/data";
    FDisplay window(program_.path(), data);
    window.Load();
    ASSERT_EQ(window.Count(ListId::lstReport), 1);
    EXPECT_EQ(window.Entry(ListId::lstReport, 0),
              "Not a directory  Can't use data folder " + data.toStdString());
    EXPECT_TRUE(window.findChild<QLabel*>("lblDataFolder")->text().endsWith("(Not a directory)"));

    window.SetText(TextBoxId::txtAppName, "recording-decoder");
    window.StartDecoder(1);
    EXPECT_EQ(window.Entry(ListId::lstReport, 0),
              "Data folder " + data.toStdString() +
                  ": Not a directory  Can't open Decoder Program");
    EXPECT_FALSE(window.Decoders().AnyStarted());
}

// Only the opened, freshly filled list chooses a port, and so starts a decoder.
TEST_F(DecoderControlTest, OnlyAnEntryPickedFromTheOpenedListStartsADecoder) {
    MappedPty pty("COM7");
    window_.show();
    window_.SetText(TextBoxId::txtAppName, "recording-decoder");
    window_.FillPortList();
    QComboBox* combo = Ports();
    EXPECT_EQ(combo->currentIndex(), -1); // the box shows no port before one is picked
    EXPECT_EQ(combo->currentText(), "");

    for (int delta : {-120, 120, -120}) {
        QWheelEvent wheel(QPointF(5, 5), combo->mapToGlobal(QPointF(5, 5)), {}, {0, delta},
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &wheel);
    }
    for (Qt::Key key :
         {Qt::Key_Down, Qt::Key_Up, Qt::Key_PageDown, Qt::Key_End, Qt::Key_C, Qt::Key_Return}) {
        QTest::keyClick(combo, key);
    }
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_FALSE(window_.Decoders().AnyStarted());

    combo->showPopup();
    QAbstractItemView* list = combo->view();
    ASSERT_TRUE(test::WaitFor([&] { return list->isVisible(); }));
    list->setCurrentIndex(list->model()->index(combo->findText("COM7"), 0));
    QTest::keyClick(list, Qt::Key_Return);

    ASSERT_TRUE(test::WaitFor([&] { return RecordedArguments().size() == 1; }));
    EXPECT_EQ(RecordedArguments(), QStringList{"-pCOM7"});
    window_.FillPortList();
    EXPECT_EQ(combo->currentIndex(), -1);
}

// Exclusive opening does not stop root; the lock file named after the device
// does, also when the port is known by a port-map link.
TEST_F(DecoderControlTest, PortHeldByAnotherProgramIsLeftOutOfTheList) {
    MappedPty pty("COM7");
    window_.FillPortList();
    ASSERT_GE(Ports()->findText("COM7"), 0);

    {
        QSerialPort holder(QString::fromStdString(pty.Device()));
        ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();
        window_.FillPortList();
        EXPECT_EQ(Ports()->findText("COM7"), -1);
    }
    window_.FillPortList();
    EXPECT_GE(Ports()->findText("COM7"), 0);

    // The real decoder on the port-map name: its lock file is the one the
    // probe looks for.
    QProcess decoder;
    decoder.setWorkingDirectory(data_folder_);
    decoder.start(VELTARO_BIN_DIR "/quorvel", {"-pCOM7"});
    ASSERT_TRUE(decoder.waitForStarted());
    EXPECT_TRUE(test::WaitFor([&] {
        window_.FillPortList();
        return Ports()->findText("COM7") == -1;
    }));
    decoder.terminate();
    ASSERT_TRUE(decoder.waitForFinished(10000));
    window_.FillPortList();
    EXPECT_GE(Ports()->findText("COM7"), 0);
}

} // namespace
} // namespace veltaro
