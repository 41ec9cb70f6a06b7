// sondrel-sim as a program: capture files, the pseudo-terminal with its
// port-map entry, the end-of-packet count and the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kSim = std::string(VELTARO_BIN_DIR) + "/sondrel-sim";
constexpr auto kDeadline = std::chrono::seconds(30);

// A running sondrel-sim with its standard output and error on pipes.
class SimProcess {
public:
    SimProcess(const std::vector<std::string>& args, const fs::path& config_home) {
        int out[2];
        int err[2];
        if (pipe(out) != 0 || pipe(err) != 0) {
            throw std::runtime_error("pipe");
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            close(out[0]);
            close(err[0]);
            setenv("XDG_CONFIG_HOME", config_home.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(kSim.c_str())};
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(kSim.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~SimProcess() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    // One line of standard output (without LF), or "" at the deadline/end.
    std::string read_line() {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (std::chrono::steady_clock::now() < deadline) {
            auto lf = stdout_.find('\n');
            if (lf != std::string::npos) {
                std::string line = stdout_.substr(0, lf);
                stdout_.erase(0, lf + 1);
                return line;
            }
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buffer[256];
                ssize_t n = read(out_, buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                stdout_.append(buffer, static_cast<std::size_t>(n));
            }
        }
        return {};
    }

    int wait_exit() {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (status_ < 0 && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else {
                poll(nullptr, 0, 20);
            }
        }
        return status_;
    }

    std::string stderr_text() {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while ((n = read(err_, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int status_ = -1;
    std::string stdout_;
};

class SondrelSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("sondrel-sim-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const std::string& name) const { return (dir_ / name).string(); }

    static std::vector<std::string> lines_of(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir_;
};

int open_raw(const std::string& device) {
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Reads the stream until `packets` packets (each closed by CR LF) have come,
// answering each with the five end-of-packet bytes as the decoder would.
std::string read_packets(int fd, int packets) {
    std::string stream;
    int seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (seen < packets && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buffer[1024];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            stream.push_back(buffer[i]);
            if (stream.size() >= 2 && stream.compare(stream.size() - 2, 2, "\r\n") == 0) {
                ++seen;
                const char zeros[5] = {};
                EXPECT_EQ(write(fd, zeros, sizeof zeros), 5);
            }
        }
    }
    return stream;
}

} // namespace

TEST_F(SondrelSimTest, CaptureHasOneRecordPerPacketAndIsDeterministicForASeed) {
    struct Case {
        std::vector<std::string> faults;
        bool only_p;
    };
    const Case cases[] = {{{}, true}, {{"--faults", "60"}, false}};
    for (const Case& c : cases) {
        std::vector<std::string> args{"--count", "40",         "--seed", "12",
                                      "--time",  "1700000000", "-l",     "20"};
        args.insert(args.end(), c.faults.begin(), c.faults.end());
        std::vector<std::string> run1 = args, run2 = args;
        for (auto* run : {&run1, &run2}) {
            const std::string tag = run == &run1 ? "1" : "2";
            run->insert(run->end(), {"--output", file("cap" + tag), "--expect", file("exp" + tag)});
        }
        SimProcess a(run1, dir_);
        EXPECT_EQ(a.read_line(), "sent 40 packets, received 0 end-of-packet bytes, expected 200");
        ASSERT_EQ(a.wait_exit(), 0);
        SimProcess b(run2, dir_);
        ASSERT_EQ(b.wait_exit(), 0);

        const std::string capture = contents(file("cap1"));
        EXPECT_EQ(capture, contents(file("cap2")));
        EXPECT_EQ(lines_of(file("exp1")), lines_of(file("exp2")));
        EXPECT_EQ(std::count(capture.begin(), capture.end(), 'x'), 40);

        int packet_records = 0, p_records = 0;
        for (const std::string& line : lines_of(file("exp1"))) {
            ASSERT_TRUE(line.starts_with("P,") || line.starts_with("N,") || line.starts_with("S,"))
                << line;
            EXPECT_EQ(line.find('\r'), std::string::npos);
            p_records += line.starts_with("P,");
            packet_records += line.starts_with("P,") || line.starts_with("S,1,") ||
                              line.starts_with("S,2,") || line.starts_with("S,3,");
        }
        EXPECT_EQ(packet_records, 40);
        if (c.only_p) {
            EXPECT_EQ(p_records, 40);
        } else {
            EXPECT_LT(p_records, 40);
        }
    }
}

TEST_F(SondrelSimTest, PseudoTerminalWaitsForItsReaderAndCountsEndOfPacketBytes) {
    SimProcess sim({"--count", "4", "--fast", "--link", "COM61", "--seed", "3"}, dir_);
    const std::string device = sim.read_line();
    ASSERT_TRUE(device.starts_with("/dev/pts/")) << device;
    const fs::path link = dir_ / "Veltaro" / "ports" / "COM61";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link).string(), device);

    // No reader yet: the simulator must hold the stream back, not lose it.
    poll(nullptr, 0, 300);
    int fd = open_raw(device);
    ASSERT_GE(fd, 0);
    const std::string stream = read_packets(fd, 4);
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(stream[0], 'x');
    EXPECT_EQ(std::count(stream.begin(), stream.end(), 'x'), 4);
    EXPECT_EQ(stream.find_first_not_of("x0123456789ABCDEF\r\n"), std::string::npos);

    EXPECT_EQ(sim.read_line(), "sent 4 packets, received 20 end-of-packet bytes, expected 20");
    EXPECT_EQ(sim.wait_exit(), 0);
    close(fd);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(SondrelSimTest, TerminationEndsAnUnboundedRunAndRemovesItsPortEntry) {
    SimProcess sim({"--fast", "--link", "com62"}, dir_);
    const std::string device = sim.read_line();
    ASSERT_FALSE(device.empty());
    // Port names are matched in any case; the entry carries the name the
    // resolver looks for.
    const fs::path link = dir_ / "Veltaro" / "ports" / "COM62";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "Veltaro" / "ports" / "com62")));
    int fd = open_raw(device);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(read_packets(fd, 2).empty());
    kill(sim.pid(), SIGTERM);
    const std::string summary = sim.read_line();
    EXPECT_TRUE(summary.starts_with("sent ")) << summary;
    EXPECT_EQ(sim.wait_exit(), 0);
    close(fd);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(SondrelSimTest, BadOptionsPrintTheUsageAndEndWithStatusOne) {
    const std::vector<std::vector<std::string>> bad = {
        {"-l", "16"},
        {"-l", "33"},
        {"--count", "x"},
        {"--fault-block", "middle"},
        {"--output", "f"},
        {"--rs-fail", "60", "--truncate", "50", "--count", "1"},
        {"--link", "ttyS0", "--count", "1"},
        {"extra"},
    };
    for (const auto& args : bad) {
        SimProcess sim(args, dir_);
        const int status = sim.wait_exit();
        EXPECT_EQ(status, 1) << args[0];
        EXPECT_NE(sim.stderr_text().find("Usage: sondrel-sim"), std::string::npos) << args[0];
    }
    SimProcess help({"--help"}, dir_);
    EXPECT_EQ(help.read_line(), "Usage: sondrel-sim [options]");
    EXPECT_EQ(help.wait_exit(), 0);
}
