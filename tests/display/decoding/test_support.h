// Shared by the display core tests: byte text, and the module state a packet
// parser sets before a report decoder runs. Folders, files and programs come
// from tests/support.
#pragma once

#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"
#include "tests/support/data_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace veltaro::testing {

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
