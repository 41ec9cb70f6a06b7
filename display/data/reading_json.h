// Readings as JSON: one object a reading, the same for JSON Lines output and
// the network feeds (docs/readings.schema.json describes it).
#pragma once

#include "display/data/reading.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

namespace veltaro::data {

nlohmann::ordered_json ReadingJson(const Reading& reading);
// The object as one line of text, LF-ended; bytes that are not UTF-8 are replaced.
std::string ReadingJsonLine(const Reading& reading);

// JSON Lines: one object a line, LF-ended.
class JsonLinesWriter final : public ReadingOutput {
public:
    explicit JsonLinesWriter(std::ostream& out) : out_(out) {}
    void OnReading(const Reading& reading) override;

private:
    std::ostream& out_;
};

} // namespace veltaro::data
