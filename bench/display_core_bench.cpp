// The display's decoding core per N record: one ingest cycle over exchange-file
// content, lists already at their limits, as veltaro-decode runs it.
#include "bench/bench_support.h"

#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kRecordsPerCycle = 1000;
constexpr std::uint32_t kSeed = 1;

// The first kRecordsPerCycle N records the decoder makes of these streams.
std::vector<std::string> n_records(const std::vector<std::string>& streams, int first_payload) {
    std::string capture;
    for (const std::string& stream : streams) {
        capture += stream;
    }
    std::vector<std::string> records =
        bench::lines_starting(bench::decode_stream(capture, first_payload), "N,");
    if (records.size() > kRecordsPerCycle) {
        records.resize(kRecordsPerCycle);
    }
    return records;
}

void run_cycles(benchmark::State& state, const std::vector<std::string>& records) {
    if (records.size() != kRecordsPerCycle) {
        state.SkipWithError("not enough N records");
        return;
    }
    const std::string content = bench::exchange_text(records);
    bench::TempDir dir;
    veltaro::MemoryControls controls(dir.path().string());
    veltaro::MStart m(controls);
    veltaro::IngestExchangeText(m, content); // fills the lists to their limits
    // At the limits every line a cycle adds is trimmed again, with one
    // event pass per removal: the passes count the lines.
    const int passes_before = controls.process_events_calls;
    for (auto _ : state) {
        veltaro::IngestExchangeText(m, content);
    }
    const double lines = controls.process_events_calls - passes_before;
    state.counters["lines_per_record"] =
        lines / static_cast<double>(state.iterations() * kRecordsPerCycle);
    state.SetItemsProcessed(state.iterations() * kRecordsPerCycle);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(content.size()));
}

void BM_DisplayCoreTypicalMix(benchmark::State& state) {
    static const std::vector<std::string> records =
        n_records(bench::typical_streams(2 * kRecordsPerCycle, 24, kSeed), 24);
    run_cycles(state, records);
}
BENCHMARK(BM_DisplayCoreTypicalMix)->Unit(benchmark::kMillisecond);

void BM_DisplayCoreLargestPackets(benchmark::State& state) {
    static const std::vector<std::string> records = [] {
        const std::string stream = bench::packet_stream(bench::largest_mant_data(kSeed), 17);
        return n_records(std::vector<std::string>(kRecordsPerCycle / 5, stream), 17);
    }();
    run_cycles(state, records);
}
BENCHMARK(BM_DisplayCoreLargestPackets)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
