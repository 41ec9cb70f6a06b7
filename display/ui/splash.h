// FSplash: shown while the display starts; after five seconds, or at once on
// a key that types a character or a click on its free area, it shows the main
// window and goes away.
#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QTimer;

namespace veltaro {

class FSplash : public QWidget {
    Q_OBJECT
public:
    // main_window is shown at the hand-over; the splash deletes itself then.
    explicit FSplash(QWidget* main_window);

    void HandOver();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* main_window_;
    QGroupBox* Frame1 = nullptr;
    QLabel* Picture1 = nullptr;
    QTimer* tmrSplash = nullptr;
    bool handed_over_ = false;
};

// The product's 64 x 64 picture: a rain drop over a gauge.
QPixmap ProductPicture();

} // namespace veltaro
