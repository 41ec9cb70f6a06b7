// Helpers for the end-to-end reliability tests: temporary folders, the real
// programs as child processes, and records read back from the files.
#pragma once

#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/support/data_folder.h"
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
using harness::read_lines;
using harness::read_output;
using harness::spawn;
using harness::split_fields;
using harness::TempDir;
using harness::wait_exit;
using harness::wait_for;
using harness::write_file;

// The display as the tests run it: default names, UTC, "Displayed".
inline void set_up_display(veltaro::MemoryControls& ui) {
    using namespace veltaro;
    ui.SetText(TextBoxId::txtInputFile, harness::kExchangeName);
    ui.SetText(TextBoxId::txtRawDataFile, harness::kRawLogName);
    ui.SetText(TextBoxId::txtMsgFile, harness::kHeaderLogName);
    ui.SetText(TextBoxId::txtReportFile, harness::kReportLogName);
    ui.SetText(TextBoxId::txtGMTOffset, "0");
    ui.SetOption(OptionId::optUseOffset, true);
    ui.SetOption(OptionId::optDisplayed, true);
}

// The decoder's records in cycles of 200, in one display core.
inline void write_reference_logs(const std::string& decoder_log, const std::string& folder) {
    veltaro::MemoryControls ui(folder);
    set_up_display(ui);
    veltaro::MStart m(ui);
    const std::string text = read_file(decoder_log);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        for (int i = 0; i < 200 && end != std::string::npos; ++i) {
            end = text.find("\r\r\n", end);
            end = end == std::string::npos ? end : end + 3;
        }
        end = end == std::string::npos ? text.size() : end;
        veltaro::IngestExchangeText(m, std::string_view(text).substr(start, end - start));
        start = end;
    }
}

} // namespace reliability
