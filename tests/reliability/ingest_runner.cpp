// ingest-runner: the display's decoding core on a tick, without a window, so
// that tests can run it beside the real decoder, kill it at any moment and
// start it again. Its lists are counted, not kept; problem messages go to
// standard output as they are listed.
//
//   ingest-runner --data-dir DIR [--tick-ms N] [--fsize-limit BYTES] [--kept-records 1]
//
// Every tick is one IngestExchangeFile (one slice) over DIR/SondrelMANTout.txt with the
// "Displayed" log option (A2RawData.txt, A2Headers.txt, A2Reports.txt in DIR)
// and UTC times. --tick-ms 0 runs the cycles back to back. SIGTERM ends it
// after one last pass; it then prints "lines: OUTPUT MESSAGE REPORT".
// --fsize-limit caps the size of every file it writes (RLIMIT_FSIZE, with
// SIGXFSZ ignored, so a write past it fails with EFBIG as on a full disk);
// SIGUSR1 lifts the cap again, as when space returns. --kept-records 1 writes
// every record line a kept slice handed to the sink to standard error (a pipe,
// which the cap does not reach), as an output that cannot take a line back
// must send them.
#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_lift = 0;

void OnStop(int) {
    g_stop = 1;
}

void OnLift(int) {
    g_lift = 1;
}

// The soft limit only, so it can be raised again up to the hard one.
bool LimitFileSize(rlim_t bytes) {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = std::min(bytes, limit.rlim_max);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        std::perror("setrlimit");
        return false;
    }
    return true;
}

// Keeps the lists short (the tests read the logs) and echoes every problem
// message: lines that do not start with two blanks, except the separator.
class CountingControls : public veltaro::MemoryControls {
public:
    using MemoryControls::MemoryControls;

    void InsertTop(veltaro::ListId list, const std::string& text) override {
        ++inserted[static_cast<std::size_t>(list)];
        if (list == veltaro::ListId::lstReport && text.rfind("  ", 0) != 0 &&
            text != "__________") {
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
        }
        MemoryControls::InsertTop(list, text);
        // The logs hold everything; a short list keeps a long run cheap.
        if (Count(list) > 50) {
            Remove(list, Count(list) - 1);
        }
    }

    std::array<long long, 3> inserted{};
};

// Holds a slice's record lines until the ingest says whether they stay listed.
class KeptRecordsSink : public veltaro::ReadingSink {
public:
    void OnRecord(std::string_view line) override {
        held_.append(line);
        held_ += '\n';
    }
    void OnPacket(const veltaro::PacketEvent&) override {}
    void OnReading(const veltaro::ReadingEvent&) override {}
    void OnSliceKept() override {
        std::fwrite(held_.data(), 1, held_.size(), stderr);
        std::fflush(stderr);
        held_.clear();
    }
    void OnSliceUndone() override { held_.clear(); }

private:
    std::string held_;
};

struct Options {
    std::string data_dir;
    long tick_ms = 333;
    long long fsize_limit = -1;
    bool kept_records = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--data-dir") {
            options.data_dir = value;
        } else if (name == "--tick-ms") {
            options.tick_ms = std::strtol(value, nullptr, 10);
        } else if (name == "--fsize-limit") {
            options.fsize_limit = std::strtoll(value, nullptr, 10);
        } else if (name == "--kept-records") {
            options.kept_records = std::string(value) == "1";
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.data_dir.empty();
}

} // namespace

int main(int argc, char** argv) {
    using namespace veltaro;
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "Usage: ingest-runner --data-dir DIR [--tick-ms N] "
                             "[--fsize-limit BYTES] [--kept-records 1]\n");
        return 2;
    }
    if (options.fsize_limit >= 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        if (!LimitFileSize(static_cast<rlim_t>(options.fsize_limit))) {
            return 1;
        }
    }
    std::signal(SIGTERM, OnStop);
    std::signal(SIGINT, OnStop);
    std::signal(SIGUSR1, OnLift);

    CountingControls controls(options.data_dir);
    controls.SetText(TextBoxId::txtInputFile, "SondrelMANTout.txt");
    controls.SetText(TextBoxId::txtRawDataFile, "A2RawData.txt");
    controls.SetText(TextBoxId::txtMsgFile, "A2Headers.txt");
    controls.SetText(TextBoxId::txtReportFile, "A2Reports.txt");
    controls.SetText(TextBoxId::txtGMTOffset, "0");
    controls.SetOption(OptionId::optUseOffset, true);
    controls.SetOption(OptionId::optDisplayed, true);
    MStart m(controls);
    KeptRecordsSink kept;
    if (options.kept_records) {
        m.Sink = &kept;
    }

    std::printf("ready\n");
    std::fflush(stdout);
    // A backlog is worked through a slice a cycle without waiting for the
    // next tick, as the window does.
    while (g_stop == 0) {
        if (g_lift != 0 && LimitFileSize(RLIM_INFINITY)) {
            g_lift = 0;
        }
        if (!IngestExchangeFile(m) && options.tick_ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(options.tick_ms));
        }
    }
    while (IngestExchangeFile(m)) {
    }
    std::printf("lines: %lld %lld %lld\n", controls.inserted[0], controls.inserted[1],
                controls.inserted[2]);
    return 0;
}
