// bench-live: the decoder as a running program on a pseudo-terminal. Measures
// the processor time of an idle decoder and the delay from the last character
// of a packet to its records in the exchange file. Prints key=value lines.
#include "bench/bench_support.h"

#include "simulator/pty.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
    std::string quorvel;
    int packets = 1000;
    int idle_seconds = 10;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--quorvel") {
            o.quorvel = argv[i + 1];
        } else if (key == "--packets") {
            o.packets = std::atoi(argv[i + 1]);
        } else if (key == "--idle-seconds") {
            o.idle_seconds = std::atoi(argv[i + 1]);
        }
    }
    if (o.quorvel.empty()) {
        std::fprintf(stderr, "usage: bench-live --quorvel PATH [--packets N] [--idle-seconds S]\n");
        std::exit(1);
    }
    return o;
}

pid_t start_decoder(const Options& o, const std::string& device, const std::string& exchange) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {o.quorvel, "-p" + device, "-e" + exchange};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, o.quorvel.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", o.quorvel.c_str(), std::strerror(rc));
        std::exit(1);
    }
    return pid;
}

// utime + stime of a process, in clock ticks.
long long cpu_ticks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t paren = stat.rfind(')');
    if (paren == std::string::npos) {
        return -1;
    }
    // Fields after the name: state is field 3; utime and stime are 14 and 15.
    std::istringstream fields(stat.substr(paren + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14) {
            utime = std::stoll(field);
        } else if (n == 15) {
            stime = std::stoll(field);
        }
    }
    return utime + stime;
}

void drain(int master) {
    char sink[256];
    pollfd p{master, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
        if (::read(master, sink, sizeof sink) <= 0) {
            return;
        }
    }
}

void write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            std::perror("write to pseudo-terminal");
            std::exit(1);
        } else {
            std::this_thread::sleep_for(1ms);
        }
    }
}

off_t file_size(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : 0;
}

// Waits until the exchange file has grown past `from` and ends a record.
bool wait_for_records(int notify, const std::string& path, off_t from, Clock::time_point deadline) {
    for (;;) {
        const off_t size = file_size(path);
        if (size > from) {
            std::ifstream in(path, std::ios::binary);
            in.seekg(size - 3);
            char tail[3] = {};
            in.read(tail, 3);
            if (in && std::string_view(tail, 3) == "\r\r\n") {
                return true;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{notify, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) > 0) {
            char events[4096];
            [[maybe_unused]] ssize_t n = ::read(notify, events, sizeof events);
        }
    }
}

void measure_idle(const Options& o, pid_t pid) {
    std::this_thread::sleep_for(1s); // start-up is not idleness
    const long long before = cpu_ticks(pid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(o.idle_seconds));
    const long long after = cpu_ticks(pid);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double ticks_per_second = static_cast<double>(::sysconf(_SC_CLK_TCK));
    const double cpu = static_cast<double>(after - before) / ticks_per_second;
    std::printf("idle_wall_s=%.2f\nidle_cpu_ticks=%lld\nidle_cpu_s=%.3f\nidle_cpu_percent=%.3f\n",
                wall, after - before, cpu, 100.0 * cpu / wall);
}

void measure_latency(const Options& o, int master, const std::string& exchange) {
    const int notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    const std::string folder = exchange.substr(0, exchange.rfind('/'));
    ::inotify_add_watch(notify, folder.c_str(), IN_MODIFY | IN_CREATE);

    const std::vector<std::string> streams = bench::typical_streams(o.packets, 24, 7);
    std::vector<double> micros;
    int lost = 0;
    for (const std::string& stream : streams) {
        // "x", the digits, CR LF: everything up to the last digit goes ahead,
        // as the line would have brought it while the packet was on the air.
        const std::size_t last = stream.find_last_of("0123456789ABCDEF");
        write_all(master, std::string_view(stream).substr(0, last));
        std::this_thread::sleep_for(20ms);
        drain(master);
        const off_t from = file_size(exchange);
        const auto start = Clock::now();
        write_all(master, std::string_view(stream).substr(last, 1));
        if (wait_for_records(notify, exchange, from, start + 5s)) {
            micros.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        } else {
            ++lost;
        }
        write_all(master, std::string_view(stream).substr(last + 1));
    }
    ::close(notify);
    std::sort(micros.begin(), micros.end());
    if (micros.empty()) {
        std::printf("latency_packets=0\nlatency_missing=%d\n", lost);
        return;
    }
    const auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))];
    };
    std::printf("latency_packets=%zu\nlatency_missing=%d\nlatency_median_us=%.0f\n"
                "latency_p99_us=%.0f\nlatency_worst_us=%.0f\n",
                micros.size(), lost, at(0.5), at(0.99), micros.back());
}

} // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    bench::TempDir dir;
    const std::string exchange = (dir.path() / "SondrelMANTout.txt").string();
    sondrel::PseudoTerminal pty;
    const pid_t pid = start_decoder(o, pty.device(), exchange);

    const auto deadline = Clock::now() + 10s;
    while (!pty.reader_present() && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    if (!pty.reader_present()) {
        std::fprintf(stderr, "the decoder did not open %s\n", pty.device().c_str());
        ::kill(pid, SIGTERM);
        return 1;
    }
    if (o.idle_seconds > 0) {
        measure_idle(o, pid);
    }
    if (o.packets > 0) {
        measure_latency(o, pty.master(), exchange);
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return 0;
}
