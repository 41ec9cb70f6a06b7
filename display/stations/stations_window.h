// The stations window: the station table of the display's archive, read
// every 5 seconds while the display keeps writing it. Overdue stations are
// red and first. The selected station's hourly rain over the last 72 hours
// is drawn as bars beside the latest reading of each of its sensors, and
// the table can be exported as CSV.
#pragma once

#include "display/data/registry.h"
#include "display/data/station_archive.h"
#include "display/data/station_table.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace veltaro::stations {

class RainBars;

struct WindowOptions {
    QString archive_path;
    QString registry_path;
    bool registry_required = false;     // named on the command line: missing is an error
    std::optional<std::int64_t> now_ms; // a fixed clock instead of the system's
};

class StationsWindow : public QWidget {
    Q_OBJECT
public:
    explicit StationsWindow(WindowOptions options, QWidget* parent = nullptr);
    ~StationsWindow() override;

    // Reads the registry and the archive again and shows what they hold.
    void Refresh();
    // Writes the table as CSV; the reason when that fails.
    std::optional<QString> ExportTo(const QString& path) const;

    const std::vector<data::StationRow>& Rows() const { return rows_; }

private:
    void BuildLayout();
    void LoadRegistry();
    void FillTable();
    void ShowSelected();
    void FillSensors(const data::StationRow& row);
    void ShowStatus(const QString& text, bool problem);
    void OnExport();
    std::int64_t NowMs() const;

    WindowOptions options_;
    data::Registry registry_;
    QString registry_problem_;
    std::unique_ptr<data::StationArchive> archive_;
    std::vector<data::StationRow> rows_;
    QString selected_source_;

    QLabel* lblStatus = nullptr;
    QTableWidget* tblStations = nullptr;
    RainBars* rainBars = nullptr;
    QTableWidget* tblSensors = nullptr;
    QPushButton* cmdExport = nullptr;
    QTimer* tmrRefresh = nullptr;
};

} // namespace veltaro::stations
