#include "display/ui/port_combo.h"

namespace veltaro {

void PortComboBox::showPopup() {
    emit aboutToShowPopup();
    QComboBox::showPopup();
}

} // namespace veltaro
