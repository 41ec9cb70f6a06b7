// Helpers for the end-to-end reliability tests: temporary folders, the real
// programs as child processes, and records read back from the files.
#pragma once

#include "tests/support/records.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace reliability {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline const std::string kBin = VELTARO_BIN_DIR;
inline const std::string kRunner = RELIABILITY_RUNNER;

using harness::Child;
using harness::mask_record;
using harness::read_file;
using harness::read_output;
using harness::spawn;
using harness::split_fields;
using harness::TempDir;
using harness::wait_exit;
using harness::wait_for;
using harness::write_file;

// Lines of a file ended by LF, without their trailing CRs; empty lines dropped.
inline std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(path));
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace reliability
