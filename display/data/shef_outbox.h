// The SHEF outbox: a folder from which a file-pickup job sends the readings
// to the forecast office. One file per UTC hour, <ccyymmddhh>.shef, holds
// the lines of the readings that arrived in that hour and the hourly rain
// lines learnt in it. It is written under a hidden temporary name and
// renamed when the hour closes, so the job never sees half a file.
//
// An hour's rain is known once its gauge has reported on each side of the
// hour, usually during the next hour, and is sent in the file of the hour
// that learns it. An hour still unknown when its station has been quiet for
// longer than its expected interval is sent as M, and sent again with its
// rain, as a revision (.AR), should that become known within a week.
//
// A file that cannot be written is kept and tried again when the next hour
// closes; the failure is reported once per outage, and once more when the
// files are written again.
#pragma once

#include "display/data/shef_export.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>

namespace veltaro::data {

class ShefOutbox final : public ReadingOutput {
public:
    using Report = std::function<void(const std::string& message)>;
    using Clock = std::function<std::int64_t()>; // seconds since 1970-01-01 UTC

    // program names the writer in each file's first line. The report
    // callback must outlive the outbox: its end may report a failure.
    ShefOutbox(std::string folder, std::string program, Report report, Clock clock = {});
    // Writes what it holds, the open hour's lines too (a later run in the
    // same hour adds its lines to that file), and reports what it could not.
    ~ShefOutbox() override;
    ShefOutbox(const ShefOutbox&) = delete;
    ShefOutbox& operator=(const ShefOutbox&) = delete;

    void OnReading(const Reading& reading) override;

    // Called at every tick: closes the hours that have ended and writes
    // their files.
    void Tick();

private:
    void CloseHour(std::int64_t now);
    void AddHourlyLines(const std::pair<int, long long>& key, ShefGauge& gauge, std::int64_t now,
                        std::string& text);
    void WriteHeld(std::int64_t before);

    const std::string folder_;
    const std::string program_;
    const Report report_;
    const Clock clock_;

    std::int64_t open_hour_ = 0;                 // its start, seconds since 1970
    std::map<std::int64_t, std::string> held_;   // lines not yet written, by hour
    std::unordered_set<std::string> open_lines_; // a reading handed on twice is sent once
    ShefGauges gauges_;
    // Per gauge, the ends of the hours whose rain is not yet sent, and
    // whether M was sent for one.
    std::map<std::pair<int, long long>, std::map<std::int64_t, bool>> pending_;
    bool outage_ = false;
};

// The outbox folder for the setting [Export] shef_dir: "shef" in the data
// folder when it is not set, none when it is empty, a relative folder
// inside the data folder.
std::optional<std::string> ShefOutboxFolder(const std::optional<std::string>& setting,
                                            const std::string& data_folder);

} // namespace veltaro::data
