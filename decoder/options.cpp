#include "decoder/options.h"

#include "decoder/serial_port.h"

#include <cstdlib>
#include <cstring>

namespace quorvel {

namespace {

constexpr int kMinFirstBlockPayload = 17;
constexpr int kMaxFirstBlockPayload = 32;

} // namespace

void print_usage(std::FILE* out) {
    const DecoderConfig defaults;
    std::fprintf(out, "ALERT2 FEC & MANT Decoder [-p<PORT NAME>] [-l<fblkpayloadlen>] "
                      "[-e<exchangefilename>] [-o{<decodedMANTlogfilename>|<NULL>}]\r\n");
    std::fprintf(out, "Default baud rate: %d\r\n", kBaudRate);
    std::fprintf(out, "Default serial port: %s\r\n", defaults.port_name.c_str());
    std::fprintf(out, "Default first block payload len: %d\r\n", defaults.first_payload);
    std::fprintf(out, "Default exchange file name: %s\r\n", defaults.exchange_file.c_str());
}

CommandLine parse_command_line(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    DecoderConfig config;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            print_usage(out);
            return {std::nullopt, kExitHelp};
        }
        if (arg[0] != '-' || std::strchr("peol", arg[1]) == nullptr || arg[1] == '\0') {
            print_usage(out);
            return {};
        }
        const char letter = arg[1];
        const char* value = arg + 2;
        if (*value == '\0') {
            if (i + 1 < argc) {
                value = argv[++i];
            } else if (letter != 'l') {
                print_usage(out);
                return {};
            }
        }
        switch (letter) {
        case 'p':
            config.port_name = value;
            break;
        case 'e':
            config.exchange_file = value;
            break;
        case 'o':
            config.log_file = value;
            break;
        case 'l': {
            const long length = std::strtol(value, nullptr, 10);
            if (length < kMinFirstBlockPayload || length > kMaxFirstBlockPayload) {
                std::fprintf(err, "Bad first blk len: %ld\r\n", length);
                print_usage(out);
                return {};
            }
            config.first_payload = static_cast<int>(length);
            break;
        }
        }
    }
    return {config};
}

CommandLine parse_command_line(int argc, const char* const* argv) {
    return parse_command_line(argc, argv, stdout, stderr);
}

} // namespace quorvel
