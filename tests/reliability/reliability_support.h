// Helpers for the end-to-end reliability tests: temporary folders, the real
// programs as child processes, and records read back from the files.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace reliability {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline const std::string kBin = VELTARO_BIN_DIR;
inline const std::string kRunner = RELIABILITY_RUNNER;

class TempDir {
public:
    explicit TempDir(const std::string& suffix = "") {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() / (std::string("reliability-") + info->name() + "-" +
                                             std::to_string(::getpid()) + suffix);
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Lines of a file ended by LF, without their trailing CRs; empty lines dropped.
inline std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(path));
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

inline bool wait_for(const std::function<bool()>& condition, int seconds = 60) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

struct Child {
    pid_t pid = -1;
    int output = -1; // standard output when captured
};

// Starts argv[0] in folder; standard output to a pipe (capture) or a file.
inline Child spawn(const std::vector<std::string>& argv, const fs::path& folder,
                   const std::vector<std::string>& env = {}, bool capture = false,
                   const std::string& output_file = "/dev/null") {
    int fds[2] = {-1, -1};
    if (capture && ::pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        for (const std::string& entry : env) {
            ::putenv(const_cast<char*>(entry.c_str()));
        }
        const int out =
            capture ? fds[1] : ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(out, STDOUT_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        _exit(127);
    }
    if (capture) {
        ::close(fds[1]);
    }
    return {pid, capture ? fds[0] : -1};
}

// Reads the child's output until a line end (first_line) or its end.
inline std::string read_output(const Child& child, bool first_line, int seconds) {
    std::string text;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (first_line && text.find('\n') != std::string::npos) {
            return text.substr(0, text.find('\n'));
        }
        pollfd p{child.output, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(child.output, buffer, first_line ? 1 : sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// The exit status (128 + signal for a signal), or -1 after the deadline, when
// the child is killed.
inline int wait_exit(pid_t pid, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

inline std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

// A decoder record with its clock readings replaced as the simulator's
// expectations write them: timestamps "T", P-record timings "U".
inline std::string mask_record(const std::string& line) {
    std::vector<std::string> f = split_fields(line);
    const auto mask = [&](std::size_t from) {
        for (std::size_t i = from; i < from + 6 && i < f.size(); ++i) {
            f[i] = "T";
        }
    };
    if (f[0] == "N") {
        mask(1);
    } else if (f[0] == "P" && f.size() > 10) {
        mask(2);
        const bool second = std::stoul(f[8]) > std::stoul(f[9]) - 2;
        f.back() = "U";
        if (second) {
            f[f.size() - 2] = "U";
        }
    } else if (f[0] == "S" && f.size() > 1 && f[1] != "12") {
        mask(f[1] == "1" ? 3 : 2);
    }
    std::string masked;
    for (std::size_t i = 0; i < f.size(); ++i) {
        masked += (i == 0 ? "" : ",") + f[i];
    }
    return masked;
}

} // namespace reliability
