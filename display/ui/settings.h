// The nine settings kept from one run to the next in the per-user store
// (QSettings "Veltaro"/"Veltaro", group "Settings"). Each key is the name of
// the control that shows it; the controls are the live settings.
#pragma once

#include "display/decoding/controls.h"

#include <map>
#include <optional>
#include <string>

namespace veltaro {

inline constexpr const char* kDefaultDecoderName = "quorvel";

// Reads the store into the controls. Stops silently at a store that cannot be
// read or at an option key holding text that is no Boolean; the controls not
// reached keep their state.
void LoadSettings(Controls& ui);

// Writes every control's state under its key; a failing write is skipped.
void SaveSettings(Controls& ui);

// Writes the defaults to the store, then puts them into the controls.
void RestoreDefaults(Controls& ui);

// The keys of another group of the same store ("Feeds", "Archive"), as
// texts. Save Settings and Restore Defaults never write these groups.
std::map<std::string, std::string> LoadGroup(const char* group);

// The Boolean a stored option text stands for: "True"/"False" in any letter
// case, or a number (non-zero is true); nothing for any other text.
std::optional<bool> ParseBoolean(const std::string& text);

} // namespace veltaro
