// The archive read for the stations screen: read only, beside the display
// that keeps writing it (WAL mode lets both go on). Every query finds its
// rows through the archive's own keys, so a refresh costs about the same
// with a year of readings as with a day. Failures throw std::runtime_error
// with SQLite's description.
#pragma once

#include "display/data/rain_totals.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltaro::data {

// A station's packets, test packets left out.
struct PacketFigures {
    std::optional<std::int64_t> last_heard; // received, milliseconds since 1970 UTC
    int reports_1h = 0;
    int reports_24h = 0;
    // Summed over the packets of the last 24 hours whose link quality is known.
    std::optional<long long> fec_corrected_24h;
    std::optional<long long> fec_failed_24h;
};

// A sensor's latest reading, from a packet without the test flag.
struct LatestReading {
    long long sensor = 0;
    std::int64_t time = 0; // seconds since 1970 UTC
    std::string kind;      // "compact", "general", "rain" or "multiple"
    std::optional<double> value;
    std::string text;
};

class StationArchive {
public:
    // Opens the archive at path read only; throws when it does not exist or
    // cannot be opened.
    explicit StationArchive(const std::string& path);
    ~StationArchive();
    StationArchive(const StationArchive&) = delete;
    StationArchive& operator=(const StationArchive&) = delete;

    // Everything read between the two sees the archive as it was at the
    // first read, whatever the display writes meanwhile.
    void BeginSnapshot();
    void EndSnapshot();

    // Every source in the packets table, as stored (a number's digits, or
    // the listed text), in the archive's order.
    std::vector<std::string> Sources();

    // The source's packets received up to now (milliseconds since 1970 UTC).
    PacketFigures Packets(const std::string& source, std::int64_t now_ms);

    // The latest reading at or before now (seconds) of each sensor the
    // source has readings of, by sensor number.
    std::vector<LatestReading> LatestReadings(const std::string& source, std::int64_t now);

    // The reports of a gauge from the last one at or before `since` (the
    // baseline of every window starting then or later) up to `now`,
    // seconds since 1970 UTC, with their tips and test flags. A gauge the
    // registry does not describe is known only by its rain reports; the
    // sensor's other readings are of something else.
    std::vector<GaugeReport> GaugeReports(const std::string& source, long long sensor,
                                          bool rain_reports_only, std::int64_t since,
                                          std::int64_t now);

private:
    class Statements;
    std::unique_ptr<Statements> statements_;
};

// Reads within one snapshot of the archive for as long as it lives.
class ArchiveSnapshot {
public:
    explicit ArchiveSnapshot(StationArchive& archive) : archive_(archive) {
        archive_.BeginSnapshot();
    }
    ~ArchiveSnapshot() { archive_.EndSnapshot(); }
    ArchiveSnapshot(const ArchiveSnapshot&) = delete;
    ArchiveSnapshot& operator=(const ArchiveSnapshot&) = delete;

private:
    StationArchive& archive_;
};

} // namespace veltaro::data
