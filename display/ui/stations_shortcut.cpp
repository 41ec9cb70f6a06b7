#include "display/ui/stations_shortcut.h"

#include <QKeySequence>
#include <QProcess>
#include <QShortcut>
#include <QWidget>

namespace veltaro {

namespace {
constexpr const char* kStationsProgram = "veltaro-stations";
}

void AddStationsShortcut(QWidget& window, const QString& program_folder, const QString& data_folder,
                         std::function<void(const QString& reason)> failed) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), &window);
    shortcut->setObjectName("shortcutStations");
    QObject::connect(shortcut, &QShortcut::activated, &window,
                     [program_folder, data_folder, failed = std::move(failed)] {
                         QProcess process;
                         process.setProgram(program_folder + "/" + kStationsProgram);
                         process.setArguments({"--data-dir", data_folder});
                         process.setWorkingDirectory(data_folder);
                         if (!process.startDetached()) {
                             failed(process.errorString());
                         }
                     });
}

} // namespace veltaro
