// One display per data folder. Two displays on one folder would both claim the
// exchange file and roll back each other's logs, doubling lines in them. The
// lock is an flock on a small file in the folder: it holds across users and
// runtime folders, and the system releases it however the display ends.
#pragma once

#include <QString>

#include <memory>

namespace veltaro {

inline constexpr const char* kDataFolderLockName = ".veltaro-lock";

class DataFolderLock {
public:
    enum class State { Held, InUse, Failed };

    // Tries once, without waiting.
    explicit DataFolderLock(const QString& folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    State state() const { return state_; }
    // Why the lock is not held, for the user to read; empty when it is held.
    const QString& Problem() const { return problem_; }

private:
    int fd_ = -1;
    State state_ = State::Failed;
    QString problem_;
};

// The window's claim: a folder in use by another display is refused with a
// message box and gives nothing, so the program ends. Any other failure gives
// the unheld lock: the window runs and shows its Problem().
std::unique_ptr<DataFolderLock> ClaimDataFolder(const QString& folder);

} // namespace veltaro
