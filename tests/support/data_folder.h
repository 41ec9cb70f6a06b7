// The display's data folder as tests lay it out: the default names, and the
// entries someone else who can write the folder may leave under those names.
#pragma once

#include "tests/support/harness.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace harness {

inline const std::string kExchangeName = "SondrelMANTout.txt";
inline const std::string kRawLogName = "A2RawData.txt";
inline const std::string kHeaderLogName = "A2Headers.txt";
inline const std::string kReportLogName = "A2Reports.txt";

// A regular file outside the names in use, whose content must never change.
inline const std::string kOutsideName = "outside.txt";
inline const std::string kOutsideText = "outside: never to change\n";

// What someone else can put under a name, by the kind the programs must name
// when they refuse it.
struct ForeignEntry {
    const char* kind;
    void (*make)(const fs::path& path, const fs::path& outside);
};

inline const ForeignEntry kForeignEntries[] = {
    {"a symbolic link", [](const fs::path& p, const fs::path& o) { fs::create_symlink(o, p); }},
    {"a folder", [](const fs::path& p, const fs::path&) { fs::create_directory(p); }},
    {"a pipe",
     [](const fs::path& p, const fs::path&) {
         if (::mkfifo(p.c_str(), 0600) != 0) {
             throw std::runtime_error("mkfifo failed");
         }
     }},
    {"a socket",
     [](const fs::path& p, const fs::path&) {
         const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::snprintf(address.sun_path, sizeof address.sun_path, "%s", p.c_str());
         const int bound = ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
         ::close(sock);
         if (bound != 0) {
             throw std::runtime_error("bind failed");
         }
     }},
};

// Puts the outside file in folder and returns its path.
inline fs::path make_outside_file(const fs::path& folder) {
    write_file(folder / kOutsideName, kOutsideText);
    return folder / kOutsideName;
}

} // namespace harness
