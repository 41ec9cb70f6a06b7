// The decoder's command line.
#pragma once

#include <optional>
#include <string>

namespace quorvel {

struct DecoderConfig {
    std::string port_name = "COM2";
    std::string exchange_file = "SondrelMANTout.txt";
    std::optional<std::string> log_file;
    int first_payload = 24; // L, 17..32
};

// Parses argv[1..]. On rejection writes "Bad first blk len: %d\r\n" to stderr
// where the -l value was bad, prints the usage text to stdout and returns
// nothing (the caller exits 1).
std::optional<DecoderConfig> parse_command_line(int argc, const char* const* argv);

void print_usage();

} // namespace quorvel
