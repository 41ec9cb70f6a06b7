// veltaro-stations: stations at a glance, from the display's archive. A
// window that reads it every 5 seconds, or with --print the same table as
// CSV on standard output.
#include "display/data/registry.h"
#include "display/data/station_archive.h"
#include "display/data/station_table.h"
#include "display/data/utc_time.h"
#include "display/stations/stations_window.h"
#include "display/ui/data_folder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

namespace {

constexpr const char* kArchiveName = "veltaro.sqlite";
constexpr int kUsageStatus = 2;

[[noreturn]] void UsageError(const QString& message) {
    std::fprintf(stderr, "veltaro-stations: %s\nTry 'veltaro-stations --help'.\n",
                 message.toLocal8Bit().constData());
    std::exit(kUsageStatus);
}

// Whether the command line can be answered without a window system.
bool NeedsNoWindow(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"--print", "--help", "-h", "--help-all", "--version", "-v"}) {
            if (std::strcmp(argv[i], option) == 0) {
                return true;
            }
        }
    }
    return false;
}

struct Options {
    QString archive_path;
    QString registry_path;
    bool registry_required = false;
    std::optional<std::int64_t> now_ms;
    bool print = false;
};

Options ReadCommandLine(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Stations at a glance: when each station was last heard, its packets and radio link\n"
        "over the last day, its battery and its rain from 15 minutes to a day, read from\n"
        "the display's archive (veltaro.sqlite in the data folder), which is never written.\n"
        "Overdue stations (not heard within their interval) come first.");
    const QCommandLineOption print("print",
                                   "Print the table as CSV (RFC 4180, header row) and end.");
    const QCommandLineOption data_dir("data-dir",
                                      "The display's data folder (default: the display's).", "DIR");
    const QCommandLineOption now("now",
                                 "Make the table for this moment, ISO 8601 UTC, such as "
                                 "2015-05-03T14:07:09Z (default: the clock).",
                                 "TIME");
    const QCommandLineOption stations(
        "stations", "The station registry (default: stations.csv in $XDG_CONFIG_HOME/Veltaro).",
        "FILE");
    parser.addOptions({print, data_dir, now, stations});
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(app.arguments())) {
        UsageError(parser.errorText());
    }
    if (parser.isSet("help")) {
        parser.showHelp(0);
    }
    if (parser.isSet("version")) {
        parser.showVersion();
    }
    if (!parser.positionalArguments().isEmpty()) {
        UsageError("unexpected argument '" + parser.positionalArguments().front() + "'");
    }
    Options options;
    options.print = parser.isSet(print);
    const QString requested = parser.value(data_dir);
    if (!requested.isEmpty() && !QFileInfo(requested).isDir()) {
        UsageError("no data folder '" + requested + "'");
    }
    options.archive_path =
        veltaro::ResolveDataFolder(QCoreApplication::applicationDirPath(), requested) + "/" +
        kArchiveName;
    options.registry_required = parser.isSet(stations);
    options.registry_path = options.registry_required
                                ? parser.value(stations)
                                : QString::fromStdString(veltaro::data::DefaultRegistryPath());
    if (parser.isSet(now)) {
        options.now_ms = veltaro::data::ParseIsoMillis(parser.value(now).toStdString());
        if (!options.now_ms) {
            UsageError("--now takes a time in UTC such as 2015-05-03T14:07:09Z, not '" +
                       parser.value(now) + "'");
        }
    }
    return options;
}

int Print(const Options& options) {
    using namespace veltaro::data;
    Registry registry;
    if (!LoadRegistryReporting(options.registry_path.toStdString(), options.registry_required,
                               "veltaro-stations", std::cerr, registry)) {
        return kUsageStatus;
    }
    const std::int64_t now = options.now_ms.value_or(QDateTime::currentMSecsSinceEpoch());
    try {
        StationArchive archive(options.archive_path.toStdString());
        std::cout << StationTableCsv(BuildStationTable(archive, registry, LocalClock(now)));
    } catch (const std::exception& error) {
        std::cerr << "veltaro-stations: " << error.what() << "\n";
        return 1;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    std::unique_ptr<QCoreApplication> app;
    if (NeedsNoWindow(argc, argv)) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
    }
    QCoreApplication::setOrganizationName("Veltaro");
    QCoreApplication::setApplicationName("veltaro-stations");
    QCoreApplication::setApplicationVersion("1.03");
    const Options options = ReadCommandLine(*app);
    if (options.print) {
        return Print(options);
    }
    veltaro::stations::StationsWindow window(
        {options.archive_path, options.registry_path, options.registry_required, options.now_ms});
    window.show();
    return QCoreApplication::exec();
}
