// The real window as the window benchmarks set it up.
#pragma once

#include "display/ui/display_window.h"

namespace bench {

inline constexpr const char* kExchangeFile = "SondrelMANTout.txt";

// The default file names, as a first start without saved settings has them.
inline void use_default_names(veltaro::FDisplay& window) {
    window.SetText(veltaro::TextBoxId::txtInputFile, kExchangeFile);
    window.SetText(veltaro::TextBoxId::txtRawDataFile, "A2RawData.txt");
    window.SetText(veltaro::TextBoxId::txtMsgFile, "A2Headers.txt");
    window.SetText(veltaro::TextBoxId::txtReportFile, "A2Reports.txt");
}

} // namespace bench
