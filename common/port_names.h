// Serial port names shared by the decoder and the display.
//
// "COMn" names (any letter case, n >= 1) go through the port map: the folder
// Veltaro/ports/ under the user's configuration folder. An entry there named
// "COMn" (a link to a device or a pseudo-terminal) wins; otherwise COM1..COM8
// are /dev/ttyS0..7, COM9..COM16 /dev/ttyUSB0..7, COM17..COM24 /dev/ttyACM0..7.
// A name containing "/" is used as it stands; any other name is a path
// relative to the working folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace common {

// $XDG_CONFIG_HOME, or ~/.config when it is unset or empty.
std::filesystem::path config_home();

// config_home()/Veltaro/ports
std::filesystem::path port_map_folder();

// n for "COMn" (any case, decimal, n >= 1); nothing for any other name.
std::optional<int> com_port_number(std::string_view name);

// The fixed device of COM1..COM24 when the port map has no entry; empty beyond.
std::string default_com_device(int number);

// The path to open for a port name.
std::string resolve_port_name(std::string_view name);

} // namespace common
