// The decoder's receive path on arbitrary bytes: the packet state machine,
// FEC with the real libfec, P and S records, the MANT stage and the flush to
// an exchange file in a private folder. The first byte picks L (17..32); the
// rest is the receiver's stream, replayed as a recorded port.
#include "decoder/fec.h"
#include "decoder/receive.h"
#include "decoder/records.h"
#include "decoder/serial_port.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

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

const std::string& ExchangePath() {
    static const std::string path = [] {
        char folder[] = "/tmp/fuzz-receive-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            std::abort();
        }
        return std::string(folder) + "/exchange.txt";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const int first_payload = quorvel::kMinFirstPayload + data[0] % kLengths;

    const int fd = ::memfd_create("stream", MFD_CLOEXEC);
    if (fd < 0) {
        std::abort();
    }
    std::size_t done = 1;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            std::abort();
        }
        done += static_cast<std::size_t>(n);
    }
    ::lseek(fd, 0, SEEK_SET);

    quorvel::Port port;
    port.fd = fd;
    port.recorded = true;
    port.device = "fuzz-stream";
    quorvel::RecordOutput out;
    out.exchange_path = ExchangePath();
    out.console = nullptr;
    quorvel::run_receive_loop(port, CodecsFor(first_payload), out);
    ::close(fd);
    ::unlink(ExchangePath().c_str());
    return 0;
}
