// The stations window on an archive the display's own path writes: overdue
// stations red and first, the selected station's bars and sensors, the
// export, and an archive that appears after the window opened.
#include "display/data/archive.h"
#include "display/stations/rain_bars.h"
#include "display/stations/stations_window.h"
#include "tests/support/csv.h"
#include "tests/support/exchange_text.h"
#include "tests/support/harness.h"
#include "tests/support/readings.h"

#include <QLabel>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <numeric>

namespace veltaro::stations {
namespace {

using harness::gsr_payload;
using harness::n_record_at;
using harness::rain_payload;

constexpr std::int64_t kNow = 1430661600LL * 1000; // 2015-05-03T14:00:00Z
constexpr std::int64_t kMinute = 60 * 1000;

constexpr const char* kRegistry = "source,sensor,name,kind,units,multiplier,interval_minutes\n"
                                  "1234,,Cedar Creek,,,,60\n"
                                  "1234,10,Gauge,rain,in,0.04,\n"
                                  "1234,20,Battery,battery,V,0.01,\n";

class StationsWindowTest : public testing::Test {
protected:
    void SetUp() override { harness::write_file(dir_ / "stations.csv", kRegistry); }

    void Store() {
        data::Archive archive(archive_, [](const std::string& message) { FAIL() << message; });
        harness::decode_into(harness::exchange_content({
                                 n_record_at(kNow - 120 * kMinute, rain_payload(10, 100)),
                                 n_record_at(kNow - 30 * kMinute, rain_payload(10, 105)),
                                 n_record_at(kNow - 29 * kMinute, gsr_payload(20, 1250)),
                                 n_record_at(kNow - 420 * kMinute, gsr_payload(1, 7), "2001"),
                             }),
                             {&archive});
        ASSERT_TRUE(archive.Flush());
    }

    StationsWindow& Open() {
        window_ = std::make_unique<StationsWindow>(
            WindowOptions{QString::fromStdString(archive_),
                          QString::fromStdString(dir_.file("stations.csv")), true, kNow});
        return *window_;
    }

    template <typename T> T* Child(const char* name) {
        T* child = window_->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    QString Cell(const char* table, int row, int column) {
        const QTableWidgetItem* item = Child<QTableWidget>(table)->item(row, column);
        return item != nullptr ? item->text() : QString();
    }

    harness::TempDir dir_;
    std::string archive_ = dir_.file("veltaro.sqlite");
    std::unique_ptr<StationsWindow> window_;
};

TEST_F(StationsWindowTest, OverdueIsRedAndFirstAndTheSelectedStationShowsItsRainAndSensors) {
    Store();
    Open();
    auto* stations = Child<QTableWidget>("tblStations");
    ASSERT_EQ(stations->rowCount(), 2);
    EXPECT_EQ(Cell("tblStations", 0, 0), "2001");
    EXPECT_EQ(stations->item(0, 5)->foreground().color(), QColor(Qt::red));
    EXPECT_EQ(Cell("tblStations", 1, 0), "1234");
    EXPECT_NE(stations->item(1, 5)->foreground().color(), QColor(Qt::red));

    stations->setCurrentCell(1, 0);
    const std::vector<data::HourOfRain>& hours = Child<RainBars>("rainBars")->Hours();
    ASSERT_EQ(hours.size(), 72u);
    EXPECT_DOUBLE_EQ(
        std::accumulate(hours.begin(), hours.end(), 0.0,
                        [](double sum, const data::HourOfRain& hour) { return sum + hour.rain; }),
        0.2);
    ASSERT_EQ(Child<QTableWidget>("tblSensors")->rowCount(), 2);
    EXPECT_EQ(Cell("tblSensors", 1, 1), "Battery");
    EXPECT_EQ(Cell("tblSensors", 1, 5), "12.5");
    EXPECT_FALSE(Child<RainBars>("rainBars")->grab().isNull());

    window_->Refresh();
    EXPECT_EQ(stations->currentRow(), 1); // the same station stays selected
}

TEST_F(StationsWindowTest, ExportWritesTheTableAsCsvOrSaysWhyNot) {
    Store();
    Open();
    ASSERT_EQ(window_->ExportTo(QString::fromStdString(dir_.file("out.csv"))), std::nullopt);
    const harness::CsvRows rows = harness::parse_csv(harness::read_file(dir_ / "out.csv"));
    EXPECT_EQ(rows, harness::parse_csv(data::StationTableCsv(window_->Rows())));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1][0], "2001");

    const std::optional<QString> problem =
        window_->ExportTo(QString::fromStdString(dir_.file("gone/out.csv")));
    ASSERT_TRUE(problem.has_value());
    EXPECT_TRUE(problem->startsWith("Can't write " + QString::fromStdString(dir_.file("gone"))));
}

TEST_F(StationsWindowTest, AnArchiveThatAppearsLaterIsRead) {
    Open();
    auto* status = Child<QLabel>("lblStatus");
    EXPECT_TRUE(status->text().startsWith("Can't read the archive: no archive at"))
        << status->text().toStdString();
    EXPECT_EQ(Child<QTableWidget>("tblStations")->rowCount(), 0);
    Store();
    window_->Refresh();
    EXPECT_TRUE(status->text().startsWith("2 stations, 1 overdue")) << status->text().toStdString();
    EXPECT_EQ(Child<QTableWidget>("tblStations")->rowCount(), 2);
}

TEST(RainBars, TheAxisEndsAtARoundNumber) {
    const std::pair<double, double> cases[] = {{0, 1}, {0.2, 0.2}, {0.21, 0.5}, {0.52, 1},
                                               {3, 5}, {7, 10},    {12, 20},    {10, 10}};
    for (const auto& [most, top] : cases) {
        EXPECT_DOUBLE_EQ(AxisTop(most), top) << most;
    }
}

} // namespace
} // namespace veltaro::stations
