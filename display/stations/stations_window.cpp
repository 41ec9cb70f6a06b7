#include "display/stations/stations_window.h"

#include "display/data/numbers.h"
#include "display/stations/rain_bars.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>

namespace veltaro::stations {

namespace {

constexpr int kRefreshMs = 5000;
constexpr int kHoursOfBars = 72;
constexpr int kLastHeardColumn = 2;
constexpr int kFirstNumberColumn = 3;
// Digits kept of a scaled value, as the readings' "scaled".
constexpr int kScaledDigits = 12;
const QColor kOverdue(Qt::red);

const QStringList kSensorColumns{"sensor", "name", "kind", "time", "value", "scaled", "units"};

QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// Local time as the window shows it: "2015-05-03 09:07:09".
QString LocalTime(std::int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString("yyyy-MM-dd HH:mm:ss");
}

QTableWidget* MakeTable(QWidget* parent, const char* name, const QStringList& columns) {
    auto* table = new QTableWidget(0, static_cast<int>(columns.size()), parent);
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(columns);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setAlternatingRowColors(true);
    return table;
}

QTableWidgetItem* MakeItem(const QString& text, bool number) {
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    return item;
}

const data::SensorEntry* RegisteredSensor(const data::Registry& registry, const std::string& source,
                                          long long sensor) {
    const std::optional<long long> address = data::WholeNumber(source);
    return address ? registry.Sensor(static_cast<int>(*address), sensor) : nullptr;
}

} // namespace

StationsWindow::StationsWindow(WindowOptions options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)) {
    setObjectName("FStations");
    setWindowTitle("Stations - " + QFileInfo(options_.archive_path).absolutePath());
    resize(1260, 780);
    BuildLayout();
    tmrRefresh = new QTimer(this);
    tmrRefresh->setObjectName("tmrRefresh");
    tmrRefresh->setInterval(kRefreshMs);
    connect(tmrRefresh, &QTimer::timeout, this, &StationsWindow::Refresh);
    tmrRefresh->start();
    Refresh();
}

StationsWindow::~StationsWindow() = default;

void StationsWindow::BuildLayout() {
    auto* layout = new QVBoxLayout(this);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lblStatus);

    QStringList columns;
    for (const std::string& column : data::StationColumns()) {
        columns << FromStd(column);
    }
    auto* split = new QSplitter(Qt::Vertical, this);
    tblStations = MakeTable(split, "tblStations", columns);
    auto* detail = new QSplitter(Qt::Horizontal, split);
    rainBars = new RainBars(detail);
    tblSensors = MakeTable(detail, "tblSensors", kSensorColumns);
    detail->setSizes({640, 600});
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);

    auto* buttons = new QHBoxLayout;
    cmdExport = new QPushButton("Export CSV...", this);
    cmdExport->setObjectName("cmdExport");
    buttons->addWidget(cmdExport);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(tblStations, &QTableWidget::currentCellChanged, this, &StationsWindow::ShowSelected);
    connect(cmdExport, &QPushButton::clicked, this, &StationsWindow::OnExport);
}

std::int64_t StationsWindow::NowMs() const {
    return options_.now_ms.value_or(QDateTime::currentMSecsSinceEpoch());
}

void StationsWindow::LoadRegistry() {
    std::vector<data::RegistryProblem> problems;
    bool found = false;
    const std::string path = options_.registry_path.toStdString();
    registry_problem_.clear();
    try {
        registry_ = data::LoadRegistry(path, problems, found);
    } catch (const std::exception& error) {
        registry_problem_ = FromStd(error.what());
        return;
    }
    if (!found && options_.registry_required) {
        registry_problem_ = "no station registry at " + options_.registry_path;
    } else if (!problems.empty()) {
        registry_problem_ =
            FromStd(data::DescribeProblem(path, problems.front())) +
            (problems.size() > 1 ? QString(" (and %1 more)").arg(problems.size() - 1) : QString());
    }
}

void StationsWindow::Refresh() {
    LoadRegistry();
    try {
        if (!archive_) {
            archive_ = std::make_unique<data::StationArchive>(options_.archive_path.toStdString());
        }
        rows_ = data::BuildStationTable(*archive_, registry_, data::LocalClock(NowMs()));
    } catch (const std::exception& error) {
        archive_.reset(); // opened again at the next refresh
        ShowStatus(QString("Can't read the archive: %1. The display writes it while it runs; "
                           "tried again every %2 s.")
                       .arg(FromStd(error.what()))
                       .arg(kRefreshMs / 1000),
                   true);
        return;
    }
    FillTable();
    const auto overdue = std::count_if(rows_.begin(), rows_.end(),
                                       [](const data::StationRow& row) { return row.overdue; });
    QString status = QString("%1 stations, %2 overdue. Read at %3 from %4")
                         .arg(rows_.size())
                         .arg(overdue)
                         .arg(LocalTime(NowMs() / 1000), options_.archive_path);
    if (!registry_problem_.isEmpty()) {
        status += ". " + registry_problem_;
    }
    ShowStatus(status, !registry_problem_.isEmpty());
}

void StationsWindow::ShowStatus(const QString& text, bool problem) {
    lblStatus->setText(text);
    lblStatus->setStyleSheet(problem ? "color: red" : "");
}

void StationsWindow::FillTable() {
    const QSignalBlocker blocker(tblStations);
    tblStations->setUpdatesEnabled(false);
    // Columns are fitted when stations come or go, not at every refresh,
    // where they would jump as the figures change.
    const bool fit = tblStations->rowCount() != static_cast<int>(rows_.size());
    tblStations->setRowCount(static_cast<int>(rows_.size()));
    int selected = rows_.empty() ? -1 : 0;
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        const data::StationRow& row = rows_[static_cast<std::size_t>(r)];
        std::vector<std::string> fields = data::StationFields(row);
        for (int c = 0; c < static_cast<int>(fields.size()); ++c) {
            QString text = FromStd(fields[static_cast<std::size_t>(c)]);
            if (c == kLastHeardColumn && row.packets.last_heard) {
                text = LocalTime(*row.packets.last_heard / 1000);
            }
            QTableWidgetItem* item = MakeItem(text, c >= kFirstNumberColumn);
            if (row.overdue) {
                item->setForeground(kOverdue);
            }
            tblStations->setItem(r, c, item);
        }
        if (FromStd(row.source) == selected_source_) {
            selected = r;
        }
    }
    tblStations->setCurrentCell(selected, 0);
    if (fit) {
        tblStations->resizeColumnsToContents();
    }
    tblStations->setUpdatesEnabled(true);
    ShowSelected();
}

void StationsWindow::ShowSelected() {
    const int r = tblStations->currentRow();
    if (r < 0 || r >= static_cast<int>(rows_.size()) || !archive_) {
        rainBars->SetHours({}, {}, {});
        tblSensors->setRowCount(0);
        return;
    }
    const data::StationRow& row = rows_[static_cast<std::size_t>(r)];
    selected_source_ = FromStd(row.source);
    const QString station = row.name.empty()
                                ? selected_source_
                                : QString("%1 (%2)").arg(FromStd(row.name), selected_source_);
    try {
        rainBars->SetHours(data::HourlyRain(*archive_, row, NowMs() / 1000, kHoursOfBars), station,
                           FromStd(row.RainUnitsText()));
    } catch (const std::exception& error) {
        rainBars->SetHours({}, station, {});
        ShowStatus(QString("Can't read the archive: %1").arg(FromStd(error.what())), true);
    }
    FillSensors(row);
}

void StationsWindow::FillSensors(const data::StationRow& row) {
    tblSensors->setRowCount(static_cast<int>(row.latest.size()));
    for (int r = 0; r < static_cast<int>(row.latest.size()); ++r) {
        const data::LatestReading& reading = row.latest[static_cast<std::size_t>(r)];
        const data::SensorEntry* entry = RegisteredSensor(registry_, row.source, reading.sensor);
        QString scaled;
        if (entry != nullptr && reading.value) {
            scaled = FromStd(data::NumberText(
                data::RoundSignificant(entry->Scaled(*reading.value), kScaledDigits)));
        }
        const QString cells[] = {
            QString::number(reading.sensor),
            entry != nullptr ? FromStd(entry->name) : QString(),
            FromStd(entry != nullptr && !entry->kind.empty() ? entry->kind : reading.kind),
            LocalTime(reading.time),
            FromStd(reading.text),
            scaled,
            entry != nullptr ? FromStd(entry->units) : QString()};
        for (int c = 0; c < static_cast<int>(std::size(cells)); ++c) {
            tblSensors->setItem(r, c, MakeItem(cells[c], c == 0 || c == 4 || c == 5));
        }
    }
    tblSensors->resizeColumnsToContents();
}

std::optional<QString> StationsWindow::ExportTo(const QString& path) const {
    QSaveFile file(path);
    const QByteArray csv = QByteArray::fromStdString(data::StationTableCsv(rows_));
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
        return QString("Can't write %1: %2").arg(path, file.errorString());
    }
    return std::nullopt;
}

void StationsWindow::OnExport() {
    const QString folder = QFileInfo(options_.archive_path).absolutePath();
    const QString path = QFileDialog::getSaveFileName(
        this, "Export stations", folder + "/stations.csv", "CSV files (*.csv);;All files (*)");
    if (path.isEmpty()) {
        return;
    }
    if (const std::optional<QString> problem = ExportTo(path)) {
        QMessageBox::warning(this, "Export stations", *problem);
    }
}

} // namespace veltaro::stations
