// Helpers shared by the decoder's tests: temporary folders, captured streams
// and running the real programs.
#pragma once

#include "decoder/startup.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorvel_test {

namespace fs = std::filesystem;

using harness::read_file;
using harness::TempDir;
using harness::wait_for;
using harness::write_file;

// What quorvel prints for --help and a bad command line.
inline const std::string kUsage =
    "ALERT2 FEC & MANT Decoder [-p<PORT NAME>] [-l<fblkpayloadlen>] [-e<exchangefilename>] "
    "[-o{<decodedMANTlogfilename>|<NULL>}]\r\n"
    "Default baud rate: 19200\r\n"
    "Default serial port: COM2\r\n"
    "Default first block payload len: 24\r\n"
    "Default exchange file name: SondrelMANTout.txt\r\n";

// Queued record text split at each CR LF, without the line ends.
inline std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

// A stdio stream whose text can be read back.
class CapturedStream {
public:
    CapturedStream() : file_(std::tmpfile()) {}
    ~CapturedStream() { std::fclose(file_); }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;
    std::FILE* get() const { return file_; }
    // Atomic against writers on other threads.
    std::string text() const {
        ::flockfile(file_);
        std::fflush(file_);
        const long end = std::ftell(file_);
        std::string text(static_cast<std::size_t>(end), '\0');
        std::rewind(file_);
        const std::size_t n = std::fread(text.data(), 1, text.size(), file_);
        text.resize(n);
        std::fseek(file_, 0, SEEK_END);
        ::funlockfile(file_);
        return text;
    }

private:
    std::FILE* file_;
};

// A -o log in a scratch folder, opened as the decoder opens it.
class LogFile {
public:
    explicit LogFile(const TempDir& dir) : path_(dir.file("quorvel.log")) {
        quorvel::DecoderConfig config;
        config.log_file = path_;
        fd_ = quorvel::open_log(config);
    }
    int fd() const { return fd_.get(); }
    std::string text() const { return read_file(path_); }

private:
    std::string path_;
    fileio::Fd fd_;
};

} // namespace quorvel_test
