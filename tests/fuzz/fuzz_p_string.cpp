// The MANT stage on arbitrary text: process_p_string must never read or write
// outside its buffers, whatever a P record claims. The first byte picks L.
#include "decoder/fec.h"
#include "decoder/mant.h"
#include "decoder/records.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    constexpr int kLengths = quorvel::kMaxFirstPayload - quorvel::kMinFirstPayload + 1;
    const int first_payload = quorvel::kMinFirstPayload + data[0] % kLengths;
    quorvel::RecordOutput out;
    out.console = nullptr;
    const std::string_view record(reinterpret_cast<const char*>(data + 1), size - 1);
    quorvel::process_p_string(record, first_payload, out);
    return 0;
}
