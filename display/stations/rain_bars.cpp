#include "display/stations/rain_bars.h"

#include "display/data/numbers.h"

#include <QDateTime>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace veltaro::stations {

namespace {

// Room around the plot for the axis labels and the title.
constexpr int kLeft = 56;
constexpr int kRight = 12;
constexpr int kTop = 24;
constexpr int kBottom = 34;
// A time label under every sixth hour that ends on the local clock's 0, 6, 12 or 18.
constexpr int kLabelEveryHours = 6;

const QColor kBar(0x2E, 0x6F, 0xB5);
const QColor kUnknown(0xC0, 0xC0, 0xC0);
const QColor kGrid(0xE0, 0xE0, 0xE0);

QString Number(double value) {
    return QString::fromStdString(data::NumberText(data::RoundSignificant(value, 6)));
}

} // namespace

double AxisTop(double value) {
    if (!(value > 0)) {
        return 1;
    }
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= value * (1 - 1e-12)) {
            return step * power;
        }
    }
    return 10 * power;
}

RainBars::RainBars(QWidget* parent) : QWidget(parent) {
    setObjectName("rainBars");
    setMinimumHeight(160);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
}

void RainBars::SetHours(std::vector<data::HourOfRain> hours, const QString& station,
                        const QString& units) {
    hours_ = std::move(hours);
    station_ = station;
    units_ = units;
    update();
}

void RainBars::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (hours_.empty()) {
        painter.drawText(rect(), Qt::AlignCenter,
                         station_.isEmpty() ? QString() : "No rain gauge at " + station_);
        return;
    }
    double most = 0;
    double total = 0;
    for (const data::HourOfRain& hour : hours_) {
        most = std::max(most, hour.rain);
        total += hour.rain;
    }
    const double top = AxisTop(most);
    const QRect plot(kLeft, kTop, std::max(1, width() - kLeft - kRight),
                     std::max(1, height() - kTop - kBottom));
    painter.drawText(QRect(kLeft, 2, plot.width(), kTop - 4), Qt::AlignLeft | Qt::AlignVCenter,
                     QString("%1: hourly rain, last %2 hours (%3), %4 in all")
                         .arg(station_)
                         .arg(hours_.size())
                         .arg(units_, Number(total)));
    PaintAxes(painter, plot, top);
    PaintBars(painter, plot, top);
}

void RainBars::PaintAxes(QPainter& painter, const QRect& plot, double top) const {
    const QFontMetrics metrics(painter.font());
    for (const double fraction : {0.0, 0.5, 1.0}) {
        const int y = plot.bottom() - qRound(fraction * plot.height());
        painter.setPen(fraction > 0 ? kGrid : Qt::black);
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, y - metrics.height() / 2, kLeft - 6, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, Number(fraction * top));
    }
    const double slot = static_cast<double>(plot.width()) / static_cast<double>(hours_.size());
    for (std::size_t i = 0; i < hours_.size(); ++i) {
        const QDateTime end = QDateTime::fromSecsSinceEpoch(hours_[i].end).toLocalTime();
        if (end.time().minute() != 0 || end.time().hour() % kLabelEveryHours != 0) {
            continue;
        }
        const int x = plot.left() + qRound(slot * static_cast<double>(i + 1));
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + 4);
        const QString label = end.toString(end.time().hour() == 0 ? "ddd d" : "HH:mm");
        painter.drawText(QRect(x - 40, plot.bottom() + 6, 80, metrics.height()), Qt::AlignCenter,
                         label);
    }
}

void RainBars::PaintBars(QPainter& painter, const QRect& plot, double top) const {
    const double slot = static_cast<double>(plot.width()) / static_cast<double>(hours_.size());
    for (std::size_t i = 0; i < hours_.size(); ++i) {
        const int left = plot.left() + qRound(slot * static_cast<double>(i));
        const int right = plot.left() + qRound(slot * static_cast<double>(i + 1)) - 1;
        const int width = std::max(1, right - left);
        if (!hours_[i].known) {
            painter.fillRect(left, plot.bottom() + 1, width, 3, kUnknown);
        }
        const int height = qRound(hours_[i].rain / top * plot.height());
        if (height > 0) {
            painter.fillRect(left, plot.bottom() - height, width, height, kBar);
        }
    }
}

} // namespace veltaro::stations
