// The decoder's command line.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace quorvel {

struct DecoderConfig {
    std::string port_name = "COM2";
    std::string exchange_file = "SondrelMANTout.txt";
    std::optional<std::string> log_file;
    int first_payload = 24; // L, 17..32
};

constexpr int kExitUsage = 1;
constexpr int kExitHelp = 0;
constexpr int kExitPortFailure = 1;

// What the command line asks for: a run with config, or else an end with
// exit_status after the usage text.
struct CommandLine {
    std::optional<DecoderConfig> config;
    int exit_status = kExitUsage;
};

// Parses argv[1..]. "--help" or "-h" prints the usage text to out and ends
// with kExitHelp. On rejection writes "Bad first blk len: %d\r\n" to err where
// the -l value was bad, prints the usage text to out and ends with kExitUsage.
CommandLine parse_command_line(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

// The same on stdout and stderr.
CommandLine parse_command_line(int argc, const char* const* argv);

void print_usage(std::FILE* out = stdout);

} // namespace quorvel
