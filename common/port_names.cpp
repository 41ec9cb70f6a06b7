#include "common/port_names.h"

#include <cstdlib>
#include <system_error>

namespace common {

std::filesystem::path config_home() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg != '\0') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "") / ".config";
}

std::filesystem::path port_map_folder() { return config_home() / "Veltaro" / "ports"; }

std::optional<int> com_port_number(std::string_view name) {
    if (name.size() < 4) {
        return std::nullopt;
    }
    for (int i = 0; i < 3; ++i) {
        if ((name[i] | 0x20) != "com"[i]) {
            return std::nullopt;
        }
    }
    long value = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
        if (value > 1'000'000) {
            return std::nullopt;
        }
    }
    if (value < 1) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

std::string default_com_device(int number) {
    static constexpr const char* kFamilies[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"};
    if (number < 1 || number > 24) {
        return {};
    }
    const int index = number - 1;
    return kFamilies[index / 8] + std::to_string(index % 8);
}

std::string resolve_port_name(std::string_view name) {
    if (name.find('/') != std::string_view::npos) {
        return std::string(name);
    }
    const std::optional<int> number = com_port_number(name);
    if (!number) {
        return std::string(name);
    }
    const std::filesystem::path entry = port_map_folder() / ("COM" + std::to_string(*number));
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(entry, ec))) {
        return entry.string();
    }
    const std::string device = default_com_device(*number);
    return device.empty() ? std::string(name) : device;
}

} // namespace common
