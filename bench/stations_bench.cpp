// What a refresh of the stations screen costs on a network of 500 stations
// with a year of readings: the whole table, the 72 hourly bars of one
// station, and the window's refresh (both, and the table's 500 rows filled),
// offscreen. The archive is written once through the archive's own writer
// (every station an hourly packet with its rain count, battery and stage,
// and bursts of rain reports in storms) and kept for later runs:
//
//   bench-stations --archive FILE [benchmark options]
#include "display/data/archive_database.h"
#include "display/data/registry.h"
#include "display/data/station_table.h"
#include "display/stations/stations_window.h"

#include <QApplication>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kStations = 500;
constexpr int kFirstSource = 1000;
constexpr int kDays = 365;
constexpr std::int64_t kStart = 1420070400; // 2015-01-01T00:00:00Z
constexpr std::int64_t kEnd = kStart + kDays * 86400LL;
constexpr long long kRainSensor = 10;
constexpr long long kBatterySensor = 20;
constexpr long long kStageSensor = 11;
// Storms: in this share of a station's hours, three more rain reports come.
constexpr int kStormPercent = 5;

std::string g_archive;
// What the archive holds, for the report.
double g_packets = 0;
double g_readings = 0;

double CountRows(const std::string& path, const std::string& table) {
    sqlite3* db = nullptr;
    double rows = 0;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        const std::string sql = "SELECT count(*) FROM " + table;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            rows = static_cast<double>(sqlite3_column_int64(s, 0));
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return rows;
}

struct Station {
    int source = 0;
    unsigned count = 0; // the gauge's two-byte accumulator
    int packet_id = 0;
};

void AddReading(veltaro::data::ArchiveBatch& batch, std::int64_t time, int type, long long sensor,
                double value, std::vector<std::int64_t> tips = {}) {
    veltaro::data::Reading reading;
    reading.time = time;
    reading.type = type;
    reading.sensor = sensor;
    reading.value = value;
    reading.value_bits = 16;
    reading.text = std::to_string(static_cast<long long>(value));
    reading.tips = std::move(tips);
    batch.Add(reading);
}

void AddPacket(veltaro::data::ArchiveBatch& batch, Station& station, std::int64_t time,
               std::mt19937& random) {
    veltaro::data::Packet packet;
    packet.received = time * 1000 + 250;
    packet.source = std::to_string(station.source);
    packet.address = station.source;
    packet.hop_limit = 3;
    packet.packet_id = station.packet_id++ % 8;
    packet.bytes = 20;
    packet.record = "N," + std::to_string(packet.received) + "," + packet.source;
    packet.link = veltaro::data::LinkQuality{static_cast<int>(random() % 4), 0};
    batch.Add(packet);
}

// One day of every station's traffic.
void AddDay(veltaro::data::ArchiveBatch& batch, std::vector<Station>& stations, int day,
            std::mt19937& random) {
    for (Station& station : stations) {
        for (int hour = 0; hour < 24; ++hour) {
            const std::int64_t time =
                kStart + day * 86400LL + hour * 3600LL + station.source % 3600;
            if (static_cast<int>(random() % 100) < kStormPercent) {
                for (int burst = 3; burst >= 1; --burst) {
                    const std::int64_t at = time - burst * 900;
                    station.count = (station.count + 4) % 65536;
                    AddPacket(batch, station, at, random);
                    AddReading(batch, at, 2, kRainSensor, station.count,
                               {at - 30, at - 90, at - 200, at - 250});
                }
            }
            AddPacket(batch, station, time, random);
            AddReading(batch, time, 2, kRainSensor, station.count);
            AddReading(batch, time, 1, kBatterySensor, 1200 + random() % 80);
            AddReading(batch, time, 1, kStageSensor, 300 + random() % 50);
        }
    }
}

void WriteArchive(const std::string& path) {
    const std::string partial = path + ".partial";
    std::filesystem::remove(partial);
    {
        veltaro::data::ArchiveDatabase db(partial);
        std::vector<Station> stations;
        for (int i = 0; i < kStations; ++i) {
            stations.push_back({kFirstSource + i, static_cast<unsigned>(i * 97 % 65536), 0});
        }
        std::mt19937 random(15);
        std::vector<veltaro::data::ArchiveBatch> batches(1);
        for (int day = 0; day < kDays; ++day) {
            batches[0].Clear();
            AddDay(batches[0], stations, day, random);
            db.Add(batches);
            if ((day + 1) % 30 == 0) {
                std::fprintf(stderr, "bench-stations: writing %s: day %d of %d\n", path.c_str(),
                             day + 1, kDays);
            }
        }
    }
    std::filesystem::remove(partial + "-wal");
    std::filesystem::remove(partial + "-shm");
    std::filesystem::rename(partial, path);
}

std::string NetworkRegistryText() {
    std::string text = "source,sensor,name,kind,units,multiplier,adder,interval_minutes\n";
    for (int i = 0; i < kStations; ++i) {
        const std::string source = std::to_string(kFirstSource + i);
        text += source + ",,Station " + source + ",,,,,60\n";
        text += source + ",10,Rain,rain,in,0.04,,\n";
        text += source + ",20,Battery,battery,V,0.01,,\n";
        text += source + ",11,Stage,stage,ft,0.01,-2,\n";
    }
    return text;
}

veltaro::data::Registry NetworkRegistry() {
    std::vector<veltaro::data::RegistryProblem> problems;
    return veltaro::data::Registry::Parse(NetworkRegistryText(), problems);
}

// The end of the year, in a storm for some: every window has rain to total.
constexpr std::int64_t kNowMs = (kEnd - 1800) * 1000;

void BM_StationTableRefresh(benchmark::State& state) {
    veltaro::data::StationArchive archive(g_archive);
    const veltaro::data::Registry registry = NetworkRegistry();
    const veltaro::data::StationClock clock = veltaro::data::LocalClock(kNowMs);
    std::size_t rows = 0;
    for (auto _ : state) {
        rows = veltaro::data::BuildStationTable(archive, registry, clock).size();
    }
    state.counters["stations"] = static_cast<double>(rows);
    state.counters["archive_packets"] = g_packets;
    state.counters["archive_readings"] = g_readings;
    state.counters["archive_mb"] = static_cast<double>(std::filesystem::file_size(g_archive)) / 1e6;
}

void BM_HourlyRain72Hours(benchmark::State& state) {
    veltaro::data::StationArchive archive(g_archive);
    const veltaro::data::Registry registry = NetworkRegistry();
    const std::vector<veltaro::data::StationRow> rows =
        veltaro::data::BuildStationTable(archive, registry, veltaro::data::LocalClock(kNowMs));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            veltaro::data::HourlyRain(archive, rows[rows.size() / 2], kNowMs / 1000, 72));
    }
}

// What the window's 5-second timer runs, and the repaint after it.
void BM_StationsWindowRefresh(benchmark::State& state) {
    const std::filesystem::path registry =
        std::filesystem::temp_directory_path() / "bench-stations-registry.csv";
    std::ofstream(registry) << NetworkRegistryText();
    veltaro::stations::StationsWindow window({QString::fromStdString(g_archive),
                                              QString::fromStdString(registry.string()), true,
                                              kNowMs});
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        window.Refresh();
        QCoreApplication::processEvents();
    }
    std::filesystem::remove(registry);
}

BENCHMARK(BM_StationTableRefresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HourlyRain72Hours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StationsWindowRefresh)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--archive") == 0 && i + 1 < argc) {
            g_archive = argv[++i];
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (g_archive.empty()) {
        std::fprintf(stderr, "Usage: bench-stations --archive FILE [benchmark options]\n");
        return 2;
    }
    if (!std::filesystem::exists(g_archive)) {
        const auto start = std::chrono::steady_clock::now();
        WriteArchive(g_archive);
        std::fprintf(
            stderr, "bench-stations: written in %.0f s, %.0f MB\n",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            static_cast<double>(std::filesystem::file_size(g_archive)) / 1e6);
    }
    g_packets = CountRows(g_archive, "packets");
    g_readings = CountRows(g_archive, "readings");
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    QApplication app(count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
