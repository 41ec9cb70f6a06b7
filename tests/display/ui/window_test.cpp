#include "display/decoding/procedures.h"
#include "display/ui/display_window.h"
#include "ui_test_support.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace veltaro {
namespace {

class WindowTest : public test::WindowFixture {
protected:
    bool StartEnabled() { return Child<QPushButton>("cmdStart")->isEnabled(); }
    bool PauseEnabled() { return Child<QPushButton>("cmdPause")->isEnabled(); }
    bool Polling() { return Child<QTimer>("tmrCheck")->isActive(); }
    void Click(const char* button) {
        QTest::mouseClick(Child<QPushButton>(button), Qt::LeftButton);
    }
    void ResizeTo(int width, int height) {
        window_.resize(width, height);
        ASSERT_TRUE(test::WaitFor([&] { return window_.size() == QSize(width, height); }));
    }
    // A decoder that only waits, so that Start becomes available.
    void StartFakeDecoder() {
        test::WriteScript(folder_.path(), "waiting-decoder", "exec sleep 60\n");
        window_.SetText(TextBoxId::txtAppName, "waiting-decoder");
        window_.StartDecoder(4);
        ASSERT_EQ(window_.Decoders().RunningProcessIds().size(), 1u);
    }
};

TEST_F(WindowTest, ControlsSitWhereTheLayoutPutsThem) {
    struct Placed {
        const char* name;
        QRect pixels;
    };
    // Twips / 15; the controls the resize rules leave alone.
    const Placed placed[] = {
        {"lblVersion", {952, 8, 33, 17}},     {"fraSettings", {624, 256, 369, 289}},
        {"txtAppName", {96, 16, 265, 19}},    {"txtReportFile", {96, 112, 265, 19}},
        {"fraTime", {104, 136, 153, 73}},     {"optUseOffset", {8, 40, 97, 25}},
        {"txtGMTOffset", {120, 40, 25, 25}},  {"fraLogs", {272, 136, 89, 73}},
        {"optDisplayed", {8, 40, 73, 25}},    {"txtFilter", {32, 176, 49, 19}},
        {"cmbPortSelect", {32, 216, 65, 21}}, {"txtClock", {40, 264, 57, 17}},
        {"cmdStart", {128, 216, 89, 17}},     {"cmdEnd", {128, 264, 89, 17}},
        {"cmdClear", {240, 264, 89, 17}},     {"lblHeaderColumns", {32, 168, 1057, 25}},
    };
    for (const Placed& p : placed) {
        EXPECT_EQ(Child(p.name)->geometry(), p.pixels) << p.name;
    }
    EXPECT_EQ(window_.windowTitle(), "Quorvel" + QString(98, ' '));
    EXPECT_EQ(QString(kHeaderColumns).size(), 180);
    EXPECT_EQ(QString(kReportColumns).size(), 94);
    EXPECT_EQ(Child<QLabel>("lblHeaderColumns")->text(), kHeaderColumns);
    EXPECT_EQ(Child<QLabel>("lblReportColumns")->text(), kReportColumns);
    EXPECT_EQ(Child<QLabel>("lblVersion")->text(), "V 1.03");
    EXPECT_EQ(Child<QPushButton>("cmdDefaults")->text(), "Restore Defaults");
    EXPECT_EQ(Child<QGroupBox>("fraTime")->title(), "Time");
    EXPECT_TRUE(Child<QLabel>("lblDataFolder")->text().contains(folder_.path()));
    EXPECT_TRUE(Child<QListWidget>("lstReport")->font().bold());
    EXPECT_EQ(Child<QListWidget>("lstReport")->font().pointSize(), 12);
}

TEST_F(WindowTest, StartPauseAndResizeFollowTheStateTable) {
    ShowAndLoad();
    EXPECT_FALSE(Polling());
    EXPECT_FALSE(StartEnabled()); // the first showing is a resize
    EXPECT_TRUE(PauseEnabled());

    Click("cmdPause"); // even with no decoder running
    EXPECT_FALSE(Polling());
    EXPECT_TRUE(StartEnabled());
    EXPECT_FALSE(PauseEnabled());

    Click("cmdStart");
    EXPECT_TRUE(Polling());
    EXPECT_FALSE(StartEnabled());
    EXPECT_TRUE(PauseEnabled());

    Click("cmdPause");
    ResizeTo(900, 600); // no decoder started yet: resize disables Start
    EXPECT_FALSE(StartEnabled());
    EXPECT_FALSE(PauseEnabled());
    EXPECT_FALSE(Polling());

    StartFakeDecoder();
    EXPECT_TRUE(StartEnabled());
    Click("cmdStart");
    Click("cmdPause");
    ResizeTo(950, 650); // once a decoder runs, a paused display can still resume
    EXPECT_TRUE(StartEnabled());
    Click("cmdStart");
    ResizeTo(1000, 700);
    EXPECT_TRUE(Polling());
    EXPECT_FALSE(StartEnabled());
    EXPECT_TRUE(PauseEnabled());
}

TEST_F(WindowTest, ResizeSizesTheListsFromTheOuterSize) {
    ShowAndLoad();
    const QSize frame = window_.frameGeometry().size() - window_.size();
    struct Size {
        int outer_width, outer_height, report_height, wide;
    };
    // Report height = outer height - 5500 twips, never below 0; widths = outer - 525 twips.
    for (const Size s : {Size{1024, 600, 233, 989}, Size{700, 367, 0, 665}, Size{800, 300, 0, 765},
                         Size{1200, 900, 533, 1165}}) {
        ResizeTo(s.outer_width - frame.width(), s.outer_height - frame.height());
        EXPECT_EQ(Child("lstReport")->height(), s.report_height) << s.outer_height;
        EXPECT_EQ(Child("lstOutput")->width(), s.wide);
        EXPECT_EQ(Child("txtNMessage")->width(), s.wide);
        EXPECT_EQ(Child("lstMessage")->width(), s.wide);
        EXPECT_EQ(Child("lstReport")->width(), 601);
        EXPECT_EQ(Child("lstMessage")->height(), 64);
    }
}

TEST_F(WindowTest, OptionGroupsSelectOneAndClearingLeavesThePartner) {
    window_.SetOption(OptionId::optUseOffset, true);
    EXPECT_FALSE(window_.IsSelected(OptionId::optSystemTz));
    window_.SetOption(OptionId::optUseOffset, false);
    EXPECT_FALSE(window_.IsSelected(OptionId::optSystemTz));
    EXPECT_FALSE(window_.IsSelected(OptionId::optUseOffset));
    EXPECT_TRUE(window_.IsSelected(OptionId::OptSelected)); // the other group is independent

    ShowAndLoad();
    auto* displayed = Child<QRadioButton>("optDisplayed");
    QTest::mouseClick(displayed, Qt::LeftButton);
    QTest::mouseClick(displayed, Qt::LeftButton); // a second click does not clear it
    EXPECT_TRUE(window_.IsSelected(OptionId::optDisplayed));
    EXPECT_FALSE(window_.IsSelected(OptionId::OptSelected));
}

TEST_F(WindowTest, ClearScreenEmptiesListsAndMessageButNotSettings) {
    window_.Load();
    for (ListId list : {ListId::lstOutput, ListId::lstMessage, ListId::lstReport}) {
        window_.InsertTop(list, "  line");
    }
    window_.SetText(TextBoxId::txtNMessage, "N,1,2,3");
    window_.SetText(TextBoxId::txtFilter, "12");

    Click("cmdClear");

    for (ListId list : {ListId::lstOutput, ListId::lstMessage, ListId::lstReport}) {
        EXPECT_EQ(window_.Count(list), 0);
    }
    EXPECT_EQ(window_.Text(TextBoxId::txtNMessage), "");
    EXPECT_EQ(window_.Text(TextBoxId::txtFilter), "12");
}

TEST_F(WindowTest, ListEntriesKeepTheirBytesAndSelection) {
    const std::string odd_bytes = std::string("  S,\xff\x01", 6) + "end";
    window_.InsertTop(ListId::lstOutput, odd_bytes);
    window_.InsertTop(ListId::lstOutput, "  newer");
    EXPECT_EQ(window_.Entry(ListId::lstOutput, 1), odd_bytes);
    EXPECT_EQ(window_.SelectedIndex(ListId::lstOutput), -1);
    window_.SetSelected(ListId::lstOutput, 1, true);
    EXPECT_EQ(window_.SelectedIndex(ListId::lstOutput), 1);
    window_.SetSelected(ListId::lstOutput, 1, false);
    EXPECT_EQ(window_.SelectedIndex(ListId::lstOutput), -1);
    EXPECT_THROW(window_.Entry(ListId::lstOutput, 2), std::exception);
}

// The exchange file as the decoder writes it: records end with CR CR LF.
const QByteArray kExchange = "S,1,12/01/2024 10:00:00,Decoder started\r\r\n"
                             "P,12/01/2024 10:00:01,0,24,0,0,100,0,01,02\r\r\n";

TEST_F(WindowTest, TicksShowTheClockAndIngestTheExchangeFile) {
    ShowAndLoad();
    const QString exchange = folder_.path() + "/SondrelMANTout.txt";
    test::WriteFile(exchange, kExchange);
    EXPECT_EQ(window_.Text(TextBoxId::txtClock), ""); // no tick before Start

    Click("cmdPause");
    Click("cmdStart");

    ASSERT_TRUE(test::WaitFor([&] { return window_.Count(ListId::lstOutput) == 2; }));
    EXPECT_EQ(window_.Entry(ListId::lstOutput, 0).substr(0, 4), "  P,");
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$")
                    .match(QString::fromStdString(window_.Text(TextBoxId::txtClock)))
                    .hasMatch());
    EXPECT_TRUE(test::WaitFor([&] { return !QFile::exists(exchange); }));
}

TEST_F(WindowTest, DoubleClickLogsTheEntryOnce) {
    ShowAndLoad();
    IngestExchangeText(window_.Module(), kExchange.toStdString());
    ASSERT_EQ(window_.Count(ListId::lstOutput), 2);
    window_.InsertTop(ListId::lstReport, "  06/01/2024  10:00:00    123\t1\t10\t500");

    auto double_click = [&](const char* name, int row) {
        auto* list = Child<QListWidget>(name);
        const QPoint at = list->visualItemRect(list->item(row)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    };
    double_click("lstOutput", 1);
    double_click("lstReport", 0);
    double_click("lstOutput", 1); // already written: only a beep

    EXPECT_EQ(test::ReadFile(folder_.path() + "/A2RawData.txt"),
              "S,1,12/01/2024 10:00:00,Decoder started\r\n");
    EXPECT_EQ(test::ReadFile(folder_.path() + "/A2Reports.txt"),
              "06/01/2024  10:00:00    123,1,10,500,\r\n");
    EXPECT_EQ(window_.Entry(ListId::lstOutput, 1).substr(0, 4), "* S,");
    EXPECT_EQ(window_.Entry(ListId::lstOutput, 0).substr(0, 4), "  P,");
}

} // namespace
} // namespace veltaro
