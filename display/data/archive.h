// The archive: every packet and reading the display lists, in an SQLite
// database (WAL mode) that other programs may read while it is written.
//
// Rows collect as they are listed; Commit, which the owner calls at the end
// of each ingest cycle, hands them to a writer thread that adds each batch
// in one transaction, so the display never waits for the disk. A failing
// write keeps the rows and is tried again every second; it is reported once
// per outage, and once more when the archive is written again. Reports reach
// the owner's callback on the owner's thread, from Commit and Flush.
#pragma once

#include "display/data/archive_database.h"
#include "display/data/reading.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veltaro::data {

class Archive final : public ReadingOutput {
public:
    using Report = std::function<void(const std::string& message)>;

    struct Limits {
        // Readings the writer may be behind by before Commit waits for it.
        // The display's default rides out long bursts; an import keeps it
        // small, so that its progress is the writer's.
        std::size_t max_behind = 1000000;
        // During an outage, past max_behind: drop the oldest packets (and
        // count them), so the display's memory stays bounded; or keep
        // everything, as an import does, which then reports the failure.
        bool drop_during_outage = true;
    };

    // The database is opened (and created) by the writer when it first has
    // rows, and again after a failure: a file that cannot be opened now may
    // be later.
    Archive(std::string path, Report report, Limits limits);
    Archive(std::string path, Report report) : Archive(std::move(path), std::move(report), {}) {}
    // Writes what was handed over, once; the owner calls Flush first to
    // learn whether that succeeds.
    ~Archive() override;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    void OnPacket(const Packet& packet) override;
    void OnReading(const Reading& reading) override;

    // Hands the rows collected since the last call to the writer and reports
    // what it has to report; false while the archive cannot be written.
    bool Commit();
    // Commit, then waits until everything handed over is written or a try
    // has failed; true when everything is written.
    bool Flush();

    long long PacketsAdded() const;
    long long ReadingsAdded() const;

private:
    void WriterLoop();
    std::vector<ArchiveBatch> TakeBatches();
    void Written(std::vector<ArchiveBatch>& batches, const AddedRows& added);
    void NotWritten(std::vector<ArchiveBatch>& batches, const std::string& failure);
    void MakeRoom(std::unique_lock<std::mutex>& lock);
    void Reported();

    const std::string path_;
    const Report report_;
    const Limits limits_;

    // The owner's thread only.
    ArchiveBatch collecting_;

    // Shared with the writer, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable wake_writer_;
    std::condition_variable written_;
    std::deque<ArchiveBatch> queue_;
    std::vector<ArchiveBatch> spares_; // written batches, with their room
    std::size_t queued_readings_ = 0;
    bool writing_ = false;
    bool outage_ = false;
    bool retry_now_ = false;
    bool stop_ = false;
    long long tries_ = 0;
    long long dropped_packets_ = 0;
    long long packets_added_ = 0;
    long long readings_added_ = 0;
    std::vector<std::string> messages_;

    std::thread writer_; // last: started when everything above exists
};

} // namespace veltaro::data
