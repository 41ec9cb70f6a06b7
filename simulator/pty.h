// The simulator's end of a pseudo-terminal, and the port-map entry that lets
// programs find it under a "COMn" name.
#pragma once

#include <filesystem>
#include <string>

namespace sondrel {

class PseudoTerminal {
public:
    // Opens a new pair, raw (no echo, no line discipline changes of CR/LF) so
    // that the reader gets the bytes as sent and we get its bytes as written.
    // Throws std::system_error on failure.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return master_; }
    const std::string& device() const { return device_; }

    // True while some process holds the device side open.
    bool reader_present() const;

private:
    int master_ = -1;
    std::string device_;
};

// A symbolic link <port map folder>/COMn -> target for a name "COMn" in any
// letter case, removed again when the object goes, if it still points at the
// target.
class PortLink {
public:
    PortLink(const std::string& name, const std::string& target);
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::string target_;
};

} // namespace sondrel
