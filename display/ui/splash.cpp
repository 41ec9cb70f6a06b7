#include "display/ui/splash.h"

#include "display/ui/layout.h"
#include "display/ui/version.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

namespace veltaro {

namespace {
constexpr int kSplashMs = 5000;
} // namespace

QPixmap ProductPicture() {
    QPixmap picture(64, 64);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath drop;
    drop.moveTo(32, 4);
    drop.cubicTo(20, 24, 12, 32, 12, 42);
    drop.arcTo(12, 22, 40, 40, 180, 180);
    drop.cubicTo(52, 32, 44, 24, 32, 4);
    painter.fillPath(drop, QColor(0x1f, 0x5f, 0xbf));
    painter.setPen(QPen(Qt::white, 3));
    painter.drawLine(22, 48, 42, 48);
    painter.drawLine(32, 30, 32, 48);
    return picture;
}

FSplash::FSplash(QWidget* main_window)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), main_window_(main_window) {
    setObjectName("FSplash");
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Px(7380), Px(4245));

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName("Frame1");
    Frame1->setGeometry(Layout(120, 120, 7080, 4050));
    Frame1->installEventFilter(this);

    Picture1 = new QLabel(Frame1);
    Picture1->setObjectName("Picture1");
    Picture1->setGeometry(Layout(120, 240, 975, 975));
    Picture1->setPixmap(ProductPicture());

    auto* title = new QLabel("Quorvel", Frame1);
    title->setObjectName("lblProductName");
    title->setGeometry(Layout(1440, 600, 5205, 555));
    title->setFont(LayoutFont("Arial", 24, true));

    auto* version = new QLabel(QString("Version ") + kVersion, Frame1);
    version->setObjectName("lblVersion");
    version->setGeometry(Layout(5400, 3600, 1410, 285));
    version->setFont(LayoutFont("Arial", 12, true));
    version->setAlignment(Qt::AlignRight | Qt::AlignTop);

    // Labels would pass their clicks on to the frame; only its free area counts.
    for (QLabel* label : {Picture1, title, version}) {
        label->setAttribute(Qt::WA_NoMousePropagation);
    }

    if (const QScreen* screen_now = screen()) {
        move(screen_now->geometry().center() - rect().center());
    }

    tmrSplash = new QTimer(this);
    tmrSplash->setObjectName("tmrSplash");
    tmrSplash->setSingleShot(true);
    connect(tmrSplash, &QTimer::timeout, this, &FSplash::HandOver);
    tmrSplash->start(kSplashMs);
}

void FSplash::HandOver() {
    if (handed_over_) {
        return;
    }
    handed_over_ = true;
    tmrSplash->stop();
    main_window_->show();
    main_window_->raise();
    main_window_->activateWindow();
    close();
}

void FSplash::keyPressEvent(QKeyEvent* event) {
    // Keys that type a character only; Shift or an arrow alone do nothing.
    if (!event->text().isEmpty()) {
        HandOver();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool FSplash::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Frame1 && event->type() == QEvent::MouseButtonPress) {
        HandOver();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace veltaro
