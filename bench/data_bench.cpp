// What the readings as data add to the display's tick: one ingest cycle of
// 1,000 N records (with their frames' P records) without and with the
// reading assembler and the archive attached and committed, as the tick
// does; and the time the archive's writer thread then takes to add the rows.
#include "bench/bench_support.h"

#include "display/data/archive.h"
#include "display/data/reading_assembler.h"
#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr int kRecordsPerCycle = 1000;
constexpr int kVariants = 64;
constexpr std::uint32_t kSeed = 1;

using Clock = std::chrono::steady_clock;

// The decoder's records of the streams up to the 1,000th N record.
std::vector<std::string> cycle_records(const std::vector<std::string>& streams) {
    std::string capture;
    for (const std::string& stream : streams) {
        capture += stream;
    }
    const std::string content = bench::decode_stream(capture, 24);
    std::vector<std::string> records;
    int n_records = 0;
    std::size_t start = 0;
    while (n_records < kRecordsPerCycle && start < content.size()) {
        const std::size_t end = content.find('\r', start);
        records.push_back(content.substr(start, end - start));
        n_records += records.back().rfind("N,", 0) == 0 ? 1 : 0;
        start = content.find('\n', end) + 1;
    }
    if (n_records != kRecordsPerCycle) {
        throw std::runtime_error("not enough N records");
    }
    return records;
}

// The six time fields of a P or N record set to second `second` of `year`
// (January 1st): each frame its own moment, shared by its P and N records.
void set_time(std::string& record, int year, int second) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t comma = 0; comma != std::string::npos; start = comma + 1) {
        comma = record.find(',', start);
        fields.push_back(record.substr(start, comma - start));
    }
    const std::size_t first = record[0] == 'P' ? 2 : 1;
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, record[0] == 'P' ? "%02d.000" : "%d.0000", second % 60);
    const std::string parts[] = {std::to_string(year),
                                 "01",
                                 "01",
                                 std::to_string(100 + second / 3600).substr(1),
                                 std::to_string(100 + second / 60 % 60).substr(1),
                                 seconds};
    for (std::size_t i = 0; i < 6; ++i) {
        fields[first + i] = parts[i];
    }
    record.clear();
    for (const std::string& field : fields) {
        record += (record.empty() ? "" : ",") + field;
    }
}

// Cycles whose records are all new to the archive: variant v is received in
// year 1950 + v, one frame a second.
std::vector<std::string> variants_of(const std::vector<std::string>& records) {
    std::vector<std::string> variants;
    for (int v = 0; v < kVariants; ++v) {
        std::vector<std::string> moved = records;
        int frame = -1;
        for (std::string& record : moved) {
            frame += record[0] == 'P' ? 1 : 0;
            if (record[0] != 'S') {
                set_time(record, 1950 + v, frame < 0 ? 0 : frame);
            }
        }
        variants.push_back(bench::exchange_text(moved));
    }
    return variants;
}

const std::vector<std::string>& typical_cycles() {
    static const std::vector<std::string> cycles =
        variants_of(cycle_records(bench::typical_streams(2 * kRecordsPerCycle, 24, kSeed)));
    return cycles;
}

// One general sensor reading a record: 1,000 records are 1,000 readings.
const std::vector<std::string>& single_reading_cycles() {
    static const std::vector<std::string> cycles =
        variants_of(cycle_records(std::vector<std::string>(
            kRecordsPerCycle, bench::packet_stream(bench::small_mant_data(), 24))));
    return cycles;
}

struct Display {
    explicit Display(const std::vector<std::string>& cycles) {
        controls.SetOption(veltaro::OptionId::optUseOffset, true);
        veltaro::IngestExchangeText(m, cycles.back()); // lists at their limits
    }
    bench::TempDir dir;
    veltaro::MemoryControls controls{dir.path().string()};
    veltaro::MStart m{controls};
};

void run_without_data(benchmark::State& state, const std::vector<std::string>& cycles) {
    Display display(cycles);
    int v = 0;
    for (auto _ : state) {
        veltaro::IngestExchangeText(display.m, cycles[v++ % kVariants]);
    }
    state.SetItemsProcessed(state.iterations() * kRecordsPerCycle);
}

// Each tick as the display runs it: the cycle and the hand-over to the
// writer are timed; then the writer writes the cycle's rows before the next
// tick, as it does between ticks 333 ms apart, and that time is counted apart.
void run_with_archive(benchmark::State& state, const std::vector<std::string>& cycles) {
    Display display(cycles);
    veltaro::data::ReadingAssembler assembler;
    veltaro::data::Archive archive(
        (display.dir.path() / "veltaro.sqlite").string(),
        [](const std::string& message) { throw std::runtime_error(message); });
    assembler.Attach(archive);
    display.m.Sink = &assembler;
    int v = 0;
    double writer_seconds = 0;
    for (auto _ : state) {
        veltaro::IngestExchangeText(display.m, cycles[v++ % kVariants]);
        archive.Commit();
        state.PauseTiming();
        const auto start = Clock::now();
        archive.Flush();
        writer_seconds += std::chrono::duration<double>(Clock::now() - start).count();
        state.ResumeTiming();
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kRecordsPerCycle);
    state.counters["readings_per_cycle"] =
        static_cast<double>(archive.ReadingsAdded()) / iterations;
    state.counters["writer_ms"] = 1e3 * writer_seconds / iterations;
    state.counters["written_readings_per_s"] =
        static_cast<double>(archive.ReadingsAdded()) / writer_seconds;
}

void BM_TypicalWithoutData(benchmark::State& state) {
    run_without_data(state, typical_cycles());
}
void BM_TypicalWithArchive(benchmark::State& state) {
    run_with_archive(state, typical_cycles());
}
void BM_SingleReadingWithoutData(benchmark::State& state) {
    run_without_data(state, single_reading_cycles());
}
void BM_SingleReadingWithArchive(benchmark::State& state) {
    run_with_archive(state, single_reading_cycles());
}

BENCHMARK(BM_TypicalWithoutData)->Unit(benchmark::kMillisecond)->Iterations(kVariants - 1);
BENCHMARK(BM_TypicalWithArchive)->Unit(benchmark::kMillisecond)->Iterations(kVariants - 1);
BENCHMARK(BM_SingleReadingWithoutData)->Unit(benchmark::kMillisecond)->Iterations(kVariants - 1);
BENCHMARK(BM_SingleReadingWithArchive)->Unit(benchmark::kMillisecond)->Iterations(kVariants - 1);

} // namespace

BENCHMARK_MAIN();
