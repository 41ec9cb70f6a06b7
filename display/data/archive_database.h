// The archive's SQLite database: its tables and the statements that add
// rows. Used by one thread at a time; every failure throws
// std::runtime_error with SQLite's description.
#pragma once

#include "display/data/reading.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltaro::data {

// Rows for the archive, kept flat so that a busy cycle allocates next to
// nothing once the vectors have grown: readings refer to their packet by
// index, tips to their reading by range.
struct ArchiveBatch {
    struct ReadingRow {
        std::size_t packet = 0;
        std::int64_t time = 0;
        int type = 0;
        long long sensor = 0;
        std::optional<double> value;
        ValueKind value_kind = ValueKind::unsigned_integer;
        int value_bits = 0;
        std::string text;
        std::size_t first_tip = 0;
        std::size_t tips = 0;
    };

    std::vector<Packet> packets;
    std::vector<ReadingRow> readings;
    std::vector<std::int64_t> tips;

    void Add(const Packet& packet) { packets.push_back(packet); }
    // A reading of the packet added last.
    void Add(const Reading& reading);
    bool Empty() const { return packets.empty(); }
    // Empties the batch and keeps its room for the next one.
    void Clear();
    // Makes room for as much as `other` holds.
    void Reserve(const ArchiveBatch& other);
};

struct AddedRows {
    long long packets = 0;
    long long readings = 0;
};

class ArchiveDatabase {
public:
    // Opens the database, creating it and its tables when needed, in WAL mode.
    explicit ArchiveDatabase(const std::string& path);
    ~ArchiveDatabase();
    ArchiveDatabase(const ArchiveDatabase&) = delete;
    ArchiveDatabase& operator=(const ArchiveDatabase&) = delete;

    // Adds the batches in one transaction, or nothing when that fails. A
    // packet or reading stored before is not stored again; returns what was new.
    AddedRows Add(const std::vector<ArchiveBatch>& batches);

private:
    class Statements;
    std::unique_ptr<Statements> statements_;
};

} // namespace veltaro::data
