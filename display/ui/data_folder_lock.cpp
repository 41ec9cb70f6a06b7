#include "display/ui/data_folder_lock.h"

#include <QFile>
#include <QMessageBox>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltaro {

namespace {
constexpr const char* kCantLock = "  Can't lock the data folder ";

// Anyone who can write the folder may have put a link, a pipe or a folder
// under the lock's name: never follow a link, never wait on a pipe.
int OpenLockFile(const QByteArray& path) {
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int created = ::open(path.constData(), kFlags | O_CREAT | O_EXCL, 0644);
    if (created >= 0) {
        // Readable by all whatever the umask, so a display run by another
        // user of a shared folder can take the same lock.
        ::fchmod(created, 0644);
        return created;
    }
    return errno == EEXIST ? ::open(path.constData(), kFlags) : -1;
}

QString Description(int error, const QString& lock_path) {
    // A link gives ELOOP; a socket, or a pipe nobody reads, ENXIO.
    if (error == ELOOP || error == ENXIO) {
        return "Not a regular file: " + lock_path;
    }
    return QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

DataFolderLock::DataFolderLock(const QString& folder) {
    const QString lock_path = folder + "/" + kDataFolderLockName;
    const auto fail = [&](const QString& description) {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        state_ = State::Failed;
        problem_ = description + kCantLock + folder;
    };

    fd_ = OpenLockFile(QFile::encodeName(lock_path));
    if (fd_ < 0) {
        fail(Description(errno, lock_path));
        return;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        fail(Description(errno, lock_path));
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        fail("Not a regular file: " + lock_path);
        return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            ::close(fd_);
            fd_ = -1;
            state_ = State::InUse;
            problem_ = "The data folder " + folder + " is in use by another Veltaro";
            return;
        }
        fail(Description(errno, lock_path));
        return;
    }
    state_ = State::Held;
}

DataFolderLock::~DataFolderLock() {
    if (fd_ >= 0) {
        ::close(fd_); // releases the lock; the file stays for the next display
    }
}

std::unique_ptr<DataFolderLock> ClaimDataFolder(const QString& folder) {
    auto lock = std::make_unique<DataFolderLock>(folder);
    if (lock->state() != DataFolderLock::State::InUse) {
        return lock;
    }
    std::fprintf(stderr, "veltaro: %s\n", lock->Problem().toLocal8Bit().constData());
    QMessageBox box(QMessageBox::Information, "Veltaro", lock->Problem(), QMessageBox::Ok);
    box.exec();
    return nullptr;
}

} // namespace veltaro
