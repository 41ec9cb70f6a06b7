// Shared by the display core tests: a scratch folder, whole-file reads, byte
// text, and the module state a packet parser sets before a report decoder runs.
#pragma once

#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace veltaro::testing {

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "veltaro-d-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
}

// "FF 38" -> "FF,38,": byte text as the packet parser hands it over.
inline std::string ByteText(const std::string& hex) {
    std::istringstream in(hex);
    std::string out;
    for (std::string pair; in >> pair;) {
        out += pair + ",";
    }
    return out;
}

// A report decoder called as the packet parser calls it, for a packet from
// source at 05/03/2015 14:00:10 with element type type.
class ReportDecoderTest : public ::testing::Test {
protected:
    using Decoder = void (*)(MStart&, std::string&, std::int16_t&);

    ReportDecoderTest(Decoder decoder, const std::string& source, std::int16_t type)
        : decoder_(decoder) {
        m.FieldSep = "\t";
        m.SourceAddress = source;
        m.ReportType = type;
        m.ReportTime = MakeDateTime(2015, 5, 3, 14, 0, 10);
    }

    // Decodes the body given as hex pairs; returns lstReport, top first.
    std::vector<std::string> Read(const std::string& hex) {
        std::string body = ByteText(hex);
        auto length = static_cast<std::int16_t>(body.size());
        decoder_(m, body, length);
        return ui.Lines(ListId::lstReport);
    }

    // "  <time>    <source>\t<type>\t<sensor>\t" with the time as given.
    std::string Prefix(int sensor, const std::string& time = "14:00:10") const {
        return "  05/03/2015  " + time + "    " + m.SourceAddress + "\t" +
               std::to_string(m.ReportType) + "\t" + std::to_string(sensor) + "\t";
    }

    MemoryControls ui;
    MStart m{ui};

private:
    Decoder decoder_;
};

} // namespace veltaro::testing
