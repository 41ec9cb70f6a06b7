// The exchange-file hand-over between the real decoder and the display core:
// every record the decoder logs reaches the display's raw data log exactly
// once and in order, under load and when the display is killed at any moment.
#include "reliability_support.h"

#include "display/decoding/memory_controls.h"
#include "display/decoding/procedures.h"

#include <iostream>
#include <random>

namespace reliability {
namespace {

struct HandOverFigures {
    long long packets = 0;
    std::size_t records = 0;
    int kills = 0;
    double seconds = 0;
};

struct HandOverRun {
    int tick_ms;
    int packets;
    bool kill_display; // SIGKILL and restart the display at random moments
};

Child StartRunner(const TempDir& dir, int tick_ms) {
    return spawn({kRunner, "--data-dir", dir.path().string(), "--tick-ms", std::to_string(tick_ms)},
                 dir.path(), {}, false, dir.file("runner.txt"));
}

bool ExchangeConsumed(const TempDir& dir) {
    return !fs::exists(dir.file("SondrelMANTout.txt")) &&
           !fs::exists(dir.file("SondrelMANTout.txt.claimed"));
}

// Kills the display at random moments until the simulator has ended; returns
// the number of kills.
int KillDisplayRepeatedly(const TempDir& dir, Child& runner, const Child& sim, int tick_ms) {
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("kill seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause_ms(10, 400);
    int kills = 0;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
        ::kill(runner.pid, SIGKILL);
        EXPECT_EQ(wait_exit(runner.pid, 30), 128 + SIGKILL);
        ++kills;
        runner = StartRunner(dir, tick_ms);
        siginfo_t info{};
        if (kills >= 8 &&
            ::waitid(P_PID, static_cast<id_t>(sim.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == sim.pid) {
            return kills;
        }
    }
}

HandOverFigures RunHandOver(const HandOverRun& run) {
    HandOverFigures figures;
    const auto started = Clock::now();
    TempDir dir;
    const std::string config = "XDG_CONFIG_HOME=" + dir.file("config");
    Child sim = spawn({kBin + "/sondrel-sim", "--link", "COM5", "--count",
                       std::to_string(run.packets), "--fast", "--seed", "7"},
                      dir.path(), {config}, true);
    EXPECT_GT(sim.pid, 0);
    EXPECT_FALSE(read_output(sim, true, 30).empty());
    Child decoder =
        spawn({kBin + "/quorvel", "-pCOM5", "-e", "SondrelMANTout.txt", "-o", "decoder-log.txt"},
              dir.path(), {config}, false, dir.file("console.txt"));
    Child runner = StartRunner(dir, run.tick_ms);

    if (run.kill_display) {
        figures.kills = KillDisplayRepeatedly(dir, runner, sim, run.tick_ms);
    }
    const std::string summary = read_output(sim, false, 600);
    EXPECT_EQ(wait_exit(sim.pid, 30), 0);
    ::close(sim.output);
    const std::string sent = std::to_string(run.packets);
    EXPECT_NE(summary.find("sent " + sent + " packets, received " +
                           std::to_string(5LL * run.packets) + " end-of-packet bytes"),
              std::string::npos)
        << summary;
    figures.packets = run.packets;

    ::kill(decoder.pid, SIGTERM);
    EXPECT_EQ(wait_exit(decoder.pid, 60), 0);
    EXPECT_TRUE(wait_for([&] { return ExchangeConsumed(dir); }, 300));
    ::kill(runner.pid, SIGTERM);
    EXPECT_EQ(wait_exit(runner.pid, 60), 0);

    const std::vector<std::string> decoded = read_lines(dir.file("decoder-log.txt"));
    const std::vector<std::string> displayed = read_lines(dir.file("A2RawData.txt"));
    EXPECT_GT(decoded.size(), static_cast<std::size_t>(run.packets));
    // Exactly once and in order: the two sequences are equal.
    EXPECT_EQ(displayed.size(), decoded.size());
    EXPECT_TRUE(displayed == decoded);
    figures.records = displayed.size();

    // The header and report logs are what the display core gives for the
    // decoder's log read in steady cycles, without a kill or a race.
    fs::create_directories(dir.path() / "reference");
    write_reference_logs(dir.file("decoder-log.txt"), dir.file("reference"));
    for (const char* log : {"A2RawData.txt", "A2Headers.txt", "A2Reports.txt"}) {
        EXPECT_TRUE(read_file(dir.file(log)) ==
                    read_file(dir.file(std::string("reference/") + log)))
            << log;
    }
    figures.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return figures;
}

void Report(const char* name, const HandOverFigures& f) {
    std::cout << name << ": packets sent " << f.packets << ", records checked " << f.records
              << ", display kills " << f.kills << ", lost 0, duplicated 0 (" << f.seconds
              << " s)\n";
    ::testing::Test::RecordProperty("packets", std::to_string(f.packets));
    ::testing::Test::RecordProperty("records", std::to_string(f.records));
}

TEST(HandOver, EveryRecordReachesTheRawLogOnceOnATick) {
    Report("333 ms tick", RunHandOver({333, 20000, false}));
}

TEST(HandOver, EveryRecordReachesTheRawLogOnceIngestingFlatOut) {
    Report("back-to-back cycles", RunHandOver({0, 20000, false}));
}

TEST(HandOver, DisplayKilledAtRandomMomentsLosesAndDoublesNothing) {
    Report("display killed and restarted", RunHandOver({0, 6000, true}));
}

// ---- A kill at every point of one pass, in a child process ----

constexpr const char* kGoodRecord = "N,2026,12,07,06,41,0.8770,0,0,0,0,0,0,0,0,0,6,19,29516,64,"
                                    "5D,FB,02,06,01,12,10,E4,FB,C6,01,06,02,34,3F,F9,99,9A";

// Ends the process at the given list insertion, as a SIGKILL would: no
// destructor, no flush, nothing after it.
class DyingControls : public veltaro::MemoryControls {
public:
    DyingControls(std::string folder, int die_at)
        : MemoryControls(std::move(folder)), die_at_(die_at) {}
    void InsertTop(veltaro::ListId list, const std::string& text) override {
        if (++inserted == die_at_) {
            _exit(0);
        }
        MemoryControls::InsertTop(list, text);
    }
    int inserted = 0;

private:
    int die_at_;
};

// Runs cycles until the exchange file and any claimed file are consumed;
// returns the number of list insertions.
int IngestAll(const TempDir& dir, int die_at) {
    DyingControls ui(dir.path().string(), die_at);
    set_up_display(ui);
    veltaro::MStart m(ui);
    for (int i = 0; i < 3; ++i) {
        veltaro::IngestExchangeFile(m);
    }
    return ui.inserted;
}

std::string Logs(const TempDir& dir) {
    return read_file(dir.file("A2RawData.txt")) + "|" + read_file(dir.file("A2Headers.txt")) + "|" +
           read_file(dir.file("A2Reports.txt"));
}

TEST(HandOver, KillAtAnyLineOfAPassIsUndoneAndRedoneOnce) {
    const std::string content = std::string("S,1,first\r\r\n") + kGoodRecord +
                                "\r\r\nP,0,second\r\r\n" + kGoodRecord + "\r\r\n";
    TempDir clean("reliability-clean");
    write_file(clean.file("SondrelMANTout.txt"), content);
    const int insertions = IngestAll(clean, -1);
    ASSERT_GT(insertions, 10);
    const std::string expected = read_file(clean.file("A2RawData.txt")) + "S,2,later\r\n|" +
                                 read_file(clean.file("A2Headers.txt")) + "|" +
                                 read_file(clean.file("A2Reports.txt"));
    ASSERT_NE(read_file(clean.file("A2Reports.txt")), "");

    for (int die_at = 1; die_at <= insertions; ++die_at) {
        SCOPED_TRACE("killed at insertion " + std::to_string(die_at));
        TempDir dir;
        write_file(dir.file("SondrelMANTout.txt"), content);
        const pid_t child = ::fork();
        if (child == 0) {
            IngestAll(dir, die_at);
            _exit(1); // did not die where it should have
        }
        ASSERT_EQ(wait_exit(child, 60), 0);
        EXPECT_TRUE(fs::exists(dir.file("SondrelMANTout.txt.claimed")));
        // The restarted display, while the decoder writes on.
        write_file(dir.file("SondrelMANTout.txt"), "S,2,later\r\r\n");
        IngestAll(dir, -1);
        EXPECT_EQ(Logs(dir), expected);
        EXPECT_FALSE(fs::exists(dir.file("SondrelMANTout.txt.claimed")));
        EXPECT_FALSE(fs::exists(dir.file("SondrelMANTout.txt.claimed-logs")));
    }
}

} // namespace
} // namespace reliability
