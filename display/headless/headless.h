// veltaro --headless: the display without a window, for a base-station server
// under systemd. It runs the window's ingest cycle on its decoder's records
// with the saved settings, logs every record as with "Displayed", keeps the
// lists in memory and writes every problem message to standard error.
#pragma once

#include "display/ui/command_line.h"

namespace veltaro {

// Runs until SIGTERM, SIGINT or SIGHUP (status 0) or until the decoder ends on
// its own (status 0 when it ended cleanly, else 1). Refusals at the start
// (another display running, the data folder locked or unusable, the decoder
// not started) give status 1.
int RunHeadless(const CommandLine& command_line);

} // namespace veltaro
