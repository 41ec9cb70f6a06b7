#include "display/ui/settings.h"

#include <QSettings>
#include <QString>
#include <QStringList>

#include <array>
#include <exception>

namespace veltaro {

namespace {

struct NameSetting {
    TextBoxId box;
    const char* key;
    const char* default_text;
};

// Loaded in this order; an empty box gets the default.
constexpr std::array<NameSetting, 5> kNameSettings{{
    {TextBoxId::txtAppName, "txtAppName", kDefaultDecoderName},
    {TextBoxId::txtInputFile, "txtInputFile", "SondrelMANTout.txt"},
    {TextBoxId::txtRawDataFile, "txtRawDataFile", "A2RawData.txt"},
    {TextBoxId::txtMsgFile, "txtMsgFile", "A2Headers.txt"},
    {TextBoxId::txtReportFile, "txtReportFile", "A2Reports.txt"},
}};

// One key written by Save and Restore Defaults.
struct StoredKey {
    const char* key;
    bool is_option;
    TextBoxId box;
    OptionId option;
    const char* restored_text; // what Restore Defaults writes
};

// The order in which Save and Restore Defaults write.
constexpr std::array<StoredKey, 9> kWriteOrder{{
    {"txtInputFile", false, TextBoxId::txtInputFile, {}, "SondrelMANTout.txt"},
    {"txtRawDataFile", false, TextBoxId::txtRawDataFile, {}, "A2RawData.txt"},
    {"txtMsgFile", false, TextBoxId::txtMsgFile, {}, "A2Headers.txt"},
    {"txtReportFile", false, TextBoxId::txtReportFile, {}, "A2Reports.txt"},
    {"txtGMTOffset", false, TextBoxId::txtGMTOffset, {}, ""},
    {"optUseOffset", true, {}, OptionId::optUseOffset, ""},
    {"optDisplayed", true, {}, OptionId::optDisplayed, ""},
    {"txtFilter", false, TextBoxId::txtFilter, {}, ""},
    {"txtAppName", false, TextBoxId::txtAppName, {}, kDefaultDecoderName},
}};

class Store {
public:
    explicit Store(const char* group = "Settings") : settings_("Veltaro", "Veltaro") {
        settings_.beginGroup(group);
    }
    ~Store() {
        settings_.endGroup();
        settings_.sync();
    }

    bool Readable() const { return settings_.status() == QSettings::NoError; }
    QStringList Keys() const { return settings_.childKeys(); }

    // Absent keys read as empty text.
    std::string Read(const char* key) const {
        const QVariant value = settings_.value(key);
        // A hand-edited value with an unquoted comma comes back as a list.
        if (value.typeId() == QMetaType::QStringList) {
            return value.toStringList().join(list_separator_).toStdString();
        }
        return value.toString().toStdString();
    }

    void Write(const char* key, const std::string& text) {
        settings_.setValue(key, QString::fromStdString(text));
    }

    // How the parts of such a value are joined again.
    void SetListSeparator(const char* separator) { list_separator_ = separator; }

private:
    QSettings settings_;
    const char* list_separator_ = ", ";
};

// Save and Restore Defaults go on past a step that fails.
template <typename Step> void SkipOnError(Step step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

} // namespace

std::optional<bool> ParseBoolean(const std::string& text) {
    const QString trimmed = QString::fromStdString(text).trimmed();
    if (trimmed.compare("True", Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (trimmed.compare("False", Qt::CaseInsensitive) == 0) {
        return false;
    }
    bool is_number = false;
    const double number = trimmed.toDouble(&is_number);
    if (is_number) {
        return number != 0;
    }
    return std::nullopt;
}

std::map<std::string, std::string> LoadGroup(const char* group) {
    Store store(group);
    store.SetListSeparator(","); // a value in quotes keeps its commas exactly
    std::map<std::string, std::string> keys;
    if (store.Readable()) {
        for (const QString& key : store.Keys()) {
            keys[key.toStdString()] = store.Read(key.toUtf8().constData());
        }
    }
    return keys;
}

void LoadSettings(Controls& ui) {
    Store store;
    if (!store.Readable()) {
        return;
    }
    for (const NameSetting& setting : kNameSettings) {
        ui.SetText(setting.box, store.Read(setting.key));
        if (ui.Text(setting.box).empty()) {
            ui.SetText(setting.box, setting.default_text);
        }
    }
    ui.SetText(TextBoxId::txtGMTOffset, store.Read("txtGMTOffset"));
    ui.SetText(TextBoxId::txtFilter, store.Read("txtFilter"));

    constexpr std::array<std::pair<const char*, OptionId>, 2> kOptions{{
        {"optUseOffset", OptionId::optUseOffset},
        {"optDisplayed", OptionId::optDisplayed},
    }};
    for (const auto& [key, option] : kOptions) {
        const std::string text = store.Read(key);
        if (text.empty()) {
            ui.SetOption(option, false);
            continue;
        }
        const std::optional<bool> value = ParseBoolean(text);
        if (!value) {
            return; // a damaged key abandons the rest of the load
        }
        ui.SetOption(option, *value);
    }
}

void SaveSettings(Controls& ui) {
    Store store;
    for (const StoredKey& stored : kWriteOrder) {
        SkipOnError([&] {
            if (stored.is_option) {
                store.Write(stored.key, ui.IsSelected(stored.option) ? "True" : "False");
            } else {
                store.Write(stored.key, ui.Text(stored.box));
            }
        });
    }
}

void RestoreDefaults(Controls& ui) {
    {
        Store store;
        for (const StoredKey& stored : kWriteOrder) {
            SkipOnError([&] { store.Write(stored.key, stored.restored_text); });
        }
    }
    for (const NameSetting& setting : kNameSettings) {
        if (setting.box != TextBoxId::txtAppName) {
            SkipOnError([&] { ui.SetText(setting.box, setting.default_text); });
        }
    }
    SkipOnError([&] { ui.SetText(TextBoxId::txtAppName, kDefaultDecoderName); });
    SkipOnError([&] { ui.SetText(TextBoxId::txtFilter, ""); });
    SkipOnError([&] { ui.SetText(TextBoxId::txtGMTOffset, ""); });
    SkipOnError([&] { ui.SetOption(OptionId::optUseOffset, false); });
    SkipOnError([&] { ui.SetOption(OptionId::optDisplayed, false); });
    SkipOnError([&] { ui.SetOption(OptionId::OptSelected, true); });
    SkipOnError([&] { ui.SetOption(OptionId::optSystemTz, true); });
}

} // namespace veltaro
