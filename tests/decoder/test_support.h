// Helpers shared by the decoder's tests: temporary folders, captured streams
// and running the real programs.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorvel_test {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() / (std::string("quorvel-") + info->test_suite_name() +
                                             "-" + info->name() + "-" + std::to_string(::getpid()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

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

// A stdio stream whose text can be read back.
class CapturedStream {
public:
    CapturedStream() : file_(std::tmpfile()) {}
    ~CapturedStream() { std::fclose(file_); }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;
    std::FILE* get() const { return file_; }
    // Atomic against writers on other threads.
    std::string text() const {
        ::flockfile(file_);
        std::fflush(file_);
        const long end = std::ftell(file_);
        std::string text(static_cast<std::size_t>(end), '\0');
        std::rewind(file_);
        const std::size_t n = std::fread(text.data(), 1, text.size(), file_);
        text.resize(n);
        std::fseek(file_, 0, SEEK_END);
        ::funlockfile(file_);
        return text;
    }

private:
    std::FILE* file_;
};

// Polls until the condition holds or the generous deadline passes.
inline bool wait_for(const std::function<bool()>& condition,
                     std::chrono::seconds deadline = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

} // namespace quorvel_test
