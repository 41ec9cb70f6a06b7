// The archive: every packet and reading the display lists, in an SQLite
// database (WAL mode) that other programs may read while it is written.
// Rows are kept in memory as they come and written in one transaction at
// Commit, which the owner calls at the end of each ingest cycle. A failing
// write keeps the rows for the next Commit and is reported once per outage.
#pragma once

#include "display/data/reading.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace veltaro::data {

class Archive final : public ReadingOutput {
public:
    // Receives a problem message when an outage begins and one when the
    // archive is written again.
    using Report = std::function<void(const std::string& message)>;

    // The database is opened (and created) at the first Commit, and again
    // after a failure, so a file that cannot be opened now may be later.
    Archive(std::string path, Report report);
    ~Archive() override;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    void OnPacket(const Packet& packet) override;
    void OnReading(const Reading& reading) override;

    // Writes what is pending in one transaction; false when that failed (the
    // rows stay pending). Nothing pending is written by the destructor.
    bool Commit();

    std::size_t PendingPackets() const { return pending_.size(); }
    // Rows that were new to the archive, since it was made.
    long long PacketsAdded() const { return packets_added_; }
    long long ReadingsAdded() const { return readings_added_; }

private:
    struct PendingPacket {
        Packet packet;
        std::vector<Reading> readings;
    };
    class Connection;

    void Fail(const std::string& description);
    void Recovered();
    bool WritePending();

    std::string path_;
    Report report_;
    std::unique_ptr<Connection> connection_;
    std::deque<PendingPacket> pending_;
    std::size_t pending_readings_ = 0;
    bool outage_ = false;
    long long lost_packets_ = 0; // dropped from a full backlog during an outage
    long long packets_added_ = 0;
    long long readings_added_ = 0;
};

} // namespace veltaro::data
