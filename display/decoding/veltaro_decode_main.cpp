// veltaro-decode: runs the display's decoding core on exchange-file content
// (a live exchange file, or an archived raw data log) and prints the lists.
#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: veltaro-decode [--gmt-offset HOURS] [--filter SOURCE] [--log-dir DIR] FILE...\n"
    "\n"
    "Decodes exchange-file records (S, P and N lines) as the display does and prints\n"
    "its three lists. Each FILE is one ingest cycle, in the order given; FILE is only\n"
    "read, never changed, and read as a stream, so its size does not matter. '-'\n"
    "reads standard input. A line over 64 KiB is skipped with the message \"record\n"
    "too long, skipped: \" and its first 40 characters.\n"
    "\n"
    "  --gmt-offset HOURS  show times at this offset from UTC (default: the system\n"
    "                      time zone in effect now)\n"
    "  --filter SOURCE     decode only packets from this source address (0 or less:\n"
    "                      all)\n"
    "  --log-dir DIR       append the raw data, header and report logs in DIR\n"
    "                      (A2RawData.txt, A2Headers.txt, A2Reports.txt); without it\n"
    "                      nothing is logged\n"
    "  --help              show this text\n"
    "\n"
    "Output: [lstOutput], [lstMessage] and [lstReport], each followed by its entries\n"
    "from the top (newest) down, then [txtNMessage] and its text.\n";

struct Options {
    bool use_offset = false;
    std::string offset;
    std::string filter;
    bool log = false;
    std::string log_dir;
    std::vector<std::string> files;
};

int UsageError(const std::string& message) {
    std::cerr << "veltaro-decode: " << message << "\n"
              << "Try 'veltaro-decode --help'.\n";
    return 2;
}

// Returns -1 when the arguments are good, else the exit status.
int ParseArguments(int argc, char** argv, Options& options) {
    bool only_files = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (only_files || arg == "-" || arg.empty() || arg[0] != '-') {
            options.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            only_files = true;
            continue;
        }
        if (arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg != "--gmt-offset" && arg != "--filter" && arg != "--log-dir") {
            return UsageError("unknown option '" + arg + "'");
        }
        if (i + 1 >= argc) {
            return UsageError("option '" + arg + "' needs a value");
        }
        const std::string value = argv[++i];
        if (arg == "--gmt-offset") {
            options.use_offset = true;
            options.offset = value;
        } else if (arg == "--filter") {
            options.filter = value;
        } else {
            options.log = true;
            options.log_dir = value;
        }
    }
    if (options.files.empty()) {
        return UsageError("no FILE given");
    }
    return -1;
}

// Opens FILE for reading ('-': standard input); -1 with errno set when it cannot.
int OpenInput(const std::string& name) {
    return name == "-" ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
}

int CannotRead(const std::string& name, int error) {
    std::cerr << "veltaro-decode: cannot read '" << name << "'"
              << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
    return 2;
}

void PrintList(const veltaro::MemoryControls& controls, veltaro::ListId list, const char* name) {
    std::cout << '[' << name << "]\n";
    for (const std::string& entry : controls.Lines(list)) {
        std::cout << entry << '\n';
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace veltaro;
    Options options;
    const int status = ParseArguments(argc, argv, options);
    if (status >= 0) {
        return status;
    }

    // Every FILE is opened before the first cycle, so one that cannot be
    // opened leaves standard output empty. Each is then read as a stream:
    // a large log takes no more memory than a small one.
    std::vector<int> inputs;
    for (const std::string& name : options.files) {
        const int fd = OpenInput(name);
        if (fd < 0) {
            return CannotRead(name, errno);
        }
        inputs.push_back(fd);
    }

    MemoryControls controls(options.log ? options.log_dir : std::string("."));
    controls.SetText(TextBoxId::txtInputFile, "SondrelMANTout.txt");
    controls.SetText(TextBoxId::txtRawDataFile, "A2RawData.txt");
    controls.SetText(TextBoxId::txtMsgFile, "A2Headers.txt");
    controls.SetText(TextBoxId::txtReportFile, "A2Reports.txt");
    controls.SetText(TextBoxId::txtGMTOffset, options.offset);
    controls.SetText(TextBoxId::txtFilter, options.filter);
    controls.SetOption(options.use_offset ? OptionId::optUseOffset : OptionId::optSystemTz, true);
    controls.SetOption(options.log ? OptionId::optDisplayed : OptionId::OptSelected, true);

    MStart m(controls);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (const int error = IngestExchangeStream(m, inputs[i])) {
            return CannotRead(options.files[i], error);
        }
    }

    PrintList(controls, ListId::lstOutput, "lstOutput");
    PrintList(controls, ListId::lstMessage, "lstMessage");
    PrintList(controls, ListId::lstReport, "lstReport");
    std::cout << "[txtNMessage]\n" << controls.Text(TextBoxId::txtNMessage) << '\n';
    std::cout.flush();
    return std::cout ? 0 : 1;
}
