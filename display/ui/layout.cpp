#include "display/ui/layout.h"

#include <QStringList>

namespace veltaro {

namespace {

struct StandIn {
    const char* family;
    const char* stand_in;
};

// Liberation Sans has Arial's metrics. Nothing Debian ships has those of the
// narrow bitmap "MS Sans Serif"; Liberation Sans Narrow keeps every caption
// inside its control.
constexpr StandIn kStandIns[] = {
    {"Arial", "Liberation Sans"},
    {"MS Sans Serif", "Liberation Sans Narrow"},
};

} // namespace

QFont LayoutFont(const QString& family, int points, bool bold) {
    QFont font(family, points);
    font.setStyleHint(QFont::SansSerif);
    font.setBold(bold);
    for (const StandIn& entry : kStandIns) {
        if (family == entry.family) {
            font.setFamilies({QString(entry.stand_in), family});
        }
    }
    return font;
}

} // namespace veltaro
