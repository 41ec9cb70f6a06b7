// fuzz-seeds: cuts a simulator capture and the exchange file the decoder made
// of it into seed inputs for each fuzz target.
//
//   fuzz-seeds CAPTURE EXCHANGE OUTDIR [L]
//
// Writes OUTDIR/receive (1 to 3 packets each), OUTDIR/p_string (one P record
// each), OUTDIR/ingest (1 to 4 records each) and OUTDIR/field_readers (the
// byte text of N records). Every seed starts with the byte the target reads
// first (L - 17, or the option bits); a receive seed's second byte sets the
// size of the pieces its stream is fed in.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxSeeds = 150;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteSeed(const fs::path& folder, std::size_t index, char first, const std::string& body) {
    std::ofstream(folder / ("seed-" + std::to_string(index)), std::ios::binary) << first << body;
}

std::vector<std::string> Split(const std::string& text, char separator, bool keep) {
    std::vector<std::string> parts;
    std::size_t start = text.find(separator);
    while (start != std::string::npos) {
        const std::size_t next = text.find(separator, start + 1);
        parts.push_back(text.substr(start + (keep ? 0 : 1), next - start - (keep ? 0 : 1)));
        start = next;
    }
    return parts;
}

// Records without their line ends.
std::vector<std::string> Records(const std::string& text) {
    std::vector<std::string> records;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            records.push_back(line);
        }
    }
    return records;
}

// The byte text behind the 19 fixed fields of an N record, commas included.
std::string PayloadText(const std::string& record) {
    std::size_t at = 0;
    for (int i = 0; i < 19 && at != std::string::npos; ++i) {
        at = record.find(',', at + 1);
    }
    return at == std::string::npos ? std::string() : record.substr(at + 1) + ",";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "Usage: fuzz-seeds CAPTURE EXCHANGE OUTDIR [L]\n";
        return 2;
    }
    const fs::path out = argv[3];
    const int first_payload = argc > 4 ? std::stoi(argv[4]) : 24;
    const char length_byte = static_cast<char>(first_payload - 17);
    for (const char* name : {"receive", "p_string", "ingest", "field_readers"}) {
        fs::create_directories(out / name);
    }

    const std::vector<std::string> packets = Split(ReadFile(argv[1]), 'x', true);
    for (std::size_t i = 0, n = 0; i < packets.size() && n < kMaxSeeds; i += 1 + n % 3, ++n) {
        std::string body;
        for (std::size_t k = i; k < packets.size() && k <= i + n % 3; ++k) {
            body += packets[k];
        }
        const char piece = static_cast<char>(n * 37 % 256);
        WriteSeed(out / "receive", n, length_byte, piece + body);
    }

    const std::vector<std::string> records = Records(ReadFile(argv[2]));
    std::size_t p_seeds = 0, n_seeds = 0, groups = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string& record = records[i];
        if (record.rfind("P,", 0) == 0 && p_seeds < kMaxSeeds) {
            WriteSeed(out / "p_string", p_seeds++, length_byte, record + "\r\n");
        }
        if (record.rfind("N,", 0) == 0 && n_seeds < kMaxSeeds) {
            const std::string payload = PayloadText(record);
            WriteSeed(out / "field_readers", n_seeds, static_cast<char>(n_seeds % 256), payload);
            ++n_seeds;
        }
        if (i % 3 == 0 && groups < kMaxSeeds) {
            std::string body;
            for (std::size_t k = i; k < records.size() && k < i + 1 + groups % 4; ++k) {
                body += records[k] + "\r\r\n";
            }
            WriteSeed(out / "ingest", groups, static_cast<char>(groups % 16), body);
            ++groups;
        }
    }
    std::cout << "seeds: receive " << std::min(packets.size(), kMaxSeeds) << ", p_string "
              << p_seeds << ", ingest " << groups << ", field_readers " << n_seeds << "\n";
    return 0;
}
