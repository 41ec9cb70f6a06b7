// What a technician reads: every caption inside its control, list columns
// under their headings, readable disabled buttons, and the window sized and
// centred by its outer frame. Checked on the rendered pixels where that is
// what counts.
#include "display/ui/display_window.h"
#include "display/ui/layout.h"
#include "display/ui/splash.h"
#include "display/ui/version.h"
#include "ui_test_support.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
    const auto add = [&](const QWidget& control, const QString& text, QRect room) {
        const QFontMetrics metrics(control.font());
        captions.push_back({text, room, metrics.size(Qt::TextSingleLine, text), metrics.descent()});
    };
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
        add(*button, button->text(), ButtonRoom(*button));
    }
    for (const QGroupBox* frame : root.findChildren<QGroupBox*>()) {
        add(*frame, frame->title(), frame->contentsRect());
    }
    return captions;
}

// WCAG relative luminance of a colour.
double Luminance(QColor colour) {
    auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double Contrast(QColor a, QColor b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of a button's caption with its face, as drawn: the face is the
// median pixel of the caption's room, the caption the shade its darkest 2%
// reach (a smoothed stroke is lighter than its pen).
double CaptionContrast(QPushButton& button) {
    const QImage image = button.grab().toImage();
    const QRect room = ButtonRoom(button);
    std::vector<int> greys;
    for (int y = room.top(); y <= room.bottom(); ++y) {
        for (int x = room.left(); x <= room.right(); ++x) {
            greys.push_back(qGray(image.pixel(x, y)));
        }
    }
    std::sort(greys.begin(), greys.end());
    const auto shade = [](int grey) { return QColor(grey, grey, grey); };
    return Contrast(shade(greys[greys.size() / 2]), shade(greys[greys.size() / 50]));
}

// Where runs of dark pixels start along a band of the image, left to right.
std::vector<int> InkStarts(const QImage& image, QRect band) {
    std::vector<int> starts;
    bool in_ink = false;
    for (int x = band.left(); x <= band.right(); ++x) {
        bool ink = false;
        for (int y = band.top(); y <= band.bottom() && !ink; ++y) {
            ink = qGray(image.pixel(x, y)) < 96;
        }
        if (ink && !in_ink) {
            starts.push_back(x);
        }
        in_ink = ink;
    }
    return starts;
}

using WindowLayoutTest = test::WindowFixture;

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

TEST_F(WindowLayoutTest, EveryColumnAfterATabStartsUnderItsHeadingWord) {
    ShowAndLoad();
    const QString eleven_columns = QString("\t8").repeated(11);
    const struct {
        ListId list;
        const char* list_name;
        const char* heading;
        std::vector<QString> words; // the words over the columns that follow a TAB
        QString line;
    } cases[] = {
        {ListId::lstMessage,
         "lstMessage",
         "lblHeaderColumns",
         {"Source", "Add Path", "Hop Limit", "Pkt  ID", "Test Msg", "Bytes", "Path 1", "Path 2",
          "Path3", "Path 4", "Path 5"},
         "  05/03/2015  14:00:10" + eleven_columns},
        {ListId::lstReport,
         "lstReport",
         "lblReportColumns",
         {"Type", "Sensor", "Value"},
         "  05/03/2015  14:00:10    1234\t8\t8\t8"},
    };
    for (const auto& c : cases) {
        window_.InsertTop(c.list, c.line.toStdString());
    }
    const QImage image = window_.grab().toImage();

    for (const auto& c : cases) {
        auto* list = Child<QListWidget>(c.list_name);
        auto* heading = Child<QLabel>(c.heading);
        const QRect row = list->visualItemRect(list->item(0));
        const QRect band(list->viewport()->mapTo(&window_, row.topLeft()), row.size());
        const std::vector<int> ink = InkStarts(image, band);
        ASSERT_GE(ink.size(), c.words.size()) << c.list_name;
        // Each "8" is one run of ink; the columns are the last runs of the row.
        const std::size_t first = ink.size() - c.words.size();
        const QFontMetrics metrics(heading->font());
        for (std::size_t i = 0; i < c.words.size(); ++i) {
            const QString text = heading->text();
            const int word_x = metrics.horizontalAdvance(text.left(text.indexOf(c.words[i])));
            const int heading_x = heading->mapTo(&window_, QPoint(word_x, 0)).x();
            EXPECT_NEAR(ink[first + i], heading_x, 3) << c.words[i].toStdString();
        }
    }
}

TEST_F(WindowLayoutTest, DisabledButtonCaptionsStayReadable) {
    ShowAndLoad();
    auto* start = Child<QPushButton>("cmdStart");
    auto* pause = Child<QPushButton>("cmdPause");
    ASSERT_FALSE(start->isEnabled()); // as after the first showing
    EXPECT_GE(CaptionContrast(*start), 3.0);
    QTest::mouseClick(pause, Qt::LeftButton);
    ASSERT_FALSE(pause->isEnabled());
    EXPECT_GE(CaptionContrast(*pause), 3.0);
    EXPECT_GE(CaptionContrast(*start), 3.0); // and enabled
}

// The offscreen platform frames windows with two pixels on every side.
TEST_F(WindowLayoutTest, OuterWidthCentringAndReportListCountTheFrame) {
    ShowAndLoad();
    ASSERT_TRUE(test::WaitFor([&] { return window_.frameGeometry() != window_.geometry(); }));
    ASSERT_TRUE(test::WaitFor([&] { return window_.frameGeometry().width() == 1024; }));
    const QRect outer = window_.frameGeometry();
    const QRect screen = window_.screen()->geometry();
    EXPECT_NEAR(outer.left() - screen.left(), (screen.width() - outer.width()) / 2.0, 1);
    EXPECT_NEAR(outer.top() - screen.top(), (screen.height() - outer.height()) / 2.0, 1);
    EXPECT_EQ(Child("lstReport")->height(), Px(Twips(outer.height()) - 5500));
    EXPECT_EQ(Child("lstMessage")->width(), Px(Twips(outer.width()) - 525));
}

} // namespace
} // namespace veltaro
