// The packet state machine on arbitrary bytes: FEC with the real libfec, P
// and S records, the MANT stage. The first byte picks L (17..32); the rest is
// the receiver's stream, fed in pieces whose sizes the second byte picks, so
// that packets also break across feeds.
#include "decoder/fec.h"
#include "decoder/packet_receiver.h"
#include "decoder/records.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

namespace {

constexpr int kLengths = quorvel::kMaxFirstPayload - quorvel::kMinFirstPayload + 1;

// Codecs are made once per L: their set-up costs more than a short input.
quorvel::FecContext& CodecsFor(int first_payload) {
    static std::array<std::unique_ptr<quorvel::FecContext>, kLengths> contexts;
    auto& slot = contexts[static_cast<std::size_t>(first_payload - quorvel::kMinFirstPayload)];
    if (!slot) {
        slot = std::make_unique<quorvel::FecContext>();
        quorvel::init_fec(*slot, first_payload);
    }
    return *slot;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const int first_payload = quorvel::kMinFirstPayload + data[0] % kLengths;
    const std::size_t piece = 1 + data[1];

    quorvel::RecordOutput out;
    out.console = nullptr;
    int packets = 0;
    quorvel::PacketReceiver receiver(CodecsFor(first_payload), out, [&] { ++packets; });
    const std::span<const std::uint8_t> stream(data + 2, size - 2);
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        receiver.feed(stream.subspan(at, std::min(piece, stream.size() - at)));
    }
    // Every packet asks for its end-of-packet bytes once and leaves a record.
    if (packets > 0 && out.pending_records < static_cast<std::size_t>(packets)) {
        std::abort();
    }
    return 0;
}
