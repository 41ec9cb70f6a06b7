// bench-backlog: a large backlog in the exchange file, as after a long pause
// or a display that was not running. Measures how long the real window
// (offscreen) goes without handling events while it works the backlog off,
// archiving its readings, and its peak memory; then the peak memory of veltaro-decode on a large raw
// data log.
//
//   bench-backlog [--mb N] [--decode PATH --decode-mb N]
//
// Prints key=value lines for scripts/bench.
#include "bench/bench_support.h"
#include "bench/window_support.h"

#include "display/ui/display_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBlockPackets = 2000;
constexpr std::uint32_t kSeed = 1;
// The probe that stands in for window events: it should fire this often.
constexpr int kProbeMs = 5;

struct Options {
    double backlog_mb = 66;
    std::string decode;
    double decode_mb = 321;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--mb") {
            options.backlog_mb = std::atof(argv[i + 1]);
        } else if (name == "--decode") {
            options.decode = argv[i + 1];
        } else if (name == "--decode-mb") {
            options.decode_mb = std::atof(argv[i + 1]);
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

// The decoder's records for the simulator's ordinary traffic.
std::string RecordBlock() {
    std::string capture;
    for (const std::string& stream : bench::typical_streams(kBlockPackets, 24, kSeed)) {
        capture += stream;
    }
    return bench::decode_stream(capture, 24);
}

// Writes block again and again until the file holds mb megabytes; returns
// the number of records written. Only one block is ever held.
long long WriteRepeated(const std::filesystem::path& path, const std::string& block, double mb,
                        bool raw_log) {
    std::string text = block;
    if (raw_log) { // the raw data log ends lines with CR LF, not CR CR LF
        std::string cut;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\r')) {
                cut += text[i];
            }
        }
        text = cut;
    }
    const long long per_block = std::count(text.begin(), text.end(), '\n');
    std::ofstream out(path, std::ios::binary);
    long long records = 0;
    for (double written = 0; written < mb * 1e6; written += static_cast<double>(text.size())) {
        out << text;
        records += per_block;
    }
    return records;
}

// Peak resident memory since the last reset, in MB (VmHWM).
double PeakMb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atof(line.c_str() + 6) / 1024.0;
        }
    }
    return -1;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

bool BacklogLeft(const std::filesystem::path& folder) {
    for (const char* suffix : {"", ".claimed"}) {
        if (std::filesystem::exists(folder / (std::string(bench::kExchangeFile) + suffix))) {
            return true;
        }
    }
    return false;
}

void MeasureWindow(const Options& options, const std::string& block) {
    bench::TempDir dir;
    const long long records =
        WriteRepeated(dir.path() / bench::kExchangeFile, block, options.backlog_mb, false);
    std::printf("backlog_records=%lld\nbacklog_mb=%.1f\n", records,
                static_cast<double>(std::filesystem::file_size(dir.path() / bench::kExchangeFile)) /
                    1e6);

    const QString folder = QString::fromStdString(dir.path().string());
    veltaro::FDisplay window(folder, folder);
    bench::use_default_names(window);
    window.SetOption(veltaro::OptionId::optDisplayed, true);
    window.show();
    QCoreApplication::processEvents();
    ResetPeak();

    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QElapsedTimer since_last;
    QElapsedTimer total;
    std::vector<qint64> gaps;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        gaps.push_back(since_last.restart());
        if (!BacklogLeft(dir.path())) {
            QCoreApplication::quit();
        }
    });
    total.start();
    since_last.start();
    probe.start(kProbeMs);
    // Start as the user presses it: the archive and the SHEF outbox work too.
    auto* start = window.findChild<QPushButton*>("cmdStart");
    start->setEnabled(true);
    start->click();
    QCoreApplication::exec();
    std::sort(gaps.begin(), gaps.end());
    const auto stall = [&](double quantile) {
        const auto at = static_cast<std::size_t>(quantile * static_cast<double>(gaps.size() - 1));
        return static_cast<long long>(std::max<qint64>(gaps[at] - kProbeMs, 0));
    };
    std::printf("window_seconds=%.2f\nwindow_worst_stall_ms=%lld\nwindow_p99_stall_ms=%lld\n"
                "window_median_stall_ms=%lld\nwindow_peak_mb=%.0f\n",
                static_cast<double>(total.elapsed()) / 1000.0, stall(1.0), stall(0.99), stall(0.5),
                PeakMb());
}

void MeasureDecode(const Options& options, const std::string& block) {
    bench::TempDir dir;
    const std::filesystem::path log = dir.path() / "A2RawData.txt";
    const long long records = WriteRepeated(log, block, options.decode_mb, true);
    QElapsedTimer timer;
    timer.start();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execl(options.decode.c_str(), options.decode.c_str(), "--gmt-offset", "0", log.c_str(),
                static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    std::printf("decode_records=%lld\ndecode_mb=%.1f\ndecode_status=%d\ndecode_seconds=%.2f\n"
                "decode_peak_mb=%.0f\n",
                records, static_cast<double>(std::filesystem::file_size(log)) / 1e6,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                static_cast<double>(timer.elapsed()) / 1000.0,
                static_cast<double>(usage.ru_maxrss) / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "Usage: bench-backlog [--mb N] [--decode PATH --decode-mb N]\n");
        return 2;
    }
    const bench::TempDir root;
    bench::use_private_folders(root);
    const std::string block = RecordBlock();
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Veltaro");
    QApplication::setApplicationName("Veltaro");
    MeasureWindow(options, block);
    if (!options.decode.empty()) {
        MeasureDecode(options, block);
    }
    return 0;
}
