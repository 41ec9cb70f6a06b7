#include "display/decoding/procedures.h"

#include <cstdlib>
#include <exception>
#include <stdexcept>

namespace veltaro {

namespace {

constexpr long long kHalfDay = 43200;
constexpr long long kSixHours = 21600;

// The digits of one time stamp byte: the text from `start` up to the next comma.
std::string_view StampDigits(std::string_view payload, std::size_t start, std::size_t& comma) {
    comma = start <= payload.size() ? payload.find(',', start) : std::string_view::npos;
    if (comma == std::string_view::npos) {
        throw std::runtime_error("The packet ends before its time stamp");
    }
    return payload.substr(start, comma - start);
}

} // namespace

void ComputeReportTime(MStart& m) {
    try {
        std::size_t first_comma = 0;
        std::size_t second_comma = 0;
        const std::string_view high = StampDigits(m.PayloadText, 3, first_comma);
        const std::string_view low = StampDigits(m.PayloadText, first_comma + 1, second_comma);
        const auto stamp = static_cast<long long>(HexValue(high) * 256 + HexValue(low));

        // Decided in whole seconds, so floating-point noise never moves a
        // report across the six-hour boundary.
        const long long received = ToWholeSeconds(m.ReceiveTime);
        long long report = FloorDiv(received, kHalfDay) * kHalfDay + stamp;
        if (std::llabs(report - received) >= kSixHours) {
            report -= kHalfDay;
        }
        m.ReportTime = FromWholeSeconds(report + static_cast<long long>(m.GmtOffsetHours) * 3600);
    } catch (const std::exception& e) {
        ReportProblem(m, e.what(), "  Problem calculating report time");
    }
}

} // namespace veltaro
