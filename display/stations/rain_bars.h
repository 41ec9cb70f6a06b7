// A station's hourly rain as bars, oldest hour on the left: each bar one
// clock hour, its height the rain in it. Hours whose rain cannot be known
// (no report on one side) are marked under the axis.
#pragma once

#include "display/data/station_table.h"

#include <QString>
#include <QWidget>

#include <vector>

class QPainter;

namespace veltaro::stations {

class RainBars : public QWidget {
public:
    explicit RainBars(QWidget* parent = nullptr);

    // station: what the title names; units: the rain's units; no hours:
    // "no rain gauge".
    void SetHours(std::vector<data::HourOfRain> hours, const QString& station,
                  const QString& units);
    const std::vector<data::HourOfRain>& Hours() const { return hours_; }

    QSize sizeHint() const override { return {640, 220}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintAxes(QPainter& painter, const QRect& plot, double top) const;
    void PaintBars(QPainter& painter, const QRect& plot, double top) const;

    std::vector<data::HourOfRain> hours_;
    QString station_;
    QString units_;
};

// The smallest of 1, 2 and 5 times a power of ten that is at least value
// (1 for nothing): the top of the rain axis.
double AxisTop(double value);

} // namespace veltaro::stations
