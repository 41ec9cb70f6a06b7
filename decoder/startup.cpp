#include "decoder/startup.h"

#include "decoder/fec.h"
#include "decoder/serial_port.h"

#include <fcntl.h>
#include <unistd.h>

namespace quorvel {

namespace {

constexpr int kMaxDataPayload = 1200;

// A regular file, created or emptied; never a FIFO that would hold the start
// until a reader comes, nor a device or a link planted at the path. Appending:
// a record the log does not take whole is cut off again at the end.
fileio::Fd create_regular(const std::string& path) {
    fileio::Problem problem;
    fileio::Fd fd = fileio::OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT, problem);
    if (fd.valid() && ::ftruncate(fd.get(), 0) != 0) {
        fd.Reset();
    }
    return fd;
}

} // namespace

fileio::Fd open_log(const DecoderConfig& config, std::FILE* out) {
    if (!config.log_file) {
        return {};
    }
    fileio::Fd log = create_regular(*config.log_file);
    if (!log.valid()) {
        std::fputs("error on opening output logging file, data will not be logged\r\n", out);
    }
    return log;
}

void print_banner(const DecoderConfig& config, bool log_open, std::FILE* out) {
    std::fputs("\r\n-- Sondrel Decoder (Ver 03)\r\n-- ALERT2 FEC & MANT Decoder Decoder\r\n", out);
    std::fprintf(out, "-- Reed Solomon FEC %s\r\n", "RS(255,239,8), ");
    std::fprintf(out, "-- Convolutional Code FEC %s\r\n", "NASA poly rate 1/2 k=7, ");
    std::fprintf(out, "-- 1st Block RS length=%3d, 2nd Blocks max RS length=%3d\r\n",
                 config.first_payload + kParityBytes, kFullBlockLength);
    std::fprintf(out, "-- 1st block MANT payload=%3d, 2nd Blocks max MANT payload=%3d\r\n",
                 config.first_payload, kFullBlockPayload);
    std::fprintf(out, "-- Maximum Data Payload Length %3d\r\n", kMaxDataPayload);
    std::fputs("output strings:\r\n", out);
    std::fputs("P,ALRES,Yr,Mon,Day,Hr,Min,Sec.sec,MANT_len,blk_len,data,...,rs_errs,[blk_len,"
               "data,...,rs_errs,][...,]usec_fblk[,usec_sblks]<LF>\r\n",
               out);
    std::fputs("S,Type,TypeData<LF>\r\n\r\n", out);
    std::fprintf(out, "Opened serial port %s to Sondrel hardware, baudrate: %d\r\n",
                 config.port_name.c_str(), kBaudRate);
    std::fprintf(out, "Exchange filename %s\r\n", config.exchange_file.c_str());
    if (log_open) {
        std::fprintf(out, "AirLink and MANT logged to %s\r\n", config.log_file->c_str());
    }
    std::fflush(out);
}

} // namespace quorvel
