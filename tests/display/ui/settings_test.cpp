#include "display/ui/display_window.h"
#include "display/ui/settings.h"
#include "ui_test_support.h"

#include <QFileInfo>
#include <QSettings>

#include <gtest/gtest.h>

namespace veltaro {
namespace {

class SettingsTest : public testing::Test {
protected:
    void SetUp() override {
        QSettings store("Veltaro", "Veltaro");
        store.clear();
        store.sync();
        QFile::remove(store.fileName());
    }

    static void Store(const QString& key, const QString& value) {
        QSettings store("Veltaro", "Veltaro");
        store.setValue("Settings/" + key, value);
    }
    static QVariant Stored(const QString& key) {
        return QSettings("Veltaro", "Veltaro").value("Settings/" + key);
    }
    static QString StoreFile() { return QSettings("Veltaro", "Veltaro").fileName(); }

    QTemporaryDir folder_;
    FDisplay window_{folder_.path(), folder_.path()};
};

TEST_F(SettingsTest, FirstRunShowsDefaultsAndLeavesTheStoreEmpty) {
    LoadSettings(window_);

    EXPECT_EQ(window_.Text(TextBoxId::txtAppName), "quorvel");
    EXPECT_EQ(window_.Text(TextBoxId::txtInputFile), "SondrelMANTout.txt");
    EXPECT_EQ(window_.Text(TextBoxId::txtRawDataFile), "A2RawData.txt");
    EXPECT_EQ(window_.Text(TextBoxId::txtMsgFile), "A2Headers.txt");
    EXPECT_EQ(window_.Text(TextBoxId::txtReportFile), "A2Reports.txt");
    EXPECT_EQ(window_.Text(TextBoxId::txtGMTOffset), "");
    EXPECT_EQ(window_.Text(TextBoxId::txtFilter), "");
    EXPECT_TRUE(window_.IsSelected(OptionId::optSystemTz));
    EXPECT_FALSE(window_.IsSelected(OptionId::optUseOffset));
    EXPECT_TRUE(window_.IsSelected(OptionId::OptSelected));
    EXPECT_FALSE(window_.IsSelected(OptionId::optDisplayed));
    EXPECT_FALSE(QFileInfo::exists(StoreFile()));
}

TEST_F(SettingsTest, EmptyDecoderNameLoadsAsDefaultWhileTheStoreKeepsIt) {
    Store("txtAppName", "");
    Store("txtGMTOffset", "-7");
    Store("txtFilter", "1234");

    LoadSettings(window_);

    EXPECT_EQ(window_.Text(TextBoxId::txtAppName), "quorvel");
    EXPECT_EQ(window_.Text(TextBoxId::txtGMTOffset), "-7");
    EXPECT_EQ(window_.Text(TextBoxId::txtFilter), "1234");
    EXPECT_EQ(Stored("txtAppName").toString(), "");
}

TEST_F(SettingsTest, SaveWritesEveryControlAsTextAndLoadBringsItBack) {
    window_.SetText(TextBoxId::txtAppName, "quorvel -l decoder.log");
    window_.SetText(TextBoxId::txtInputFile, "exchange.txt");
    window_.SetText(TextBoxId::txtRawDataFile, "raw.txt");
    window_.SetText(TextBoxId::txtMsgFile, "headers.txt");
    window_.SetText(TextBoxId::txtReportFile, "reports.txt");
    window_.SetText(TextBoxId::txtGMTOffset, "2.5");
    window_.SetText(TextBoxId::txtFilter, "1,2");
    window_.SetOption(OptionId::optUseOffset, true);

    SaveSettings(window_);

    EXPECT_EQ(Stored("optUseOffset").toString(), "True");
    EXPECT_EQ(Stored("optDisplayed").toString(), "False");
    EXPECT_EQ(Stored("txtFilter").toString(), "1,2");

    FDisplay reloaded(folder_.path(), folder_.path());
    LoadSettings(reloaded);
    for (TextBoxId box : {TextBoxId::txtAppName, TextBoxId::txtInputFile, TextBoxId::txtRawDataFile,
                          TextBoxId::txtMsgFile, TextBoxId::txtReportFile, TextBoxId::txtGMTOffset,
                          TextBoxId::txtFilter}) {
        EXPECT_EQ(reloaded.Text(box), window_.Text(box));
    }
    EXPECT_TRUE(reloaded.IsSelected(OptionId::optUseOffset));
    EXPECT_FALSE(reloaded.IsSelected(OptionId::optSystemTz));
    EXPECT_TRUE(reloaded.IsSelected(OptionId::OptSelected));
}

struct OptionCase {
    const char* name;
    const char* use_offset;
    const char* displayed;
    bool system_tz, use_offset_selected, selected, displayed_selected;
};

void PrintTo(const OptionCase& c, std::ostream* out) {
    *out << c.name;
}

class OptionKeyLoad : public SettingsTest, public testing::WithParamInterface<OptionCase> {};

TEST_P(OptionKeyLoad, SetsOptionsAndStopsAtADamagedKey) {
    const OptionCase& c = GetParam();
    Store("optUseOffset", c.use_offset);
    Store("optDisplayed", c.displayed);

    LoadSettings(window_);

    EXPECT_EQ(window_.IsSelected(OptionId::optSystemTz), c.system_tz);
    EXPECT_EQ(window_.IsSelected(OptionId::optUseOffset), c.use_offset_selected);
    EXPECT_EQ(window_.IsSelected(OptionId::OptSelected), c.selected);
    EXPECT_EQ(window_.IsSelected(OptionId::optDisplayed), c.displayed_selected);
    EXPECT_EQ(window_.Text(TextBoxId::txtAppName), "quorvel"); // loaded before the options
}

INSTANTIATE_TEST_SUITE_P(
    Settings, OptionKeyLoad,
    testing::Values(
        // True selects and clears the partner; False and empty clear only the option.
        OptionCase{"TrueSelects", "True", "True", false, true, false, true},
        OptionCase{"FalseClears", "False", "False", true, false, true, false},
        OptionCase{"EmptyClears", "", "", true, false, true, false},
        OptionCase{"AnyCaseAndNumbers", "true", "-1", false, true, false, true},
        OptionCase{"ZeroAndUpperCase", "0", "FALSE", true, false, true, false},
        // A word that is no Boolean stops the load: optDisplayed is not read.
        OptionCase{"DamagedFirstKeyStops", "Yes", "True", true, false, true, false},
        OptionCase{"DamagedSecondKeyStops", "False", "maybe", true, false, true, false}),
    [](const testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, RestoreDefaultsWritesTheStoreAndResetsTheControlsOnly) {
    Store("txtAppName", "other-decoder");
    Store("optUseOffset", "True");
    window_.SetText(TextBoxId::txtAppName, "other-decoder");
    window_.SetText(TextBoxId::txtFilter, "99");
    window_.SetText(TextBoxId::txtGMTOffset, "3");
    window_.SetOption(OptionId::optUseOffset, true);
    window_.SetOption(OptionId::optDisplayed, true);
    window_.InsertTop(ListId::lstReport, "  a report line");

    RestoreDefaults(window_);

    const std::pair<const char*, const char*> expected_store[] = {
        {"txtInputFile", "SondrelMANTout.txt"},
        {"txtRawDataFile", "A2RawData.txt"},
        {"txtMsgFile", "A2Headers.txt"},
        {"txtReportFile", "A2Reports.txt"},
        {"txtGMTOffset", ""},
        {"optUseOffset", ""},
        {"optDisplayed", ""},
        {"txtFilter", ""},
        {"txtAppName", "quorvel"}};
    for (const auto& [key, value] : expected_store) {
        EXPECT_TRUE(Stored(key).isValid()) << key;
        EXPECT_EQ(Stored(key).toString(), value) << key;
    }
    EXPECT_EQ(window_.Text(TextBoxId::txtAppName), "quorvel");
    EXPECT_EQ(window_.Text(TextBoxId::txtFilter), "");
    EXPECT_EQ(window_.Text(TextBoxId::txtGMTOffset), "");
    EXPECT_TRUE(window_.IsSelected(OptionId::optSystemTz));
    EXPECT_FALSE(window_.IsSelected(OptionId::optUseOffset));
    EXPECT_TRUE(window_.IsSelected(OptionId::OptSelected));
    EXPECT_FALSE(window_.IsSelected(OptionId::optDisplayed));
    EXPECT_EQ(window_.Count(ListId::lstReport), 1);

    FDisplay reloaded(folder_.path(), folder_.path());
    reloaded.SetOption(OptionId::optUseOffset, true);
    LoadSettings(reloaded);
    EXPECT_FALSE(reloaded.IsSelected(OptionId::optUseOffset));
    EXPECT_FALSE(reloaded.IsSelected(OptionId::optSystemTz)); // empty key leaves the partner
}

} // namespace
} // namespace veltaro
