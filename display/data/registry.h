// The station registry: stations.csv in the configuration folder names the
// stations, their expected reporting intervals and their sensors, with the
// kind, units and scaling of each sensor's value.
//
//   source,sensor,name,kind,units,multiplier,adder,interval_minutes,nws_id,shef
//   1234,,Cedar Creek,,,,,60,CDRC1,
//   1234,10,Gauge,rain,in,0.04,,,,PCIRRZZ
//
// A row with an empty sensor describes the station, one with a sensor that
// sensor. Columns are found by their names in the header row; a sensor is
// sent to the forecast office in SHEF when its station has an nws_id and
// it has a shef parameter code.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltaro::data {

struct StationEntry {
    std::string name;
    int interval_minutes = 360; // expected time between reports
    std::string nws_id;         // SHEF location id; empty: not exported
    std::size_t line = 0;
};

struct SensorEntry {
    std::string name;
    std::string kind; // free text; "rain", "stage" and "battery" are understood
    std::string units;
    double multiplier = 1; // for "rain": the depth of one tip
    double adder = 0;
    std::string shef; // SHEF parameter code, e.g. PCIRRZZ; empty: not exported
    std::size_t line = 0;

    // Case-insensitive comparison with one of the understood kinds.
    bool IsKind(std::string_view understood) const;
    double Scaled(double value) const { return value * multiplier + adder; }
};

struct RegistryProblem {
    std::size_t line = 0;
    std::string reason;
};

class Registry {
public:
    // Reads the text of a registry; rows that cannot be read are left out
    // and reported in `problems`, the others loaded.
    static Registry Parse(std::string_view text, std::vector<RegistryProblem>& problems);

    const StationEntry* Station(int source) const;
    const SensorEntry* Sensor(int source, long long sensor) const;

    const std::map<int, StationEntry>& Stations() const { return stations_; }
    const std::map<std::pair<int, long long>, SensorEntry>& Sensors() const { return sensors_; }

private:
    std::map<int, StationEntry> stations_;
    std::map<std::pair<int, long long>, SensorEntry> sensors_;
};

// $XDG_CONFIG_HOME/Veltaro/stations.csv (by default under ~/.config).
std::string DefaultRegistryPath();

// Loads a registry file; one that does not exist is an empty registry and
// sets `found` false. Throws std::runtime_error when it cannot be read.
Registry LoadRegistry(const std::string& path, std::vector<RegistryProblem>& problems, bool& found);

// "<file> line <n>: <reason>", as the problem is shown to the user.
std::string DescribeProblem(std::string_view file, const RegistryProblem& problem);

// Loads a registry for a command-line program, which writes each problem to
// `errors` after "<program>: ". False, the reason written, when the file
// cannot be read, or is missing although the user named it.
bool LoadRegistryReporting(const std::string& path, bool named, std::string_view program,
                           std::ostream& errors, Registry& registry);

} // namespace veltaro::data
