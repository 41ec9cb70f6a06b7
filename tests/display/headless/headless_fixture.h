// veltaro --headless as the tests run it: private configuration, runtime and
// data folders, the simulator on a pseudo-terminal mapped as COM5, and the
// display's standard error kept in a file.
#pragma once

#include "tests/support/records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sstream>

namespace harness {

inline const std::string kBin = VELTARO_BIN_DIR;

class HeadlessTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            ::unsetenv(name);
        }
        fs::create_directories(dir_ / "config/Veltaro");
        fs::create_directories(dir_ / "data");
    }
    void TearDown() override {
        for (const pid_t pid : started_) {
            if (::kill(pid, 0) == 0) {
                wait_exit(pid, 0);
            }
        }
    }

    std::string Data() const { return dir_.file("data"); }

    // groups: further groups of the file, such as "[Feeds]\n...".
    void SaveSettings(const std::string& lines, const std::string& groups = "") {
        write_file(dir_ / "config/Veltaro/Veltaro.conf", "[Settings]\n" + lines + groups);
    }

    // Each runtime folder holds one user's instance lock.
    std::vector<std::string> Environment(const std::string& runtime) const {
        fs::create_directories(dir_ / runtime);
        fs::permissions(dir_ / runtime, fs::perms::owner_all);
        return {"XDG_CONFIG_HOME=" + dir_.file("config"), "XDG_RUNTIME_DIR=" + dir_.file(runtime)};
    }

    // Without --count the simulator sends until it is stopped.
    Child StartSimulator(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {kBin + "/sondrel-sim", "--link", "COM5"});
        Child sim = spawn(options, dir_.path(), Environment("runtime"), true);
        EXPECT_EQ(read_output(sim, true, 30).rfind("/dev/", 0), 0u);
        EXPECT_TRUE(wait_for([&] { return fs::is_symlink(dir_ / "config/Veltaro/ports/COM5"); }));
        started_.push_back(sim.pid);
        return sim;
    }

    // count packets as fast as the line takes them, and the records they must give.
    Child StartCounted(int count, int seed) {
        return StartSimulator({"--count", std::to_string(count), "--seed", std::to_string(seed),
                               "--fast", "--expect", dir_.file("expect.txt")});
    }

    // The raw log's records with times masked, without the decoder's report of
    // the simulator's end as a lost receiver (S,13): what expect.txt holds.
    std::vector<std::string> MaskedRawLog(const std::string& raw_log = "A2RawData.txt") const {
        std::vector<std::string> raw = read_lines(dir_ / "data" / raw_log);
        std::erase_if(raw, [](const std::string& r) { return r.starts_with("S,13,"); });
        std::transform(raw.begin(), raw.end(), raw.begin(), mask_record);
        return raw;
    }

    // veltaro ARGS, its standard error appended to the file errors.
    pid_t StartDisplay(const std::vector<std::string>& args,
                       const std::string& errors = "errors.txt",
                       const std::string& runtime = "runtime") {
        std::vector<std::string> argv = {"/bin/sh", "-c",
                                         "exec \"$0\" \"$@\" 2>>'" + dir_.file(errors) + "'",
                                         kBin + "/veltaro"};
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid =
            spawn(argv, dir_.path(), Environment(runtime), false, dir_.file("console.txt")).pid;
        started_.push_back(pid);
        return pid;
    }

    // Waits until the simulator has sent everything, had every end-of-packet
    // byte back, and the display has logged every record it caused; returns
    // the records the decoder had to make.
    std::vector<std::string> FinishSimulator(Child& sim,
                                             const std::string& raw_log = "A2RawData.txt") {
        const std::string summary = read_output(sim, false, 120);
        EXPECT_EQ(wait_exit(sim.pid, 30), 0) << summary;
        long sent = 0, received = -1, wanted = 0;
        std::sscanf(summary.c_str() + std::min(summary.find("sent "), summary.size()),
                    "sent %ld packets, received %ld end-of-packet bytes, expected %ld", &sent,
                    &received, &wanted);
        EXPECT_GT(sent, 0) << summary;
        EXPECT_EQ(received, wanted) << summary;
        const std::vector<std::string> expected = read_records(dir_ / "expect.txt");
        EXPECT_TRUE(wait_for([&] {
            return read_records(dir_ / "data" / raw_log).size() >= expected.size() &&
                   !fs::exists(dir_ / "data/SondrelMANTout.txt");
        }));
        return expected;
    }

    // count packets through a display from start to end; false when the
    // display did not end cleanly.
    bool RunPackets(int count, int seed) {
        Child sim = StartCounted(count, seed);
        const pid_t display = StartDisplay({"--headless", "--port", "COM5", "--data-dir", Data()});
        FinishSimulator(sim);
        ::kill(display, SIGTERM);
        return wait_exit(display, 30) == 0;
    }

    // The station registry the display reads, and veltaro-decode with it.
    void SaveStations(const std::string& rows) {
        write_file(dir_ / "config/Veltaro/stations.csv",
                   "source,sensor,name,kind,units,multiplier,adder,interval_minutes\n" + rows);
    }

    // What veltaro-decode makes of the display's raw log, one line each.
    std::vector<std::string> Decoded(const std::string& format) {
        const Outcome decoded =
            run({kBin + "/veltaro-decode", "--format", format, "--gmt-offset", "0", "--stations",
                 dir_.file("config/Veltaro/stations.csv"), Data() + "/A2RawData.txt"},
                dir_.path());
        EXPECT_EQ(decoded.status, 0) << decoded.err;
        std::vector<std::string> lines;
        std::istringstream in(decoded.out);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // The processes the display started: its decoder.
    static std::vector<pid_t> Children(pid_t pid) {
        const std::string id = std::to_string(pid);
        std::istringstream in(read_file("/proc/" + id + "/task/" + id + "/children"));
        std::vector<pid_t> children;
        for (pid_t child = 0; in >> child;) {
            children.push_back(child);
        }
        return children;
    }

    TempDir dir_{"veltaro-headless"};
    std::vector<pid_t> started_;
};

} // namespace harness
