// A drop-down combo box that says when its list is about to open, so the port
// list can be filled again from scratch each time.
#pragma once

#include <QComboBox>

namespace veltaro {

class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void aboutToShowPopup();
};

} // namespace veltaro
