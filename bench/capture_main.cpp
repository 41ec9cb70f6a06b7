// bench-capture: writes a receiver capture of the largest AirLink frames
// (MANT_len 1023) for "quorvel -p FILE" to replay; the simulator's scenario
// draws frame sizes at random and has no such mode.
#include "bench/bench_support.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    long count = 0;
    int first_payload = 17;
    std::string output;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--count") {
            count = std::atol(argv[i + 1]);
        } else if (key == "-l") {
            first_payload = std::atoi(argv[i + 1]);
        } else if (key == "--output") {
            output = argv[i + 1];
        }
    }
    if (count <= 0 || output.empty() || first_payload < 17 || first_payload > 32) {
        std::fprintf(stderr, "usage: bench-capture --count N [-l 17..32] --output FILE\n");
        return 1;
    }
    const std::string stream = bench::packet_stream(bench::largest_mant_data(1), first_payload);
    std::string capture;
    capture.reserve(stream.size() * static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) {
        capture += stream;
    }
    bench::write_file(output, capture);
    return 0;
}
