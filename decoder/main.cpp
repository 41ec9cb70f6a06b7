// quorvel: the ALERT2 decoder. Reads the receiver's stream, undoes the AirLink
// FEC and appends P, S and N records to the exchange file.
#include "decoder/fec.h"
#include "decoder/options.h"
#include "decoder/receive_loop.h"
#include "decoder/records.h"
#include "decoder/serial_port.h"
#include "decoder/startup.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    using namespace quorvel;

    // A console nobody reads (the display that started us has gone) must not
    // end the decoder: the exchange file and the log are what count.
    std::signal(SIGPIPE, SIG_IGN);
    // At a file-size limit a write then fails (EFBIG) and is handled like a
    // full disk: the records stay pending instead of the decoder being killed.
    std::signal(SIGXFSZ, SIG_IGN);

    const CommandLine command_line = parse_command_line(argc, argv);
    const std::optional<DecoderConfig>& config = command_line.config;
    if (!config) {
        return command_line.exit_status;
    }

    Port port;
    if (!config->port_name.empty() && !open_port(config->port_name, port)) {
        std::printf("Failed to open port %s\n\n", config->port_name.c_str());
        std::fflush(stdout);
        return kExitPortFailure;
    }

    const fileio::Fd log = open_log(*config);
    print_banner(*config, log.valid());

    FecContext fec;
    init_fec(fec, config->first_payload);

    RecordOutput out;
    out.exchange_path = config->exchange_file;
    out.console = stdout;
    out.log.fd = log.get();

    const int status = run_receive_loop(port, fec, out);

    close_port(port);
    std::fflush(stdout);
    return status;
}
