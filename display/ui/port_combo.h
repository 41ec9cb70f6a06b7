// The port list: a drop-down combo box that says when its list is about to
// open, so the ports can be probed again each time, and that chooses an entry
// only from its opened list. Choosing starts a decoder, so the wheel, arrow
// keys and typed letters on the closed box, which would step through the
// entries, choose nothing.
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

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

} // namespace veltaro
