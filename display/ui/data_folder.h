// The folder the display and the decoder meet in: the exchange file and the
// display's logs live there, and the decoder runs with it as working folder.
#pragma once

#include <QString>

namespace veltaro {

// requested (from --data-dir) when given; else program_folder when writable
// (a build tree or a portable install); else $XDG_DATA_HOME/Veltaro, by
// default ~/.local/share/Veltaro. The folder is created when missing.
QString ResolveDataFolder(const QString& program_folder, const QString& requested);

// Why the display and the decoder cannot work in folder (the system's
// description, e.g. "Permission denied"), or empty when they can.
QString DataFolderProblem(const QString& folder);

} // namespace veltaro
