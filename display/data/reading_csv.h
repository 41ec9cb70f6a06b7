// Readings as CSV (RFC 4180): a header row, then one row a reading.
#pragma once

#include "display/data/reading.h"

#include <ostream>

namespace veltaro::data {

class CsvReadingsWriter final : public ReadingOutput {
public:
    // Writes the header row at once.
    explicit CsvReadingsWriter(std::ostream& out);
    void OnReading(const Reading& reading) override;

private:
    std::ostream& out_;
};

} // namespace veltaro::data
