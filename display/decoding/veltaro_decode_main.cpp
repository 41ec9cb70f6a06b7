// veltaro-decode: runs the display's decoding core on exchange-file content
// (a live exchange file, or an archived raw data log) and prints the lists,
// or the readings as JSON Lines, CSV or SHEF, or imports them into an archive.
#include "display/data/archive.h"
#include "display/data/reading_assembler.h"
#include "display/data/reading_csv.h"
#include "display/data/reading_json.h"
#include "display/data/registry.h"
#include "display/data/shef_export.h"
#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: veltaro-decode [--gmt-offset HOURS] [--filter SOURCE] [--log-dir DIR] FILE...\n"
    "       veltaro-decode [...] --format json|csv|shef [--stations FILE] FILE...\n"
    "       veltaro-decode [...] --archive DB [--stations FILE] FILE...\n"
    "\n"
    "Decodes exchange-file records (S, P and N lines) as the display does and prints\n"
    "its three lists, or the readings it lists as data. Each FILE is one ingest\n"
    "cycle, in the order given; FILE is only read, never changed, and read as a\n"
    "stream, so its size does not matter. '-' reads standard input. A line over\n"
    "64 KiB is skipped with the message \"record too long, skipped: \" and its first\n"
    "40 characters.\n"
    "\n"
    "  --gmt-offset HOURS  show times at this offset from UTC (default: the system\n"
    "                      time zone in effect now); readings as data are in UTC\n"
    "                      either way\n"
    "  --filter SOURCE     decode only packets from this source address (0 or less:\n"
    "                      all)\n"
    "  --log-dir DIR       append the raw data, header and report logs in DIR\n"
    "                      (A2RawData.txt, A2Headers.txt, A2Reports.txt); without it\n"
    "                      nothing is logged\n"
    "  --format FORMAT     lists (default): the three lists; json: one JSON object a\n"
    "                      reading a line; csv: one CSV row a reading, with a header;\n"
    "                      shef: SHEF .A lines of the sensors that have a shef code\n"
    "                      at stations with an nws_id, then the hourly rain of their\n"
    "                      gauges\n"
    "  --archive DB        add every packet and reading to the SQLite archive DB\n"
    "                      (created when missing; a reading stored before is not\n"
    "                      stored again); prints nothing unless --format is given\n"
    "  --stations FILE     the station registry (default: stations.csv in\n"
    "                      $XDG_CONFIG_HOME/Veltaro, when it exists)\n"
    "  --help              show this text\n"
    "\n"
    "Lists: [lstOutput], [lstMessage] and [lstReport], each followed by its entries\n"
    "from the top (newest) down, then [txtNMessage] and its text.\n";

struct Options {
    bool use_offset = false;
    std::string offset;
    std::string filter;
    bool log = false;
    std::string log_dir;
    std::optional<std::string> format;
    std::optional<std::string> archive;
    std::optional<std::string> stations;
    std::vector<std::string> files;
};

constexpr const char* kValueOptions[] = {"--gmt-offset", "--filter",  "--log-dir",
                                         "--format",     "--archive", "--stations"};

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
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), arg) ==
            std::end(kValueOptions)) {
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
        } else if (arg == "--log-dir") {
            options.log = true;
            options.log_dir = value;
        } else if (arg == "--format") {
            options.format = value;
        } else if (arg == "--archive") {
            options.archive = value;
        } else {
            options.stations = value;
        }
    }
    if (options.format && *options.format != "lists" && *options.format != "json" &&
        *options.format != "csv" && *options.format != "shef") {
        return UsageError("unknown format '" + *options.format + "' (lists, json, csv or shef)");
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

void PrintLists(const veltaro::MemoryControls& controls) {
    using veltaro::ListId;
    PrintList(controls, ListId::lstOutput, "lstOutput");
    PrintList(controls, ListId::lstMessage, "lstMessage");
    PrintList(controls, ListId::lstReport, "lstReport");
    std::cout << "[txtNMessage]\n" << controls.Text(veltaro::TextBoxId::txtNMessage) << '\n';
}

// The station registry: the one given, or the default one when it exists.
// Rows that cannot be read are reported and left out.
bool LoadStations(const Options& options, veltaro::data::Registry& registry) {
    using namespace veltaro::data;
    return LoadRegistryReporting(options.stations.value_or(DefaultRegistryPath()),
                                 options.stations.has_value(), "veltaro-decode", std::cerr,
                                 registry);
}

// How far an import has come, on standard error, for inputs big enough to
// take a while: packets handed on against the N records in the input.
class ImportProgress final : public veltaro::data::ReadingOutput {
public:
    // The input is read as a stream: how far it has come is its position.
    void Start(const std::string& name, int fd) {
        name_ = name == "-" ? "standard input" : name;
        fd_ = fd;
        shown_ = -1;
        struct stat info {};
        size_ = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : 0;
        active_ = size_ >= static_cast<off_t>(kMinBytes);
        if (active_) {
            Show(0);
        }
    }
    void OnPacket(const veltaro::data::Packet& /*packet*/) override {
        if (active_) {
            const off_t at = ::lseek(fd_, 0, SEEK_CUR);
            Show(static_cast<int>(100 * std::max<off_t>(at, 0) / size_));
        }
    }
    void OnReading(const veltaro::data::Reading& /*reading*/) override {}

    void Finish() {
        if (active_) {
            Show(100);
            std::cerr << (terminal_ ? "\n" : "");
        }
    }

private:
    static constexpr std::size_t kMinBytes = 4 * 1024 * 1024;

    // On a terminal the line is rewritten; elsewhere one line each tenth.
    void Show(int percent) {
        percent = std::min(percent, 100);
        const int step = terminal_ ? 1 : 10;
        if (percent / step == shown_ / step && shown_ >= 0) {
            return;
        }
        shown_ = percent;
        std::cerr << (terminal_ ? "\r" : "") << "veltaro-decode: importing " << name_ << ": "
                  << percent << "%" << (terminal_ ? "" : "\n") << std::flush;
    }

    bool terminal_ = ::isatty(STDERR_FILENO) == 1;
    std::string name_;
    bool active_ = false;
    int shown_ = -1;
    int fd_ = -1;
    off_t size_ = 0;
};

void SetUpControls(veltaro::MemoryControls& controls, const Options& options) {
    using namespace veltaro;
    controls.SetText(TextBoxId::txtInputFile, "SondrelMANTout.txt");
    controls.SetText(TextBoxId::txtRawDataFile, "A2RawData.txt");
    controls.SetText(TextBoxId::txtMsgFile, "A2Headers.txt");
    controls.SetText(TextBoxId::txtReportFile, "A2Reports.txt");
    controls.SetText(TextBoxId::txtGMTOffset, options.offset);
    controls.SetText(TextBoxId::txtFilter, options.filter);
    controls.SetOption(options.use_offset ? OptionId::optUseOffset : OptionId::optSystemTz, true);
    controls.SetOption(options.log ? OptionId::optDisplayed : OptionId::OptSelected, true);
}

std::unique_ptr<veltaro::data::ReadingOutput> MakeWriter(const std::string& format) {
    if (format == "json") {
        return std::make_unique<veltaro::data::JsonLinesWriter>(std::cout);
    }
    if (format == "csv") {
        return std::make_unique<veltaro::data::CsvReadingsWriter>(std::cout);
    }
    if (format == "shef") {
        return std::make_unique<veltaro::data::ShefWriter>(std::cout, "veltaro-decode");
    }
    return nullptr;
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
    // The lists do not use the registry: the default one is read only for
    // data, so its problems are not reported to a user of the lists.
    const bool as_data = (options.format && *options.format != "lists") || options.archive;
    data::Registry registry;
    if ((as_data || options.stations) && !LoadStations(options, registry)) {
        return 2;
    }

    MemoryControls controls(options.log ? options.log_dir : std::string("."));
    SetUpControls(controls, options);
    MStart m(controls);

    // With --archive alone nothing goes to standard output.
    const std::string format = options.format.value_or(options.archive ? "" : "lists");
    data::ReadingAssembler assembler(&registry);
    const std::unique_ptr<data::ReadingOutput> writer = MakeWriter(format);
    if (writer) {
        assembler.Attach(*writer);
    }
    std::unique_ptr<data::Archive> archive;
    ImportProgress progress;
    if (options.archive) {
        // Decoding stays just ahead of the writer, so the progress shown is
        // the import's; nothing is dropped, a failure ends in exit status 1.
        const data::Archive::Limits limits{50000, false};
        archive = std::make_unique<data::Archive>(
            *options.archive,
            [](const std::string& message) { std::cerr << "veltaro-decode: " << message << "\n"; },
            limits);
        assembler.Attach(*archive);
        assembler.Attach(progress);
    }
    if (writer || archive) {
        m.Sink = &assembler;
    }

    for (std::size_t i = 0; i < inputs.size(); ++i) {
        progress.Start(options.files[i], inputs[i]);
        const int error = IngestExchangeStream(m, inputs[i]);
        if (archive) {
            archive->Commit();
        }
        progress.Finish();
        if (error != 0) {
            return CannotRead(options.files[i], error);
        }
    }
    if (format == "lists") {
        PrintLists(controls);
    }
    if (auto* shef = dynamic_cast<data::ShefWriter*>(writer.get())) {
        shef->Finish();
    }
    const bool archived = !archive || archive->Flush();
    if (archive) {
        std::cerr << "veltaro-decode: " << *options.archive << ": " << archive->PacketsAdded()
                  << " packets and " << archive->ReadingsAdded() << " readings added\n";
    }
    std::cout.flush();
    return std::cout && archived ? 0 : 1;
}
