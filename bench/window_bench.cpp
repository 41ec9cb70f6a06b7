// One tmrCheck cycle of the real window, offscreen: 1,000 N records arrive in
// the exchange file while the three lists are at their limits.
#include "bench/bench_support.h"
#include "bench/window_support.h"

#include "display/decoding/procedures.h"
#include "display/ui/display_window.h"

#include <QApplication>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

constexpr int kRecordsPerCycle = 1000;
constexpr std::uint32_t kSeed = 1;

std::vector<std::string> typical_n_records() {
    std::string capture;
    for (const std::string& stream : bench::typical_streams(2 * kRecordsPerCycle, 24, kSeed)) {
        capture += stream;
    }
    std::vector<std::string> records =
        bench::lines_starting(bench::decode_stream(capture, 24), "N,");
    records.resize(std::min<std::size_t>(records.size(), kRecordsPerCycle));
    return records;
}

// What the timer's tick runs: the clock box, then one ingest cycle, and the
// repaint that follows it before the next tick.
void tick(veltaro::FDisplay& window) {
    QTimer* timer = window.findChild<QTimer*>("tmrCheck");
    QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
    QCoreApplication::processEvents();
}

void BM_WindowCycle1000Records(benchmark::State& state) {
    const std::vector<std::string> records = typical_n_records();
    if (records.size() != kRecordsPerCycle) {
        state.SkipWithError("not enough N records");
        return;
    }
    const std::string content = bench::exchange_text(records);
    bench::TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    veltaro::FDisplay window(folder, folder);
    bench::use_default_names(window);
    // The 1,000 records in one cycle, so the cost of a cycle stays comparable;
    // bench-backlog measures the window working through slices.
    window.Module().SliceTime = std::chrono::hours(1);
    window.show();
    QCoreApplication::processEvents();

    const std::filesystem::path exchange = dir.path() / bench::kExchangeFile;
    bench::write_file(exchange, content);
    tick(window); // brings the lists to their limits
    if (window.Text(veltaro::TextBoxId::txtClock).empty() ||
        window.Count(veltaro::ListId::lstOutput) != 500) {
        state.SkipWithError("the tick did not run an ingest cycle");
        return;
    }
    double worst = 0;
    for (auto _ : state) {
        bench::write_file(exchange, content);
        const auto start = std::chrono::steady_clock::now();
        tick(window);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        worst = std::max(worst, seconds);
    }
    state.SetItemsProcessed(state.iterations() * kRecordsPerCycle);
    state.counters["worst_ms"] = worst * 1000.0;
    state.counters["report_lines"] = window.Count(veltaro::ListId::lstReport);
    state.counters["output_lines"] = window.Count(veltaro::ListId::lstOutput);
}
BENCHMARK(BM_WindowCycle1000Records)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const bench::TempDir root;
    bench::use_private_folders(root);
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Veltaro");
    QApplication::setApplicationName("Veltaro");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
