#include "display/data/registry.h"

#include "display/data/csv.h"
#include "display/data/numbers.h"
#include "display/data/shef.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace veltaro::data {

namespace {

enum Column {
    kSource,
    kSensor,
    kName,
    kKind,
    kUnits,
    kMultiplier,
    kAdder,
    kInterval,
    kNwsId,
    kShef,
    kColumns
};

constexpr std::array<std::string_view, kColumns> kColumnNames{
    "source", "sensor",           "name",   "kind", "units", "multiplier",
    "adder",  "interval_minutes", "nws_id", "shef"};

constexpr long long kMaxSensor = 8191; // compact reports number sensors with 13 bits

// Where each column stands in a row, from the header row.
struct Layout {
    std::array<std::optional<std::size_t>, kColumns> at;
    std::size_t width = 0;
};

// A row that cannot be read: the reason is what the user sees.
struct RowError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

bool ReadHeader(const CsvRecord& header, Layout& layout, std::vector<RegistryProblem>& problems) {
    layout.width = header.fields.size();
    for (std::size_t i = 0; i < header.fields.size(); ++i) {
        const std::string name = Trim(header.fields[i]);
        std::size_t column = 0;
        while (column < kColumns && kColumnNames[column] != name) {
            ++column;
        }
        if (column == kColumns) {
            problems.push_back({header.line, "unknown column \"" + name + "\" is ignored"});
        } else if (layout.at[column]) {
            problems.push_back({header.line, "column \"" + name + "\" appears twice"});
        } else {
            layout.at[column] = i;
        }
    }
    if (!layout.at[kSource] || !layout.at[kSensor]) {
        problems.push_back({header.line, "the header row needs the columns source and sensor; "
                                         "no row is loaded"});
        return false;
    }
    return true;
}

class Row {
public:
    Row(const CsvRecord& record, const Layout& layout) : record_(record), layout_(layout) {
        if (record.fields.size() > layout.width) {
            throw RowError(std::to_string(record.fields.size()) + " fields where the header has " +
                           std::to_string(layout.width));
        }
    }

    // The trimmed field; empty when the column or the field is missing.
    std::string Field(Column column) const {
        const auto& at = layout_.at[column];
        return at && *at < record_.fields.size() ? Trim(record_.fields[*at]) : std::string();
    }

    long long Integer(Column column, long long low, long long high) const {
        const std::string text = Field(column);
        const std::optional<long long> value = WholeNumber(text);
        if (!value || *value < low || *value > high) {
            throw RowError(std::string(kColumnNames[column]) + " \"" + text +
                           "\" is not a whole number from " + std::to_string(low) + " to " +
                           std::to_string(high));
        }
        return *value;
    }

    double Number(Column column, double fallback) const {
        const std::string text = Field(column);
        if (text.empty()) {
            return fallback;
        }
        double value = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
            !std::isfinite(value)) {
            throw RowError(std::string(kColumnNames[column]) + " \"" + text + "\" is not a number");
        }
        return value;
    }

private:
    const CsvRecord& record_;
    const Layout& layout_;
};

std::string AlreadyDescribed(const std::string& what, std::size_t line) {
    return what + " is already described on line " + std::to_string(line);
}

using StationMap = std::map<int, StationEntry>;
using SensorMap = std::map<std::pair<int, long long>, SensorEntry>;

// The SHEF columns: a location id for a station, a parameter code for a
// sensor, each only on its own kind of row.
std::string NwsId(const Row& row, bool station_row) {
    std::string id = row.Field(kNwsId);
    if (!id.empty() && !station_row) {
        throw RowError("nws_id \"" + id + "\" belongs on the station's row (with no sensor)");
    }
    if (!id.empty() && !IsShefLocationId(id)) {
        throw RowError("nws_id \"" + id + "\" is not 3 to 8 characters A-Z, 0-9 or _");
    }
    return id;
}

std::string ShefCode(const Row& row, const SensorEntry* sensor) {
    std::string code = row.Field(kShef);
    if (code.empty()) {
        return code;
    }
    if (sensor == nullptr) {
        throw RowError("shef \"" + code + "\" belongs on a sensor's row");
    }
    if (const auto problem = ShefCodeProblem(code)) {
        throw RowError("shef \"" + code + "\" " + *problem);
    }
    if ((IsShefPrecipitation(code) || sensor->IsKind("rain")) && !IsShefRainUnits(sensor->units)) {
        throw RowError("shef " + code + " sends rain in in or mm, not in units \"" + sensor->units +
                       "\"");
    }
    return code;
}

void AddStation(const Row& row, int source, std::size_t line, StationMap& stations) {
    StationEntry station;
    station.name = row.Field(kName);
    station.nws_id = NwsId(row, true);
    ShefCode(row, nullptr);
    if (!row.Field(kInterval).empty()) {
        station.interval_minutes = static_cast<int>(row.Integer(kInterval, 1, 527040));
    }
    station.line = line;
    const auto [at, added] = stations.emplace(source, station);
    if (!added) {
        throw RowError(AlreadyDescribed("source " + std::to_string(source), at->second.line));
    }
}

void AddSensor(const Row& row, int source, std::size_t line, SensorMap& sensors) {
    const long long number = row.Integer(kSensor, 0, kMaxSensor);
    SensorEntry sensor;
    sensor.name = row.Field(kName);
    sensor.kind = row.Field(kKind);
    sensor.units = row.Field(kUnits);
    sensor.multiplier = row.Number(kMultiplier, 1);
    sensor.adder = row.Number(kAdder, 0);
    NwsId(row, false);
    sensor.shef = ShefCode(row, &sensor);
    sensor.line = line;
    const auto [at, added] = sensors.emplace(std::make_pair(source, number), sensor);
    if (!added) {
        throw RowError(AlreadyDescribed("source " + std::to_string(source) + " sensor " +
                                            std::to_string(number),
                                        at->second.line));
    }
}

} // namespace

bool SensorEntry::IsKind(std::string_view understood) const {
    if (kind.size() != understood.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kind.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(kind[i])) !=
            std::tolower(static_cast<unsigned char>(understood[i]))) {
            return false;
        }
    }
    return true;
}

Registry Registry::Parse(std::string_view text, std::vector<RegistryProblem>& problems) {
    std::vector<CsvProblem> csv_problems;
    const std::vector<CsvRecord> records = ReadCsv(text, csv_problems);
    for (const CsvProblem& problem : csv_problems) {
        problems.push_back({problem.line, problem.reason});
    }
    Registry registry;
    Layout layout;
    if (records.empty() || !ReadHeader(records.front(), layout, problems)) {
        return registry;
    }
    for (std::size_t i = 1; i < records.size(); ++i) {
        const CsvRecord& record = records[i];
        try {
            const Row row(record, layout);
            const int source = static_cast<int>(row.Integer(kSource, 0, 65535));
            if (row.Field(kSensor).empty()) {
                AddStation(row, source, record.line, registry.stations_);
            } else {
                AddSensor(row, source, record.line, registry.sensors_);
            }
        } catch (const RowError& error) {
            problems.push_back({record.line, error.what()});
        }
    }
    return registry;
}

const StationEntry* Registry::Station(int source) const {
    const auto found = stations_.find(source);
    return found == stations_.end() ? nullptr : &found->second;
}

const SensorEntry* Registry::Sensor(int source, long long sensor) const {
    const auto found = sensors_.find({source, sensor});
    return found == sensors_.end() ? nullptr : &found->second;
}

std::string DefaultRegistryPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::string(home != nullptr ? home : "") + "/.config";
    }
    return folder + "/Veltaro/stations.csv";
}

Registry LoadRegistry(const std::string& path, std::vector<RegistryProblem>& problems,
                      bool& found) {
    if (std::filesystem::is_directory(path)) {
        throw std::runtime_error(path + ": " + std::strerror(EISDIR));
    }
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        const int error = errno != 0 ? errno : EIO;
        found = false;
        if (error == ENOENT) {
            return {};
        }
        throw std::runtime_error(path + ": " + std::strerror(error));
    }
    found = true;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        throw std::runtime_error(path + ": cannot be read");
    }
    return Registry::Parse(text.str(), problems);
}

std::string DescribeProblem(std::string_view file, const RegistryProblem& problem) {
    return std::string(file) + " line " + std::to_string(problem.line) + ": " + problem.reason;
}

bool LoadRegistryReporting(const std::string& path, bool named, std::string_view program,
                           std::ostream& errors, Registry& registry) {
    std::vector<RegistryProblem> problems;
    bool found = false;
    try {
        registry = LoadRegistry(path, problems, found);
    } catch (const std::exception& error) {
        errors << program << ": " << error.what() << "\n";
        return false;
    }
    if (!found && named) {
        errors << program << ": cannot read '" << path << "': " << std::strerror(ENOENT) << "\n";
        return false;
    }
    for (const RegistryProblem& problem : problems) {
        errors << program << ": " << DescribeProblem(path, problem) << "\n";
    }
    return true;
}

} // namespace veltaro::data
