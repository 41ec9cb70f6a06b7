// One display per user: a second start is refused with a message.
#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace veltaro {

inline constexpr const char* kAlreadyRunningText = "Veltaro is already running on this computer";

// veltaro.lock in the user's runtime folder.
QString InstanceLockPath();

// The held lock when no other instance runs; otherwise nothing.
std::unique_ptr<QLockFile> TryClaimSingleInstance(const QString& lock_path);

// The same for the window: a refusal shows the message, waits until the user
// closes it and returns nothing.
std::unique_ptr<QLockFile> ClaimSingleInstance(const QString& lock_path);

} // namespace veltaro
