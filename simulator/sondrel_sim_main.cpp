// sondrel-sim: plays the radio receiver on a pseudo-terminal (or into a file).
#include "common/port_names.h"
#include "simulator/pty.h"
#include "simulator/scenario.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <getopt.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kCharsPerSecond = 19200.0 / 10.0;
constexpr int kEndOfPacketBytes = 5;
constexpr long kPaceChunk = 32;
constexpr auto kDrainTime = std::chrono::seconds(10);

const char kUsage[] =
    R"(Usage: sondrel-sim [options]
Plays the radio receiver: sends ALERT2 traffic as "x" + uppercase hex AirLink
frames, the way the receiver does, and counts the end-of-packet bytes (0x00)
the decoder writes back.

Without --output it opens a pseudo-terminal and prints the path of its device
as the first line of standard output; sending starts once a reader has opened
that device. With --count it prints, at the end, one summary line:
  sent N packets, received M end-of-packet bytes, expected E
(E = 5 per packet) and ends with status 0. Without --count it runs until
SIGINT or SIGTERM, then prints the summary line the same way.

Options:
  --link COMn      also create the port-map entry COMn (a link to the device in
                   $XDG_CONFIG_HOME/Veltaro/ports, default ~/.config/...), so
                   that "quorvel -pCOMn" finds it; removed when the program ends
  --count N        send N packets, wait up to 10 s for the end-of-packet bytes,
                   print the summary and end
  --seed S         scenario seed (default 1): the same seed (and --time) gives
                   the same stations, reports, faults and expected records
  --time T         application time stamps start at T (seconds since 1970
                   UTC) and advance one second per packet, so that a seed
                   gives the same stream every run (default: the system clock
                   when each packet is made)
  -l L             first-block payload length, 17..32 (default 24); the
                   decoder must run with the same -l
  --fast           send as fast as the reader takes it (default: paced at
                   19200 baud, 1920 characters a second)
  --output FILE    write the byte stream to FILE instead of a pseudo-terminal
                   (needs --count); "quorvel -p FILE -e out.txt" replays it
  --expect FILE    write the records the decoder must produce, one per line
                   (LF), as the decoder writes them except that the six
                   timestamp fields are "T" and the timing fields "U"
  --help           this text

Faults (percent of packets; at most one fault per packet, sum at most 100):
  --code-errors P  scattered code-bit errors that the Viterbi decoder fixes
  --rs-errors P    1..8 Reed-Solomon symbol errors in one block (corrected;
                   rs_errs shows the count)
  --rs-fail P      12..16 symbol errors: the block is uncorrectable (S,1 for a
                   first block; rs_errs -1 and its MANT packets skipped for a
                   second block)
  --non-hex P      one digit replaced by a character that is not an uppercase
                   hex digit (lowercase hex included): S,2 or S,3
  --truncate P     the packet stops early; the next packet's "x" aborts it
                   with S,2 or S,3
  --overlong P     the last MANT packet of the frame claims more bytes than the
                   frame holds: S,12 Error 5
  --faults P       P percent of packets get one of the six faults above
  --fault-block first|second|any
                   the block that symbol errors, non-hex characters and
                   truncation hit (default any)
)";

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int) {
    g_stop = 1;
}

struct Options {
    std::optional<std::string> link;
    std::optional<long> count;
    std::string output;
    std::string expect;
    bool fast = false;
    sondrel::ScenarioOptions scenario;
};

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "sondrel-sim: %s\n\n%s", message.c_str(), kUsage);
    std::exit(1);
}

long number(const char* text, long low, long high, const char* what) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) {
        usage_error(std::string("bad ") + what + ": " + text);
    }
    return value;
}

Options parse(int argc, char** argv) {
    enum {
        kLink = 256,
        kCount,
        kSeed,
        kTime,
        kFast,
        kOutput,
        kExpect,
        kHelp,
        kCode,
        kRs,
        kRsFail,
        kNonHex,
        kTruncate,
        kOverlong,
        kFaults,
        kFaultBlock
    };
    static const option longs[] = {
        {"link", required_argument, nullptr, kLink},
        {"count", required_argument, nullptr, kCount},
        {"seed", required_argument, nullptr, kSeed},
        {"time", required_argument, nullptr, kTime},
        {"fast", no_argument, nullptr, kFast},
        {"output", required_argument, nullptr, kOutput},
        {"expect", required_argument, nullptr, kExpect},
        {"help", no_argument, nullptr, kHelp},
        {"code-errors", required_argument, nullptr, kCode},
        {"rs-errors", required_argument, nullptr, kRs},
        {"rs-fail", required_argument, nullptr, kRsFail},
        {"non-hex", required_argument, nullptr, kNonHex},
        {"truncate", required_argument, nullptr, kTruncate},
        {"overlong", required_argument, nullptr, kOverlong},
        {"faults", required_argument, nullptr, kFaults},
        {"fault-block", required_argument, nullptr, kFaultBlock},
        {nullptr, 0, nullptr, 0},
    };
    Options o;
    sondrel::FaultRates& f = o.scenario.faults;
    int c;
    while ((c = getopt_long(argc, argv, "l:", longs, nullptr)) != -1) {
        switch (c) {
        case 'l':
            o.scenario.first_payload = static_cast<int>(number(optarg, 17, 32, "-l"));
            break;
        case kLink:
            o.link = optarg;
            break;
        case kCount:
            o.count = number(optarg, 0, 100000000, "--count");
            break;
        case kSeed:
            o.scenario.seed = static_cast<std::uint32_t>(number(optarg, 0, 4294967295L, "--seed"));
            break;
        case kTime:
            o.scenario.start_time = number(optarg, 0, 1L << 40, "--time");
            break;
        case kFast:
            o.fast = true;
            break;
        case kOutput:
            o.output = optarg;
            break;
        case kExpect:
            o.expect = optarg;
            break;
        case kHelp:
            std::fputs(kUsage, stdout);
            std::exit(0);
        case kCode:
            f.code_bits = static_cast<int>(number(optarg, 0, 100, "--code-errors"));
            break;
        case kRs:
            f.rs_corrected = static_cast<int>(number(optarg, 0, 100, "--rs-errors"));
            break;
        case kRsFail:
            f.rs_failed = static_cast<int>(number(optarg, 0, 100, "--rs-fail"));
            break;
        case kNonHex:
            f.non_hex = static_cast<int>(number(optarg, 0, 100, "--non-hex"));
            break;
        case kTruncate:
            f.truncated = static_cast<int>(number(optarg, 0, 100, "--truncate"));
            break;
        case kOverlong:
            f.overlong = static_cast<int>(number(optarg, 0, 100, "--overlong"));
            break;
        case kFaults: {
            const int p = static_cast<int>(number(optarg, 0, 100, "--faults"));
            int* kinds[] = {&f.code_bits, &f.rs_corrected, &f.rs_failed,
                            &f.non_hex,   &f.truncated,    &f.overlong};
            for (int i = 0; i < 6; ++i) {
                *kinds[i] = p / 6 + (i < p % 6 ? 1 : 0);
            }
            break;
        }
        case kFaultBlock: {
            const std::string b = optarg;
            if (b == "first") {
                f.block = sondrel::FaultBlock::first;
            } else if (b == "second") {
                f.block = sondrel::FaultBlock::second;
            } else if (b == "any") {
                f.block = sondrel::FaultBlock::any;
            } else {
                usage_error("bad --fault-block: " + b);
            }
            break;
        }
        default:
            usage_error("unknown option");
        }
    }
    if (optind < argc) {
        usage_error(std::string("unexpected argument: ") + argv[optind]);
    }
    if (f.total() > 100) {
        usage_error("fault percentages add up to more than 100");
    }
    if (o.link && !common::com_port_number(*o.link)) {
        usage_error("--link needs a port name COMn: " + *o.link);
    }
    if (!o.output.empty() && !o.count) {
        usage_error("--output needs --count");
    }
    return o;
}

// Writes the expected records as packets go out.
class ExpectWriter {
public:
    explicit ExpectWriter(const std::string& path) {
        if (!path.empty()) {
            file_.open(path, std::ios::binary | std::ios::trunc);
            if (!file_) {
                throw std::runtime_error("cannot write " + path);
            }
        }
    }
    void add(const sondrel::EncodedPacket& packet) {
        if (file_.is_open()) {
            for (const std::string& line : packet.expected) {
                file_ << line << '\n';
            }
            file_.flush();
        }
    }

private:
    std::ofstream file_;
};

void print_summary(long sent, long received) {
    std::printf("sent %ld packets, received %ld end-of-packet bytes, expected %ld\n", sent,
                received, sent * kEndOfPacketBytes);
    std::fflush(stdout);
}

int write_capture(const Options& o) {
    std::ofstream out(o.output, std::ios::binary | std::ios::trunc);
    if (!out) {
        std::fprintf(stderr, "sondrel-sim: cannot write %s\n", o.output.c_str());
        return 1;
    }
    ExpectWriter expect(o.expect);
    sondrel::Scenario scenario(o.scenario);
    long sent = 0;
    for (; sent < *o.count && !g_stop; ++sent) {
        sondrel::EncodedPacket packet = scenario.next(sent + 1 == *o.count);
        out << packet.stream;
        expect.add(packet);
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "sondrel-sim: writing %s failed\n", o.output.c_str());
        return 1;
    }
    print_summary(sent, 0);
    return 0;
}

// Sends on the pseudo-terminal at the line rate (or as fast as the reader
// takes it) and counts the end-of-packet bytes that come back.
class Link {
public:
    Link(sondrel::PseudoTerminal& pty, bool fast) : pty_(pty), fast_(fast) {}

    // False when stopped before a reader came.
    bool wait_for_reader() {
        while (!g_stop && !pty_.reader_present()) {
            poll(nullptr, 0, 20);
        }
        restart_pacing();
        return !g_stop;
    }

    // Sends one packet whole to one reader; false when stopped.
    bool send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            if (g_stop) {
                return false;
            }
            if (!pty_.reader_present()) {
                // A reader that only looked at the port (a port probe) took
                // part of the packet; the next reader gets all of it.
                if (!wait_for_reader()) {
                    return false;
                }
                done = 0;
            }
            std::size_t allowed = bytes.size() - done;
            int timeout = 100;
            if (!fast_) {
                const double elapsed =
                    std::chrono::duration<double>(Clock::now() - pace_start_).count();
                // Whole chunks keep the write and wake-up count low; at the
                // line rate a chunk of 32 characters takes about 17 ms.
                const long due = static_cast<long>(elapsed * kCharsPerSecond) - paced_;
                const long chunk = std::min<long>(kPaceChunk, static_cast<long>(allowed));
                if (due < chunk) {
                    allowed = 0;
                    timeout = static_cast<int>((chunk - due) * 1000 / kCharsPerSecond) + 1;
                } else {
                    allowed = std::min<std::size_t>(allowed, static_cast<std::size_t>(due));
                    timeout = 0;
                }
            }
            pollfd p{pty_.master(), static_cast<short>(POLLIN | (allowed ? POLLOUT : 0)), 0};
            if (poll(&p, 1, timeout) < 0) {
                continue;
            }
            if (p.revents & POLLIN) {
                drain();
            }
            if (allowed && (p.revents & POLLOUT)) {
                ssize_t n = ::write(pty_.master(), bytes.data() + done, allowed);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    paced_ += n;
                }
            }
        }
        return true;
    }

    // Waits for the expected end-of-packet bytes, at most kDrainTime.
    void wait_for_replies(long expected) {
        const auto deadline = Clock::now() + kDrainTime;
        while (!g_stop && received_ < expected && Clock::now() < deadline) {
            pollfd p{pty_.master(), POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                if (p.revents & POLLIN) {
                    drain();
                } else if (p.revents & POLLHUP) {
                    break; // the reader is gone: nothing more will come
                }
            }
        }
    }

    long received() const { return received_; }

private:
    void restart_pacing() {
        pace_start_ = Clock::now();
        paced_ = 0;
    }

    void drain() {
        char buffer[512];
        ssize_t n;
        while ((n = ::read(pty_.master(), buffer, sizeof buffer)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                received_ += buffer[i] == 0 ? 1 : 0;
            }
        }
    }

    sondrel::PseudoTerminal& pty_;
    bool fast_;
    Clock::time_point pace_start_ = Clock::now();
    long paced_ = 0;
    long received_ = 0;
};

int play_on_pty(const Options& o) {
    sondrel::PseudoTerminal pty;
    // The port entry exists before anyone learns the device's name.
    std::unique_ptr<sondrel::PortLink> link;
    if (o.link) {
        link = std::make_unique<sondrel::PortLink>(*o.link, pty.device());
    }
    std::printf("%s\n", pty.device().c_str());
    std::fflush(stdout);
    ExpectWriter expect(o.expect);
    sondrel::Scenario scenario(o.scenario);
    Link line(pty, o.fast);
    long sent = 0;
    if (line.wait_for_reader()) {
        while (!g_stop && (!o.count || sent < *o.count)) {
            sondrel::EncodedPacket packet = scenario.next(o.count && sent + 1 == *o.count);
            if (!line.send(packet.stream)) {
                break;
            }
            expect.add(packet);
            ++sent;
        }
        line.wait_for_replies(sent * kEndOfPacketBytes);
    }
    print_summary(sent, line.received());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(s, &sa, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return o.output.empty() ? play_on_pty(o) : write_capture(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sondrel-sim: %s\n", e.what());
        return 1;
    }
}
