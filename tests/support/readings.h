// Exchange-file content through the display core with the data layer
// attached: what the outputs receive.
#pragma once

#include "display/data/reading_assembler.h"
#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harness {

// A reading with a copy of its packet (the assembler's own changes).
struct CollectedReading {
    veltaro::data::Reading reading;
    veltaro::data::Packet packet;
};

class ReadingCollector : public veltaro::data::ReadingOutput {
public:
    void OnRecord(std::string_view line) override { records.emplace_back(line); }
    void OnPacket(const veltaro::data::Packet& packet) override { packets.push_back(packet); }
    void OnReading(const veltaro::data::Reading& reading) override {
        readings.push_back({reading, *reading.packet});
        readings.back().reading.packet = nullptr;
    }

    std::vector<std::string> records;
    std::vector<veltaro::data::Packet> packets;
    std::vector<CollectedReading> readings;
};

// A registry from its CSV text, which must load without a problem.
inline veltaro::data::Registry registry_of(const std::string& text) {
    std::vector<veltaro::data::RegistryProblem> problems;
    veltaro::data::Registry registry = veltaro::data::Registry::Parse(text, problems);
    EXPECT_TRUE(problems.empty()) << problems.front().reason;
    return registry;
}

// One ingest cycle over content, shown at the given offset from UTC, with
// the outputs attached.
inline void decode_into(const std::string& content,
                        const std::vector<veltaro::data::ReadingOutput*>& outputs,
                        const veltaro::data::Registry* registry = nullptr,
                        const std::string& offset = "0") {
    veltaro::MemoryControls ui;
    ui.SetText(veltaro::TextBoxId::txtGMTOffset, offset);
    ui.SetOption(veltaro::OptionId::optUseOffset, true);
    veltaro::MStart m(ui);
    veltaro::data::ReadingAssembler assembler(registry);
    for (veltaro::data::ReadingOutput* output : outputs) {
        assembler.Attach(*output);
    }
    m.Sink = &assembler;
    veltaro::IngestExchangeText(m, content);
}

} // namespace harness
