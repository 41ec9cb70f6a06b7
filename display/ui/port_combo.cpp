#include "display/ui/port_combo.h"

#include <QKeyEvent>
#include <QWheelEvent>

namespace veltaro {

namespace {
// The keys with which a closed combo box opens its list.
bool OpensList(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_F4:
    case Qt::Key_Space:
    case Qt::Key_Select:
        return true;
    case Qt::Key_Down:
        return (event.modifiers() & Qt::AltModifier) != 0;
    default:
        return false;
    }
}
} // namespace

void PortComboBox::showPopup() {
    emit aboutToShowPopup();
    QComboBox::showPopup();
}

void PortComboBox::keyPressEvent(QKeyEvent* event) {
    if (OpensList(*event)) {
        QComboBox::keyPressEvent(event);
    } else {
        event->ignore(); // Tab, Enter and the rest go on to the window
    }
}

void PortComboBox::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

} // namespace veltaro
