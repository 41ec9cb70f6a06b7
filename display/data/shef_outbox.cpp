#include "display/data/shef_outbox.h"

#include "common/file_io.h"
#include "display/data/utc_time.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace veltaro::data {

namespace {

constexpr std::int64_t kHour = 3600;
// How long an hour sent as M waits for its rain to become known.
constexpr std::int64_t kKeepMissing = 7 * 24 * kHour;

std::int64_t SystemSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// "2015050314" for the hour starting 2015-05-03T14:00:00Z.
std::string HourName(std::int64_t hour) {
    const std::string iso = IsoSeconds(hour);
    return iso.substr(0, 4) + iso.substr(5, 2) + iso.substr(8, 2) + iso.substr(11, 2);
}

// The file's content, or empty text when there is no such file.
fileio::Problem ReadExisting(const std::string& path, std::string& text) {
    fileio::Problem problem;
    fileio::Fd fd = fileio::OpenRegular(path, O_RDONLY, problem);
    if (!fd.valid()) {
        return problem.error == ENOENT ? fileio::Problem() : problem;
    }
    std::array<char, 65536> buffer;
    for (std::size_t read = buffer.size(); read == buffer.size();) {
        if (const int error = fileio::ReadSlice(fd.get(), buffer, read)) {
            return fileio::SystemProblem(error, path);
        }
        text.append(buffer.data(), read);
    }
    return {};
}

// Writes text whole under temp, then renames it to path.
fileio::Problem WriteWhole(const std::string& temp, const std::string& path,
                           const std::string& text) {
    fileio::Problem problem;
    fileio::Fd fd = fileio::OpenRegular(temp, O_WRONLY | O_CREAT | O_TRUNC, problem, 0644);
    if (!fd.valid()) {
        return problem;
    }
    int error = fileio::WriteAll(fd.get(), text);
    if (error == 0 && ::fsync(fd.get()) != 0) {
        error = errno;
    }
    if (const int closed = fd.Close(); error == 0) {
        error = closed;
    }
    if (error == 0 && std::rename(temp.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        fileio::RemoveIfPresent(temp);
    }
    return fileio::SystemProblem(error, path);
}

// The hour's file with lines added: to what a run before wrote in the same
// hour, if the pickup job has not taken it yet.
fileio::Problem WriteHourFile(const std::string& folder, const std::string& program,
                              std::int64_t hour, const std::string& lines, std::string& path) {
    const std::string name = HourName(hour) + ".shef";
    path = folder + "/" + name;
    std::error_code created;
    std::filesystem::create_directories(folder, created);
    if (created) {
        return fileio::SystemProblem(created.value(), folder);
    }
    std::string text;
    if (fileio::Problem problem = ReadExisting(path, text)) {
        return problem;
    }
    if (text.empty()) {
        text = ShefHeader(program);
    }
    return WriteWhole(folder + "/." + name + ".part", path, text + lines);
}

// Leaves the reports from the last one at or before `from`: the baseline
// of every hour still to come.
void KeepReportsFrom(std::vector<GaugeReport>& reports, std::int64_t from) {
    auto after = std::upper_bound(
        reports.begin(), reports.end(), from,
        [](std::int64_t time, const GaugeReport& report) { return time < report.time; });
    if (after != reports.begin()) {
        --after;
    }
    reports.erase(reports.begin(), after);
}

} // namespace

ShefOutbox::ShefOutbox(std::string folder, std::string program, Report report, Clock clock)
    : folder_(std::move(folder)), program_(std::move(program)), report_(std::move(report)),
      clock_(clock ? std::move(clock) : Clock(SystemSeconds)), open_hour_(HourStart(clock_())) {}

ShefOutbox::~ShefOutbox() {
    WriteHeld(open_hour_ + kHour);
    std::string names;
    for (const auto& [hour, lines] : held_) {
        if (!lines.empty()) {
            names += (names.empty() ? "" : ", ") + HourName(hour) + ".shef";
        }
    }
    if (!names.empty()) {
        report_("  SHEF files not written to " + folder_ + ": " + names);
    }
}

void ShefOutbox::OnReading(const Reading& reading) {
    if (const auto message = ShefReadingMessage(reading)) {
        std::string lines = ShefLines(*message);
        if (open_lines_.insert(lines).second) {
            held_[open_hour_] += lines;
        }
    }
    gauges_.Add(reading);
}

void ShefOutbox::Tick() {
    const std::int64_t now = clock_();
    if (HourStart(now) <= open_hour_) {
        return;
    }
    while (HourStart(now) > open_hour_) {
        CloseHour(now);
    }
    WriteHeld(open_hour_);
}

void ShefOutbox::CloseHour(std::int64_t now) {
    std::string& text = held_[open_hour_];
    for (auto& [key, gauge] : gauges_.All()) {
        AddHourlyLines(key, gauge, now, text);
    }
    open_hour_ += kHour;
    open_lines_.clear();
}

void ShefOutbox::AddHourlyLines(const std::pair<int, long long>& key, ShefGauge& gauge,
                                std::int64_t now, std::string& text) {
    const std::int64_t end = open_hour_ + kHour;
    std::map<std::int64_t, bool>& pending = pending_[key];
    if (!gauge.reports.empty() && gauge.reports.front().time <= end) {
        pending.emplace(end, false);
    }
    const RainSeries series(gauge.reports);
    for (auto it = pending.begin(); it != pending.end();) {
        auto& [hour_end, sent_missing] = *it;
        if (const auto rain = HourlyRain(gauge, series, hour_end)) {
            text += ShefLines(ShefHourlyMessage(gauge, hour_end, rain, sent_missing));
            it = pending.erase(it);
            continue;
        }
        if (!sent_missing && now - hour_end >= gauge.interval) {
            text += ShefLines(ShefHourlyMessage(gauge, hour_end, std::nullopt));
            sent_missing = true;
        } else if (sent_missing && now - hour_end > kKeepMissing) {
            it = pending.erase(it);
            continue;
        }
        ++it;
    }
    KeepReportsFrom(gauge.reports, pending.empty() ? end : pending.begin()->first - kHour);
}

void ShefOutbox::WriteHeld(std::int64_t before) {
    while (!held_.empty() && held_.begin()->first < before) {
        const auto& [hour, lines] = *held_.begin();
        const bool any = !lines.empty();
        std::string path;
        const fileio::Problem problem =
            any ? WriteHourFile(folder_, program_, hour, lines, path) : fileio::Problem();
        if (problem) {
            if (!outage_) {
                outage_ = true;
                report_(problem.Describe() + " (" + path + ")  Can't write SHEF file");
            }
            return;
        }
        held_.erase(held_.begin());
        if (outage_ && any) {
            outage_ = false;
            report_("  SHEF files written again");
        }
    }
}

std::optional<std::string> ShefOutboxFolder(const std::optional<std::string>& setting,
                                            const std::string& data_folder) {
    if (!setting) {
        return data_folder + "/shef";
    }
    if (setting->empty()) {
        return std::nullopt;
    }
    return setting->front() == '/' ? *setting : data_folder + "/" + *setting;
}

} // namespace veltaro::data
