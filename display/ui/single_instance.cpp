#include "display/ui/single_instance.h"

#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>

#include <cerrno>
#include <signal.h>

namespace veltaro {

namespace {
// A lock left behind by a display that died on this computer.
bool HolderIsGone(const QLockFile& lock) {
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application) || pid <= 0) {
        return false;
    }
    return ::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH;
}
} // namespace

QString InstanceLockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return folder + "/veltaro.lock";
}

std::unique_ptr<QLockFile> TryClaimSingleInstance(const QString& lock_path) {
    auto lock = std::make_unique<QLockFile>(lock_path);
    // A display runs for weeks: its lock must never go stale by age.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        return lock;
    }
    if (HolderIsGone(*lock)) {
        lock->removeStaleLockFile();
        if (lock->tryLock(0)) {
            return lock;
        }
    }
    return nullptr;
}

std::unique_ptr<QLockFile> ClaimSingleInstance(const QString& lock_path) {
    if (auto lock = TryClaimSingleInstance(lock_path)) {
        return lock;
    }
    QMessageBox box(QMessageBox::Information, "Veltaro", kAlreadyRunningText, QMessageBox::Ok);
    box.exec();
    return nullptr;
}

} // namespace veltaro
