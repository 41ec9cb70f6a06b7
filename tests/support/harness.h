// What the tests that run real files and programs share: a scratch folder,
// whole-file reads and writes, waiting for a condition, and child processes.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace harness {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "veltaro-test") {
        std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    if (!(out << text)) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// Polls until the condition holds or the generous deadline passes.
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

// In a forked child: becomes argv[0], or ends with status 127.
[[noreturn]] inline void exec(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
}

// In a forked child: enters folder, adds the environment entries, puts out
// and err (when given) on standard output and error and becomes argv[0].
[[noreturn]] inline void start_in(const std::vector<std::string>& argv, const fs::path& folder,
                                  const std::vector<std::string>& env, int out, int err = -1) {
    if (::chdir(folder.c_str()) != 0) {
        _exit(126);
    }
    for (const std::string& entry : env) {
        ::putenv(const_cast<char*>(entry.c_str()));
    }
    ::dup2(out, STDOUT_FILENO);
    if (err >= 0) {
        ::dup2(err, STDERR_FILENO);
    }
    exec(argv);
}

struct Child {
    pid_t pid = -1;
    int output = -1; // standard output when captured
};

// Starts argv[0] in folder with extra environment entries; standard output
// goes to a pipe (capture) or is appended to output_file.
inline Child spawn(const std::vector<std::string>& argv, const fs::path& folder,
                   const std::vector<std::string>& env = {}, bool capture = false,
                   const std::string& output_file = "/dev/null") {
    int fds[2] = {-1, -1};
    if (capture && ::pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        start_in(argv, folder, env,
                 capture ? fds[1]
                         : ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644));
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
// the child is killed. -1 at once for no child: a kill of pid -1 would reach
// every process of the user.
inline int wait_exit(pid_t pid, int seconds) {
    if (pid <= 0) {
        return -1;
    }
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

// A child with its standard output and error on pipes. Killed if it still
// runs when the object goes, so a test that fails half-way leaves nothing
// running.
class CapturedChild {
public:
    CapturedChild(const std::vector<std::string>& argv, const fs::path& folder,
                  const std::vector<std::string>& env = {}) {
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        if (::pipe(out) != 0 || ::pipe(err) != 0) {
            throw std::runtime_error("pipe failed");
        }
        child_.pid = ::fork();
        if (child_.pid < 0) {
            throw std::runtime_error("fork failed");
        }
        if (child_.pid == 0) {
            start_in(argv, folder, env, out[1], err[1]);
        }
        ::close(out[1]);
        ::close(err[1]);
        child_.output = out[0];
        errors_ = err[0];
    }
    ~CapturedChild() {
        if (!ended_ && child_.pid > 0) {
            ::kill(child_.pid, SIGKILL);
            ::waitpid(child_.pid, nullptr, 0);
        }
        ::close(child_.output);
        ::close(errors_);
    }
    CapturedChild(const CapturedChild&) = delete;
    CapturedChild& operator=(const CapturedChild&) = delete;

    pid_t pid() const { return child_.pid; }
    // One line of standard output without its LF ("" at its end).
    std::string read_line(int seconds = 30) { return read_output(child_, true, seconds); }
    // Standard output to its end.
    std::string read_rest(int seconds = 60) { return read_output(child_, false, seconds); }
    // As wait_exit gives it; the child has ended afterwards either way.
    int wait_exit(int seconds = 30) {
        ended_ = true;
        return harness::wait_exit(child_.pid, seconds);
    }
    // Standard error to its end: call after wait_exit.
    std::string errors() const { return read_output({child_.pid, errors_}, false, 30); }

private:
    Child child_;
    int errors_ = -1;
    bool ended_ = false;
};

// What a program run to its end gave.
struct Outcome {
    int status = -1; // as wait_exit gives it
    std::string out;
    std::string err;
};

// Runs argv[0] in folder, with extra environment entries, to its end with
// input on its standard input, and captures its standard output and error.
inline Outcome run(const std::vector<std::string>& argv, const fs::path& folder,
                   const std::string& input = "", int seconds = 120,
                   const std::vector<std::string>& env = {}) {
    const TempDir streams("veltaro-run");
    write_file(streams / "in", input);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(streams.file("in").c_str(), O_RDONLY);
        const int out = ::open(streams.file("out").c_str(), O_WRONLY | O_CREAT, 0600);
        const int err = ::open(streams.file("err").c_str(), O_WRONLY | O_CREAT, 0600);
        if (in < 0 || out < 0 || err < 0) {
            _exit(126);
        }
        ::dup2(in, STDIN_FILENO);
        start_in(argv, folder, env, out, err);
    }
    Outcome outcome;
    outcome.status = wait_exit(pid, seconds);
    outcome.out = read_file(streams / "out");
    outcome.err = read_file(streams / "err");
    return outcome;
}

} // namespace harness
