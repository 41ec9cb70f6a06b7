#include "display/data/station_archive.h"

#include "display/data/numbers.h"
#include "display/data/sqlite_connection.h"
#include "display/data/utc_time.h"

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace veltaro::data {

namespace {

// The display's writer holds the archive one transaction at a time; a
// checkpoint may keep a reader waiting as briefly.
constexpr int kBusyTimeoutMs = 2000;

// Each step finds the next source through the index on (source, received):
// 500 stations cost 500 look-ups, not a pass over a year of packets.
constexpr const char* kSources = R"sql(
WITH RECURSIVE heard(source) AS (
    SELECT (SELECT min(source) FROM packets)
    UNION ALL
    SELECT (SELECT min(source) FROM packets WHERE source > heard.source)
    FROM heard WHERE heard.source IS NOT NULL)
SELECT source FROM heard WHERE source IS NOT NULL)sql";

constexpr const char* kLastHeard =
    "SELECT received FROM packets WHERE source = ?1 AND received <= ?2 AND test = 0 "
    "ORDER BY received DESC LIMIT 1";

constexpr const char* kDayOfPackets =
    "SELECT count(*), coalesce(sum(received > ?3), 0), sum(fec_corrected), sum(fec_failed) "
    "FROM packets WHERE source = ?1 AND received > ?2 AND received <= ?4 AND test = 0";

// The sensors of a source, one look-up each in the readings' unique key.
constexpr const char* kSensors = R"sql(
WITH RECURSIVE listed(sensor) AS (
    SELECT (SELECT min(sensor) FROM readings WHERE source = ?1)
    UNION ALL
    SELECT (SELECT min(sensor) FROM readings WHERE source = ?1 AND sensor > listed.sensor)
    FROM listed WHERE listed.sensor IS NOT NULL)
SELECT sensor FROM listed WHERE sensor IS NOT NULL)sql";

constexpr const char* kLatestReading =
    "SELECT r.time, r.kind, r.value, r.text FROM readings r JOIN packets p ON p.id = r.packet "
    "WHERE r.source = ?1 AND r.sensor = ?2 AND r.time <= ?3 AND p.test = 0 "
    "ORDER BY r.time DESC LIMIT 1";

constexpr const char* kBaseline =
    "SELECT r.time FROM readings r JOIN packets p ON p.id = r.packet "
    "WHERE r.source = ?1 AND r.sensor = ?2 AND r.time <= ?3 AND p.test = 0 "
    "AND r.value IS NOT NULL AND (?4 = 0 OR r.kind = 'rain') ORDER BY r.time DESC LIMIT 1";

// One row a tip (or one for a report without tips), reports in time order.
constexpr const char* kGaugeReports =
    "SELECT r.id, r.time, r.value, r.value_type, r.value_bits, p.test, t.time "
    "FROM readings r JOIN packets p ON p.id = r.packet LEFT JOIN tips t ON t.reading = r.id "
    "WHERE r.source = ?1 AND r.sensor = ?2 AND r.time >= ?3 AND r.time <= ?4 "
    "AND r.value IS NOT NULL AND (?5 = 0 OR r.kind = 'rain') "
    "ORDER BY r.time, r.received, r.id, t.tip";

std::string Text(sqlite3_stmt* s, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text != nullptr ? std::string(text) : std::string();
}

std::optional<long long> OptionalInteger(sqlite3_stmt* s, int column) {
    if (sqlite3_column_type(s, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    return sqlite3_column_int64(s, column);
}

// Times the archive wrote, back to seconds since 1970 UTC.
std::int64_t Seconds(sqlite3_stmt* s, int column) {
    return ParseIsoMillis(Text(s, column)).value_or(0) / 1000;
}

ValueKind KindOfValue(const std::string& name) {
    if (name == "signed") {
        return ValueKind::signed_integer;
    }
    return name == "float" ? ValueKind::real : ValueKind::unsigned_integer;
}

} // namespace

class StationArchive::Statements {
    // Declared first, so that the statements are finalized before it closes.
    SqliteConnection db_;

public:
    explicit Statements(const std::string& path) : db_(Open(path)) {
        sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
        sources = db_.Prepare(kSources);
        last_heard = db_.Prepare(kLastHeard);
        day_of_packets = db_.Prepare(kDayOfPackets);
        sensors = db_.Prepare(kSensors);
        latest_reading = db_.Prepare(kLatestReading);
        baseline = db_.Prepare(kBaseline);
        gauge_reports = db_.Prepare(kGaugeReports);
    }

    void BeginRead() { db_.Execute("BEGIN"); }
    // Ends a read; a reader has nothing to lose when that fails.
    void EndRead() { db_.ExecuteQuietly("COMMIT"); }

    // Runs the statement with its parameters bound; true for each row.
    bool Step(sqlite3_stmt* s) {
        const int stepped = sqlite3_step(s);
        if (stepped == SQLITE_ROW) {
            return true;
        }
        const int reset = sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        if (stepped != SQLITE_DONE) {
            db_.Check(reset != SQLITE_OK ? reset : stepped);
        }
        return false;
    }

    // Ends a statement before its last row.
    static void Done(sqlite3_stmt* s) {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }

    Statement sources;
    Statement last_heard;
    Statement day_of_packets;
    Statement sensors;
    Statement latest_reading;
    Statement baseline;
    Statement gauge_reports;

private:
    // An archive that is not there yet is not made here: read only.
    static SqliteConnection Open(const std::string& path) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            throw std::runtime_error("no archive at " + path);
        }
        return SqliteConnection(path, SQLITE_OPEN_READONLY);
    }
};

namespace {

// A source stored as a number is found only by a number.
void BindSource(sqlite3_stmt* s, const std::string& source) {
    if (const std::optional<long long> number = WholeNumber(source)) {
        sqlite3_bind_int64(s, 1, *number);
    } else {
        sqlite3_bind_text(s, 1, source.data(), static_cast<int>(source.size()), SQLITE_TRANSIENT);
    }
}

void BindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

} // namespace

StationArchive::StationArchive(const std::string& path)
    : statements_(std::make_unique<Statements>(path)) {}

StationArchive::~StationArchive() = default;

void StationArchive::BeginSnapshot() {
    statements_->BeginRead();
}

void StationArchive::EndSnapshot() {
    statements_->EndRead();
}

std::vector<std::string> StationArchive::Sources() {
    sqlite3_stmt* s = statements_->sources.get();
    std::vector<std::string> sources;
    while (statements_->Step(s)) {
        sources.push_back(Text(s, 0));
    }
    return sources;
}

PacketFigures StationArchive::Packets(const std::string& source, std::int64_t now_ms) {
    constexpr std::int64_t kHour = 3600 * 1000;
    const std::string now = IsoMillis(now_ms);
    PacketFigures figures;
    sqlite3_stmt* last = statements_->last_heard.get();
    BindSource(last, source);
    BindText(last, 2, now);
    if (statements_->Step(last)) {
        figures.last_heard = ParseIsoMillis(Text(last, 0));
        Statements::Done(last);
    }
    sqlite3_stmt* day = statements_->day_of_packets.get();
    BindSource(day, source);
    BindText(day, 2, IsoMillis(now_ms - 24 * kHour));
    BindText(day, 3, IsoMillis(now_ms - kHour));
    BindText(day, 4, now);
    if (statements_->Step(day)) {
        figures.reports_24h = sqlite3_column_int(day, 0);
        figures.reports_1h = sqlite3_column_int(day, 1);
        figures.fec_corrected_24h = OptionalInteger(day, 2);
        figures.fec_failed_24h = OptionalInteger(day, 3);
        Statements::Done(day);
    }
    return figures;
}

std::vector<LatestReading> StationArchive::LatestReadings(const std::string& source,
                                                          std::int64_t now) {
    std::vector<long long> sensors;
    sqlite3_stmt* s = statements_->sensors.get();
    BindSource(s, source);
    while (statements_->Step(s)) {
        sensors.push_back(sqlite3_column_int64(s, 0));
    }
    std::vector<LatestReading> latest;
    sqlite3_stmt* r = statements_->latest_reading.get();
    for (const long long sensor : sensors) {
        BindSource(r, source);
        sqlite3_bind_int64(r, 2, sensor);
        BindText(r, 3, IsoSeconds(now));
        if (!statements_->Step(r)) {
            continue;
        }
        std::optional<double> value;
        if (sqlite3_column_type(r, 2) != SQLITE_NULL) {
            value = sqlite3_column_double(r, 2);
        }
        latest.push_back({sensor, Seconds(r, 0), Text(r, 1), value, Text(r, 3)});
        Statements::Done(r);
    }
    return latest;
}

std::vector<GaugeReport> StationArchive::GaugeReports(const std::string& source, long long sensor,
                                                      bool rain_reports_only, std::int64_t since,
                                                      std::int64_t now) {
    sqlite3_stmt* b = statements_->baseline.get();
    BindSource(b, source);
    sqlite3_bind_int64(b, 2, sensor);
    BindText(b, 3, IsoSeconds(since));
    sqlite3_bind_int(b, 4, rain_reports_only ? 1 : 0);
    std::string from = IsoSeconds(since + 1);
    if (statements_->Step(b)) {
        from = Text(b, 0);
        Statements::Done(b);
    }
    sqlite3_stmt* s = statements_->gauge_reports.get();
    BindSource(s, source);
    sqlite3_bind_int64(s, 2, sensor);
    BindText(s, 3, from);
    BindText(s, 4, IsoSeconds(now));
    sqlite3_bind_int(s, 5, rain_reports_only ? 1 : 0);
    std::vector<GaugeReport> reports;
    sqlite3_int64 reading = -1;
    while (statements_->Step(s)) {
        if (sqlite3_column_int64(s, 0) != reading) {
            reading = sqlite3_column_int64(s, 0);
            reports.push_back({Seconds(s, 1),
                               sqlite3_column_double(s, 2),
                               KindOfValue(Text(s, 3)),
                               sqlite3_column_int(s, 4),
                               {},
                               sqlite3_column_int(s, 5) != 0});
        }
        if (sqlite3_column_type(s, 6) != SQLITE_NULL) {
            reports.back().tips.push_back(Seconds(s, 6));
        }
    }
    return reports;
}

} // namespace veltaro::data
