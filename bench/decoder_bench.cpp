// The decoder's cost per packet: FEC alone, the whole pipeline from hex
// characters to records in an exchange file, and the MANT stage alone.
#include "bench/bench_support.h"

#include "decoder/fec.h"
#include "decoder/mant.h"
#include "decoder/packet_receiver.h"
#include "decoder/records.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace {

constexpr int kDefaultPayload = 24;
constexpr int kLargestPayload = 17; // with MANT_len 1023: 31 full blocks and a partial one
constexpr int kLargestMantLen = 1023;
constexpr int kTypicalPackets = 200;
constexpr int kPipelineCopies = 50;
constexpr std::uint32_t kSeed = 1;

const std::string& small_stream() {
    static const std::string stream =
        bench::packet_stream(bench::small_mant_data(), kDefaultPayload);
    return stream;
}

const std::string& largest_stream() {
    static const std::string stream =
        bench::packet_stream(bench::largest_mant_data(kSeed), kLargestPayload);
    return stream;
}

const std::vector<std::string>& typical() {
    static const std::vector<std::string> streams =
        bench::typical_streams(kTypicalPackets, kDefaultPayload, kSeed);
    return streams;
}

// A packet's code bytes and, when it has second blocks, their geometry.
struct FecJob {
    bench::CodeBytes code;
    quorvel::SecondBlockGeometry geometry;
    bool second = false;
};

FecJob make_job(quorvel::FecContext& fec, const std::string& stream, int first_payload) {
    FecJob job{bench::code_bytes(stream, first_payload), {}, false};
    std::array<std::uint8_t, quorvel::kMaxFirstPayload> payload{};
    quorvel::decode_first_block(fec, job.code.first, std::span(payload.data(), first_payload));
    const int mant_len = (payload[0] & 3) * 256 + payload[1];
    job.second = quorvel::has_second_blocks(mant_len, first_payload);
    job.geometry = quorvel::second_block_geometry(mant_len, first_payload);
    return job;
}

// First block, then the second blocks, as the receive loop runs them.
int run_fec(quorvel::FecContext& fec, const FecJob& job) {
    std::array<std::uint8_t, quorvel::kMaxFirstPayload> payload{};
    int result = quorvel::decode_first_block(fec, job.code.first,
                                             std::span(payload.data(), fec.first_payload));
    if (job.second) {
        std::array<quorvel::DecodedBlock, quorvel::kMaxSecondBlocks> blocks{};
        result += quorvel::decode_second_blocks(fec, job.geometry, job.code.second, blocks);
        benchmark::DoNotOptimize(blocks);
    }
    return result;
}

void BM_FecFirstBlock(benchmark::State& state) {
    quorvel::FecContext fec;
    quorvel::init_fec(fec, kDefaultPayload);
    const FecJob job = make_job(fec, small_stream(), kDefaultPayload);
    std::array<std::uint8_t, quorvel::kMaxFirstPayload> payload{};
    for (auto _ : state) {
        const int result = quorvel::decode_first_block(fec, job.code.first,
                                                       std::span(payload.data(), kDefaultPayload));
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(payload);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FecFirstBlock);

void BM_FecLargestSecondBlocks(benchmark::State& state) {
    quorvel::FecContext fec;
    quorvel::init_fec(fec, kLargestPayload);
    const FecJob job = make_job(fec, largest_stream(), kLargestPayload);
    if (job.geometry.stream_length != 1520) {
        state.SkipWithError("largest packet does not have the largest second-block group");
        return;
    }
    std::array<quorvel::DecodedBlock, quorvel::kMaxSecondBlocks> blocks{};
    for (auto _ : state) {
        const int count = quorvel::decode_second_blocks(fec, job.geometry, job.code.second, blocks);
        benchmark::DoNotOptimize(count);
        benchmark::DoNotOptimize(blocks);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FecLargestSecondBlocks);

void BM_FecLargestPacket(benchmark::State& state) {
    quorvel::FecContext fec;
    quorvel::init_fec(fec, kLargestPayload);
    const FecJob job = make_job(fec, largest_stream(), kLargestPayload);
    for (auto _ : state) {
        benchmark::DoNotOptimize(run_fec(fec, job));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(largest_stream().size()));
}
BENCHMARK(BM_FecLargestPacket);

void BM_FecTypicalMix(benchmark::State& state) {
    quorvel::FecContext fec;
    quorvel::init_fec(fec, kDefaultPayload);
    std::vector<FecJob> jobs;
    std::int64_t bytes = 0;
    for (const std::string& stream : typical()) {
        jobs.push_back(make_job(fec, stream, kDefaultPayload));
        bytes += static_cast<std::int64_t>(stream.size());
    }
    for (auto _ : state) {
        for (const FecJob& job : jobs) {
            benchmark::DoNotOptimize(run_fec(fec, job));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(jobs.size()));
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_FecTypicalMix);

// Hex characters in, records out: the packet state machine fed in reads of
// the receive loop's size, the MANT stage and a flush to an exchange file
// after each, as the loop runs them.
void run_pipeline(benchmark::State& state, const std::string& stream, int packets,
                  int first_payload) {
    constexpr std::size_t kReadSize = 4096;
    bench::TempDir dir;
    const std::string exchange = (dir.path() / "exchange.txt").string();
    quorvel::FecContext fec;
    quorvel::init_fec(fec, first_payload);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    for (auto _ : state) {
        quorvel::RecordOutput out;
        out.exchange_path = exchange;
        out.console = nullptr;
        quorvel::PacketReceiver receiver(fec, out, [] {});
        for (std::size_t at = 0; at < stream.size(); at += kReadSize) {
            receiver.feed(std::span(bytes + at, std::min(kReadSize, stream.size() - at)));
            quorvel::flush_pending_output(out, quorvel::SteadyClock::now());
        }
        ::unlink(exchange.c_str());
    }
    state.SetItemsProcessed(state.iterations() * packets);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}

std::string repeated(const std::string& stream, int copies) {
    std::string text;
    for (int i = 0; i < copies; ++i) {
        text += stream;
    }
    return text;
}

void BM_PipelineFirstBlockPacket(benchmark::State& state) {
    run_pipeline(state, repeated(small_stream(), kPipelineCopies), kPipelineCopies,
                 kDefaultPayload);
}
BENCHMARK(BM_PipelineFirstBlockPacket);

void BM_PipelineLargestPacket(benchmark::State& state) {
    run_pipeline(state, repeated(largest_stream(), kPipelineCopies), kPipelineCopies,
                 kLargestPayload);
}
BENCHMARK(BM_PipelineLargestPacket);

void BM_PipelineTypicalMix(benchmark::State& state) {
    std::string text;
    for (const std::string& stream : typical()) {
        text += stream;
    }
    run_pipeline(state, text, kTypicalPackets, kDefaultPayload);
}
BENCHMARK(BM_PipelineTypicalMix);

void BM_ProcessPStringLargest(benchmark::State& state) {
    const std::vector<std::string> p_records =
        bench::lines_starting(bench::decode_stream(largest_stream(), kLargestPayload), "P,");
    if (p_records.size() != 1) {
        state.SkipWithError("the largest packet gave no P record");
        return;
    }
    const std::string record = p_records.front() + "\r\n";
    quorvel::RecordOutput out;
    out.console = nullptr;
    for (auto _ : state) {
        out.pending.clear();
        quorvel::process_p_string(record, kLargestPayload, out);
        benchmark::DoNotOptimize(out.pending);
    }
    state.counters["record_bytes"] = static_cast<double>(record.size());
    state.counters["n_record_bytes"] = static_cast<double>(out.pending.size());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProcessPStringLargest);

} // namespace

BENCHMARK_MAIN();
