#include "display/data/archive_database.h"

#include "display/data/numbers.h"
#include "display/data/sqlite_connection.h"
#include "display/data/utc_time.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <optional>
#include <stdexcept>

namespace veltaro::data {

namespace {

// Readers (the stations screen) never block the writer in WAL mode; another
// writer (an import, the display) holds it for one transaction at a time,
// and the wait is the writer thread's, never the display's.
constexpr int kBusyTimeoutMs = 1000;
// Index pages of a busy cycle stay in memory until its transaction ends.
constexpr const char* kCacheSize = "PRAGMA cache_size = -65536";
// Pages changed by many commits are copied into the database once per 40 MB
// of log rather than once per 4 MB: an import takes a third less time.
constexpr const char* kCheckpointPages = "PRAGMA wal_autocheckpoint = 10000";

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS packets (
    id INTEGER PRIMARY KEY,
    received TEXT NOT NULL,
    source INTEGER NOT NULL,
    test INTEGER NOT NULL,
    hop_limit INTEGER NOT NULL,
    packet_id INTEGER NOT NULL,
    bytes INTEGER,
    path TEXT NOT NULL,
    fec_corrected INTEGER,
    fec_failed INTEGER,
    record TEXT NOT NULL UNIQUE
);
CREATE INDEX IF NOT EXISTS packets_by_source ON packets (source, received);
CREATE TABLE IF NOT EXISTS readings (
    id INTEGER PRIMARY KEY,
    packet INTEGER NOT NULL REFERENCES packets (id),
    received TEXT NOT NULL,
    time TEXT NOT NULL,
    source INTEGER NOT NULL,
    kind TEXT NOT NULL,
    sensor INTEGER NOT NULL,
    value,
    text TEXT NOT NULL,
    value_type TEXT NOT NULL,
    value_bytes INTEGER,
    value_bits INTEGER NOT NULL,
    UNIQUE (source, sensor, time, kind, received, text)
);
CREATE TABLE IF NOT EXISTS tips (
    reading INTEGER NOT NULL REFERENCES readings (id),
    tip INTEGER NOT NULL,
    time TEXT NOT NULL,
    PRIMARY KEY (reading, tip)
) WITHOUT ROWID;
PRAGMA user_version = 1;
)sql";

constexpr const char* kInsertPacket =
    "INSERT INTO packets (received, source, test, hop_limit, packet_id, bytes, path, "
    "fec_corrected, fec_failed, record) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) "
    "ON CONFLICT (record) DO NOTHING";
// A packet stored before: its link quality is filled in if it was unknown.
constexpr const char* kKnownPacket =
    "UPDATE packets SET fec_corrected = coalesce(fec_corrected, ?8), "
    "fec_failed = coalesce(fec_failed, ?9) WHERE record = ?10 RETURNING id";
constexpr const char* kInsertReading =
    "INSERT INTO readings (packet, received, time, source, kind, sensor, value, text, "
    "value_type, value_bytes, value_bits) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11) "
    "ON CONFLICT DO NOTHING";
constexpr const char* kInsertTip = "INSERT INTO tips (reading, tip, time) VALUES (?1, ?2, ?3)";

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

// A text that lives as long as the program.
void BindStatic(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

void BindOptional(sqlite3_stmt* statement, int index, const std::optional<int>& value) {
    if (value) {
        sqlite3_bind_int(statement, index, *value);
    } else {
        sqlite3_bind_null(statement, index);
    }
}

void BindSource(sqlite3_stmt* statement, int index, const Packet& packet) {
    if (packet.address) {
        sqlite3_bind_int(statement, index, *packet.address);
    } else {
        BindText(statement, index, packet.source);
    }
}

void BindValue(sqlite3_stmt* statement, int index, const ArchiveBatch::ReadingRow& reading) {
    if (!reading.value) {
        sqlite3_bind_null(statement, index);
    } else if (reading.value_kind != ValueKind::real) {
        sqlite3_bind_int64(statement, index, static_cast<sqlite3_int64>(*reading.value));
    } else {
        sqlite3_bind_double(statement, index, *reading.value);
    }
}

std::string PathText(const Packet& packet) {
    nlohmann::json path = nlohmann::json::array();
    for (const std::string& address : packet.path) {
        const std::optional<long long> number = WholeNumber(address);
        path.push_back(number ? nlohmann::json(*number) : nlohmann::json(address));
    }
    return path.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

class ArchiveDatabase::Statements {
public:
    explicit Statements(const std::string& path)
        : db_(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX) {
        sqlite3_extended_result_codes(db_.get(), 1);
        sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
        Execute("PRAGMA journal_mode = WAL");
        Execute("PRAGMA synchronous = NORMAL");
        Execute(kCacheSize);
        Execute(kCheckpointPages);
        Execute(kSchema);
        insert_packet_ = db_.Prepare(kInsertPacket);
        known_packet_ = db_.Prepare(kKnownPacket);
        insert_reading_ = db_.Prepare(kInsertReading);
        insert_tip_ = db_.Prepare(kInsertTip);
    }

    void Execute(const char* sql) { db_.Execute(sql); }

    // Ends a failed transaction; a failure here changes nothing more.
    void RollBack() { db_.ExecuteQuietly("ROLLBACK"); }

    // The packet's row id, and whether the row is new.
    std::pair<sqlite3_int64, bool> StorePacket(const Packet& packet, const std::string& received) {
        sqlite3_stmt* s = insert_packet_.get();
        BindText(s, 1, received);
        BindSource(s, 2, packet);
        sqlite3_bind_int(s, 3, packet.test ? 1 : 0);
        sqlite3_bind_int(s, 4, packet.hop_limit);
        sqlite3_bind_int(s, 5, packet.packet_id);
        BindOptional(s, 6, packet.bytes);
        BindText(s, 7, PathText(packet));
        BindLink(s, packet);
        if (const auto id = StepInsert(s)) {
            return {*id, true};
        }
        sqlite3_stmt* known = known_packet_.get();
        BindLink(known, packet);
        if (const auto id = StepForId(known)) {
            return {*id, false};
        }
        throw std::runtime_error("a packet could be neither added nor found");
    }

    // The reading's row id when it is new; none when it is stored already.
    std::optional<sqlite3_int64> StoreReading(sqlite3_int64 packet_id, const Packet& packet,
                                              const std::string& received,
                                              const ArchiveBatch::ReadingRow& reading) {
        sqlite3_stmt* s = insert_reading_.get();
        sqlite3_bind_int64(s, 1, packet_id);
        BindText(s, 2, received);
        BindText(s, 3, IsoSeconds(reading.time));
        BindSource(s, 4, packet);
        BindStatic(s, 5, KindName(reading.type));
        sqlite3_bind_int64(s, 6, reading.sensor);
        BindValue(s, 7, reading);
        BindText(s, 8, reading.text);
        BindStatic(s, 9, ValueKindName(reading.value_kind));
        BindOptional(s, 10,
                     reading.value_bits % 8 == 0 ? std::optional<int>(reading.value_bits / 8)
                                                 : std::nullopt);
        sqlite3_bind_int(s, 11, reading.value_bits);
        return StepInsert(s);
    }

    void StoreTip(sqlite3_int64 reading_id, int tip, std::int64_t time) {
        sqlite3_stmt* s = insert_tip_.get();
        sqlite3_bind_int64(s, 1, reading_id);
        sqlite3_bind_int(s, 2, tip);
        BindText(s, 3, IsoSeconds(time));
        const int stepped = sqlite3_step(s);
        sqlite3_reset(s);
        if (stepped != SQLITE_DONE) {
            Check(stepped);
        }
    }

private:
    void Check(int result) { db_.Check(result); }

    static void BindLink(sqlite3_stmt* s, const Packet& packet) {
        BindOptional(s, 8, packet.link ? std::optional<int>(packet.link->corrected) : std::nullopt);
        BindOptional(s, 9, packet.link ? std::optional<int>(packet.link->failed) : std::nullopt);
        BindText(s, 10, packet.record);
    }

    // Runs an insert that may be skipped as a duplicate; the new row's id.
    // (Cheaper than RETURNING, which buffers its rows.)
    std::optional<sqlite3_int64> StepInsert(sqlite3_stmt* s) {
        const int stepped = sqlite3_step(s);
        const int reset = sqlite3_reset(s);
        if (stepped != SQLITE_DONE) {
            Check(reset != SQLITE_OK ? reset : stepped);
        }
        if (sqlite3_changes(db_.get()) == 0) {
            return std::nullopt;
        }
        return sqlite3_last_insert_rowid(db_.get());
    }

    // Runs a statement that returns at most one id.
    std::optional<sqlite3_int64> StepForId(sqlite3_stmt* s) {
        std::optional<sqlite3_int64> id;
        int stepped = sqlite3_step(s);
        if (stepped == SQLITE_ROW) {
            id = sqlite3_column_int64(s, 0);
            stepped = sqlite3_step(s);
        }
        const int reset = sqlite3_reset(s);
        if (stepped != SQLITE_DONE) {
            Check(reset != SQLITE_OK ? reset : stepped);
        }
        return id;
    }

    SqliteConnection db_;
    Statement insert_packet_;
    Statement known_packet_;
    Statement insert_reading_;
    Statement insert_tip_;
};

ArchiveDatabase::ArchiveDatabase(const std::string& path)
    : statements_(std::make_unique<Statements>(path)) {}

ArchiveDatabase::~ArchiveDatabase() = default;

AddedRows ArchiveDatabase::Add(const std::vector<ArchiveBatch>& batches) {
    Statements& s = *statements_;
    s.Execute("BEGIN IMMEDIATE");
    AddedRows added;
    try {
        std::vector<sqlite3_int64> packet_ids;
        std::vector<std::string> received;
        for (const ArchiveBatch& batch : batches) {
            packet_ids.clear();
            received.clear();
            for (const Packet& packet : batch.packets) {
                received.push_back(IsoMillis(packet.received));
                const auto [id, is_new] = s.StorePacket(packet, received.back());
                packet_ids.push_back(id);
                added.packets += is_new ? 1 : 0;
            }
            for (const ArchiveBatch::ReadingRow& reading : batch.readings) {
                const auto id =
                    s.StoreReading(packet_ids[reading.packet], batch.packets[reading.packet],
                                   received[reading.packet], reading);
                if (!id) {
                    continue; // stored before, with its tips
                }
                ++added.readings;
                for (std::size_t k = 0; k < reading.tips; ++k) {
                    s.StoreTip(*id, static_cast<int>(k) + 1, batch.tips[reading.first_tip + k]);
                }
            }
        }
        s.Execute("COMMIT");
    } catch (const std::exception&) {
        s.RollBack();
        throw;
    }
    return added;
}

void ArchiveBatch::Add(const Reading& reading) {
    ReadingRow& row = readings.emplace_back();
    row.packet = packets.size() - 1;
    row.time = reading.time;
    row.type = reading.type;
    row.sensor = reading.sensor;
    row.value = reading.value;
    row.value_kind = reading.value_kind;
    row.value_bits = reading.value_bits;
    row.text = reading.text;
    row.first_tip = tips.size();
    row.tips = reading.tips.size();
    tips.insert(tips.end(), reading.tips.begin(), reading.tips.end());
}

void ArchiveBatch::Reserve(const ArchiveBatch& other) {
    packets.reserve(other.packets.size());
    readings.reserve(other.readings.size());
    tips.reserve(other.tips.size());
}

void ArchiveBatch::Clear() {
    packets.clear();
    readings.clear();
    tips.clear();
}

} // namespace veltaro::data
