#include "display/ui/data_folder.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace veltaro {

namespace {
bool WritableFolder(const QString& folder) {
    return QFileInfo(folder).isDir() && ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

QString UserDataHome() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    // Relative values are invalid for XDG and ignored.
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) {
        return xdg;
    }
    return QDir::homePath() + "/.local/share";
}
} // namespace

QString ResolveDataFolder(const QString& program_folder, const QString& requested) {
    QString folder;
    if (!requested.isEmpty()) {
        folder = QDir(requested).absolutePath();
    } else if (WritableFolder(program_folder)) {
        folder = QDir(program_folder).absolutePath();
    } else {
        folder = UserDataHome() + "/Veltaro";
    }
    QDir().mkpath(folder);
    return QDir::cleanPath(folder);
}

QString DataFolderProblem(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (::access(path.constData(), W_OK | X_OK) != 0) {
        return QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!QFileInfo(folder).isDir()) {
        return QString::fromLocal8Bit(std::strerror(ENOTDIR));
    }
    return {};
}

} // namespace veltaro
