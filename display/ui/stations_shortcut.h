// Ctrl+T in the display's window opens the stations screen: veltaro-stations
// from the display's program folder, on the same data folder, as a program
// of its own that outlives the display if the user keeps it open.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace veltaro {

// `failed` receives the reason when the program cannot be started.
void AddStationsShortcut(QWidget& window, const QString& program_folder, const QString& data_folder,
                         std::function<void(const QString& reason)> failed);

} // namespace veltaro
