// What a technician reads: every caption inside its control, list columns
// under their headings, readable disabled buttons, and the window sized and
// centred by its outer frame. Checked on the rendered pixels where that is
// what counts.
#include "display/ui/display_window.h"
#include "display/ui/splash.h"
#include "display/ui/version.h"
#include "ui_test_support.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSettings>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace veltaro {
namespace {

// The room a control leaves for its caption, and the caption's size there.
struct Caption {
    QString text;
    QRect room;
    QSize needed;
    int descent; // may be cut below the room without losing a letter
};

QRect ButtonRoom(const QAbstractButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    const bool radio = qobject_cast<const QRadioButton*>(&button) != nullptr;
    return button.style()->subElementRect(
        radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option, &button);
}

std::vector<Caption> Captions(const QWidget& root) {
    std::vector<Caption> captions;
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        const QFontMetrics metrics(label->font());
        const int flags =
            static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        // Trailing blanks of a heading are no ink.
        const QRect needed =
            metrics.boundingRect(label->contentsRect(), flags, label->text().trimmed());
        captions.push_back(
            {label->text(), label->contentsRect(), needed.size(), metrics.descent()});
    }
    for (const QAbstractButton* button : root.findChildren<QAbstractButton*>()) {
        const QFontMetrics metrics(button->font());
        captions.push_back({button->text(), ButtonRoom(*button),
                            metrics.size(Qt::TextSingleLine, button->text()), metrics.descent()});
    }
    for (const QGroupBox* frame : root.findChildren<QGroupBox*>()) {
        const QFontMetrics metrics(frame->font());
        captions.push_back({frame->title(), frame->contentsRect(),
                            metrics.size(Qt::TextSingleLine, frame->title()), metrics.descent()});
    }
    return captions;
}

class WindowLayoutTest : public testing::Test {
protected:
    void SetUp() override { QSettings("Veltaro", "Veltaro").clear(); }

    template <typename T = QWidget> T* Child(const char* name) {
        T* child = window_.findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    void ShowAndLoad() {
        window_.Load();
        window_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    }

    QTemporaryDir folder_;
    FDisplay window_{folder_.path(), folder_.path()};
};

TEST_F(WindowLayoutTest, EveryCaptionOfTheWindowAndTheSplashFitsItsControl) {
    ShowAndLoad();
    QWidget main;
    FSplash splash(&main);
    EXPECT_EQ(splash.findChild<QLabel*>("lblVersion")->text(), QString("Version ") + kVersion);

    int checked = 0;
    for (const QWidget* root : {static_cast<QWidget*>(&window_), static_cast<QWidget*>(&splash)}) {
        for (const Caption& c : Captions(*root)) {
            if (c.text.trimmed().isEmpty()) {
                continue;
            }
            ++checked;
            EXPECT_LE(c.needed.width(), c.room.width()) << c.text.toStdString();
            EXPECT_LE(c.needed.height() - c.descent, c.room.height()) << c.text.toStdString();
        }
    }
    EXPECT_GE(checked, 25); // every label, button, option and frame title
}

} // namespace
} // namespace veltaro
