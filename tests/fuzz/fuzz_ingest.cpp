// The display's ingest cycle on arbitrary exchange-file content: listing,
// MANT headers, application packets, every report decoder and (with
// "Displayed") the three logs in a private folder. The first byte picks the
// options; the rest is the file's content.
#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

const std::string& LogFolder() {
    static const std::string folder = [] {
        char name[] = "/tmp/fuzz-ingest-XXXXXX";
        if (::mkdtemp(name) == nullptr) {
            std::abort();
        }
        return std::string(name);
    }();
    return folder;
}

void RemoveLogs() {
    for (const char* name : {"/A2RawData.txt", "/A2Headers.txt", "/A2Reports.txt"}) {
        ::unlink((LogFolder() + name).c_str());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    using namespace veltaro;
    MemoryControls controls(LogFolder());
    controls.SetText(TextBoxId::txtInputFile, "SondrelMANTout.txt");
    controls.SetText(TextBoxId::txtRawDataFile, "A2RawData.txt");
    controls.SetText(TextBoxId::txtMsgFile, "A2Headers.txt");
    controls.SetText(TextBoxId::txtReportFile, "A2Reports.txt");
    controls.SetText(TextBoxId::txtGMTOffset, (flags & 2) ? "-7" : "0");
    controls.SetText(TextBoxId::txtFilter, (flags & 4) ? "1234" : "");
    controls.SetOption(OptionId::optUseOffset, true);
    controls.SetOption((flags & 1) ? OptionId::optDisplayed : OptionId::OptSelected, true);

    MStart m(controls);
    const std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);
    IngestExchangeText(m, content);
    // A second cycle over the same text: state carried between cycles.
    if (flags & 8) {
        IngestExchangeText(m, content);
    }
    RemoveLogs();
    return 0;
}
