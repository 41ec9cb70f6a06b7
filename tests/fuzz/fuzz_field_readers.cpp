// The field readers and report decoders on arbitrary byte text, called
// directly so that inputs need no valid MANT header around them. The first
// byte picks the procedure; the rest is the text it reads.
#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <cstdint>
#include <exception>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    using namespace veltaro;
    MemoryControls controls("/nonexistent-fuzz-folder");
    controls.SetOption(OptionId::OptSelected, true);
    MStart m(controls);
    m.FieldSep = "\t";
    m.SourceAddress = "1234";
    m.ReceiveTime = 41794.85;
    m.ReportTime = 41794.85;

    const std::uint8_t selector = data[0];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::int16_t length = static_cast<std::int16_t>(text.size() / 3);
    // HexValue, TakeByte and ReadAppHeader report by throwing, as designed:
    // their callers trap. The report decoders must trap their own.
    try {
        switch (selector % 3) {
        case 0:
            (void)HexValue(text);
            break;
        case 1:
            (void)TakeByte(text);
            break;
        default:
            m.PayloadText = text;
            ReadAppHeader(m);
            break;
        }
    } catch (const std::exception&) {
    }
    std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    switch ((selector >> 2) % 6) {
    case 0:
        (void)ReadInteger(m, static_cast<std::int16_t>(1 + (selector >> 7)),
                          static_cast<std::int16_t>((selector >> 4) & 7), body);
        break;
    case 1:
        (void)ReadFloat(m, 3, body);
        break;
    case 2:
        ReadGSR(m, body, length);
        break;
    case 3:
        ReadRainReport(m, body, length);
        break;
    case 4:
        ReadMSR(m, body, length);
        break;
    case 5:
        ReadCompactReports(m, body);
        break;
    }
    return 0;
}
