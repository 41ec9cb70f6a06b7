// Turns what the decoding core hands on into packets and readings as data:
// receive times with their milliseconds, link quality from the P records,
// the station registry's names and scaling; then hands them to every
// attached output.
#pragma once

#include "display/data/link_quality.h"
#include "display/data/reading.h"
#include "display/data/registry.h"
#include "display/decoding/reading_sink.h"

#include <vector>

namespace veltaro::data {

class ReadingAssembler final : public ReadingSink {
public:
    // The registry, when given, must outlive the assembler.
    explicit ReadingAssembler(const Registry* registry = nullptr) : registry_(registry) {}

    // Outputs receive everything in the order it is listed; each must
    // outlive the assembler.
    void Attach(ReadingOutput& output) { outputs_.push_back(&output); }

    void OnRecord(std::string_view line) override;
    void OnPacket(const PacketEvent& event) override;
    void OnReading(const ReadingEvent& event) override;
    void OnSliceKept() override;
    void OnSliceUndone() override;

private:
    const Registry* registry_;
    std::vector<ReadingOutput*> outputs_;
    LinkQualityMatcher link_quality_;
    Packet packet_; // the packet the next readings belong to
    bool have_packet_ = false;
    Reading reading_; // reused, so its tips keep their room
};

} // namespace veltaro::data
