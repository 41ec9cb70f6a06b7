// The decoder's start-up: log file and banner, between the command line and
// the receive loop.
#pragma once

#include "common/file_io.h"
#include "decoder/options.h"

#include <cstdio>

namespace quorvel {

// Opens the log named by -o for appending: created or emptied, a regular file
// only, never followed through a symbolic link. Without one, or when it cannot
// be created ("error on opening output logging file, data will not be
// logged\r\n" on out), returns no file and the decoder runs without a log.
fileio::Fd open_log(const DecoderConfig& config, std::FILE* out = stdout);

// The start-up banner; names the log only when it is open.
void print_banner(const DecoderConfig& config, bool log_open, std::FILE* out = stdout);

} // namespace quorvel
