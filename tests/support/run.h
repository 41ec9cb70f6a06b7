// Runs a program to its end with its standard output and error captured.
#pragma once

#include "tests/support/harness.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace harness {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// `command` is a shell command line; its output is kept in `folder`.
inline RunResult run(const std::string& command, const TempDir& folder) {
    const std::string out = folder.file("run.out");
    const std::string err = folder.file("run.err");
    const int raw = std::system((command + " </dev/null >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(out), read_file(err)};
}

} // namespace harness
