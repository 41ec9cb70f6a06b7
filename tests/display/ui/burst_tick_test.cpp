// A tick that brings a burst of records: the lists are laid out and painted
// once at its end, and the message box shows the newest selected record. Both
// must hold however events run inside the cycle's trimming.
#include "display/decoding/procedures.h"
#include "display/ui/display_window.h"
#include "ui_test_support.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace veltaro {
namespace {

// Selected N records, source addresses 1..count, two report lines each
// (the record's report and the separator).
QByteArray Burst(int count) {
    QByteArray content;
    for (int source = 1; source <= count; ++source) {
        content += "N,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,5," + QByteArray::number(source) +
                   ",00,01,02,00,2A\r\r\n";
    }
    return content;
}

std::string Record(int source) {
    return "N,2015,05,03,14,07,9.2500,0,0,0,0,0,0,0,0,0,3,5," + std::to_string(source) +
           ",00,01,02,00,2A";
}

class BurstTickTest : public testing::Test {
protected:
    void SetUp() override {
        QSettings("Veltaro", "Veltaro").clear();
        // The whole burst in one tick, however slow the machine: the layout
        // and the message box at the tick's end are what is tested here.
        window_.Module().SliceTime = std::chrono::hours(1);
        window_.Load();
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }

    QListWidget* List(const char* name) { return window_.findChild<QListWidget*>(name); }
    QTimer* Timer() { return window_.findChild<QTimer*>("tmrCheck"); }

    // One tick, as the timer gives it.
    void Tick() {
        test::WriteFile(folder_.path() + "/SondrelMANTout.txt", Burst(1200));
        QMetaObject::invokeMethod(Timer(), "timeout", Qt::DirectConnection);
    }

    // The top entry is where a laid-out list draws its first row.
    static bool TopRowLaidOut(QListWidget* list) {
        const QRect first = list->visualItemRect(list->item(0));
        return first.isValid() && list->itemAt(first.center()) == list->item(0);
    }

    QTemporaryDir folder_;
    FDisplay window_{folder_.path(), folder_.path()};
};

TEST_F(BurstTickTest, ListsAreLaidOutAndPaintedAgainAfterTheTick) {
    Tick();
    for (const char* name : {"lstOutput", "lstMessage", "lstReport"}) {
        QListWidget* list = List(name);
        EXPECT_TRUE(list->updatesEnabled()) << name;
        EXPECT_TRUE(TopRowLaidOut(list)) << name;
    }
    EXPECT_EQ(List("lstOutput")->count(), 500);
    EXPECT_EQ(List("lstMessage")->count(), 1000);
    EXPECT_EQ(List("lstReport")->count(), 1000);
    EXPECT_EQ(window_.Text(TextBoxId::txtNMessage), Record(1200));
    EXPECT_EQ(window_.findChild<QLineEdit*>("txtNMessage")->text().toStdString(), Record(1200));
}

TEST_F(BurstTickTest, EventsInsideTheTrimmingSeeTheNewestRecordAndEndNothingEarly) {
    // Queued now, run by the trimming's event processing: a second tick
    // (which must start no cycle) and a reader of the message box.
    QMetaObject::invokeMethod(Timer(), "timeout", Qt::QueuedConnection);
    std::string seen;
    bool updates_during = true;
    QMetaObject::invokeMethod(
        &window_,
        [&] {
            seen = window_.Text(TextBoxId::txtNMessage);
            updates_during = List("lstReport")->updatesEnabled();
        },
        Qt::QueuedConnection);
    Tick();
    EXPECT_EQ(seen, Record(1200));
    EXPECT_FALSE(updates_during) << "the nested tick released the lists early";
    EXPECT_TRUE(List("lstReport")->updatesEnabled());
    EXPECT_TRUE(TopRowLaidOut(List("lstReport")));
    EXPECT_EQ(window_.findChild<QLineEdit*>("txtNMessage")->text().toStdString(), Record(1200));
}

TEST_F(BurstTickTest, ClearScreenDuringTheTrimmingLeavesTheBoxEmpty) {
    QMetaObject::invokeMethod(
        &window_,
        [&] { QTest::mouseClick(window_.findChild<QPushButton*>("cmdClear"), Qt::LeftButton); },
        Qt::QueuedConnection);
    Tick();
    EXPECT_EQ(window_.Text(TextBoxId::txtNMessage), "");
    EXPECT_EQ(window_.findChild<QLineEdit*>("txtNMessage")->text(), "");
}

} // namespace
} // namespace veltaro
