// Traffic for the benchmarks, made with the receiver-side encoder, and the
// real decoder pipeline to turn it into exchange-file records.
#pragma once

#include "simulator/encoder.h"
#include "tests/support/harness.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// The tests' scratch folder and whole-file reads and writes.
using harness::read_file;
using harness::TempDir;
using harness::write_file;

// A MANT data run of exactly 1023 bytes (the most MANT_len can announce):
// rain tip, general sensor, multiple sensor and compact reports in several
// MANT packets, as a busy repeater would pack them.
sondrel::Bytes largest_mant_data(std::uint32_t seed);

// A frame that fits the first block alone (L >= 17): one MANT packet with
// one general sensor reading.
sondrel::Bytes small_mant_data();

// "x" + hex digits + CR LF for an AirLink frame of ALRES 0 and these MANT bytes.
std::string packet_stream(const sondrel::Bytes& mant, int first_payload);

// count frames of the simulator's ordinary traffic (seeded, fixed clock).
std::vector<std::string> typical_streams(int count, int first_payload, std::uint32_t seed);

// The code bytes of one packet stream: the first block's 2L + 34 bytes, then
// the second blocks' 2B + 2 bytes (empty when there are none).
struct CodeBytes {
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> second;
};
CodeBytes code_bytes(const std::string& stream, int first_payload);

// Settings, port map and instance lock in folders under root, never the
// user's; the window offscreen unless told otherwise.
void use_private_folders(const TempDir& root);

// Feeds the stream to the decoder's packet state machine and returns what the
// flush appended to the exchange file.
std::string decode_stream(const std::string& stream, int first_payload);

// The lines of exchange-file content that begin with prefix ("N,", "P,").
std::vector<std::string> lines_starting(const std::string& content, const std::string& prefix);

// Exchange-file content holding these records, each ended by CR CR LF.
std::string exchange_text(const std::vector<std::string>& records);

} // namespace bench
