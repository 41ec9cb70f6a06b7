// FDisplay, the one working window: the three lists, the current MANT message,
// the settings, the port list and Start/Pause/End. It is the decoding core's
// Controls, implemented with its real widgets; its session's tmrCheck drives
// the ingest cycle.
#pragma once

#include "display/decoding/controls.h"
#include "display/decoding/module_state.h"
#include "display/ui/display_session.h"

#include <QWidget>

#include <array>
#include <optional>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace veltaro {

class PortComboBox;

inline constexpr const char* kHeaderColumns =
    "              Receive Time                Source    Add Path   Hop Limit     Pkt  ID      "
    "Test Msg      Bytes          Path 1        Path 2        Path3       Path 4       Path 5  ";
inline constexpr const char* kReportColumns =
    "             Reading Time             Source             Type            Sensor          "
    "Value";

class FDisplay : public QWidget, public Controls {
    Q_OBJECT
public:
    // program_folder: where the decoder program is found; data_folder: where
    // the exchange file and the logs are, and where the decoder runs.
    FDisplay(const QString& program_folder, const QString& data_folder);
    ~FDisplay() override;

    // The load steps: size and centre, LoadSettings, FillPortList.
    void Load();
    void FillPortList();
    void StartDecoder(int port);
    void CloseDecoder();

    MStart& Module() { return m_; }
    DecoderControl& Decoders() { return session_.Decoders(); }

    // Controls
    void InsertTop(ListId list, const std::string& text) override;
    int Count(ListId list) const override;
    void Remove(ListId list, int index) override;
    void Clear(ListId list) override;
    std::string Entry(ListId list, int index) const override;
    void ReplaceEntry(ListId list, int index, const std::string& text) override;
    int SelectedIndex(ListId list) const override;
    void SetSelected(ListId list, int index, bool selected) override;
    std::string Text(TextBoxId box) const override;
    void SetText(TextBoxId box, const std::string& text) override;
    bool IsSelected(OptionId option) const override;
    void SetOption(OptionId option, bool selected) override;
    void Beep() override;
    void ProcessEvents() override;
    std::string DataFolder() const override;

signals:
    // End was pressed: the decoders are closed and the program is to end.
    void ended();

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildDisplayArea();
    void BuildSettingsFrame();
    void Connect();
    void ShowDataFolderProblem();
    void SizeAndCentre();
    void AdoptFrameLater();
    void AdoptFrame();
    void ApplyResizeRules();
    void OnStart();
    void OnPause();
    void OnEnd();
    void OnClear();
    void OnCycleFinished();
    void OnPortChosen(int index);
    QListWidget* List(ListId list) const;
    QListWidget* CheckedList(ListId list, int index) const;

    QString data_folder_;
    // Load sized and centred the window before its frame was known.
    bool frame_pending_ = false;
    // During a tick txtNMessage gets every selected N record; only the last
    // one is shown, so the box takes it once at the end. Lists the tick
    // changes are laid out and painted once at its end too.
    void HoldListsForTick();
    bool lists_held_ = false;
    std::optional<std::string> held_message_;
    DisplaySession session_;
    MStart& m_;

    std::array<QListWidget*, 3> lists_{};
    std::array<QLineEdit*, 9> texts_{};
    std::array<QRadioButton*, 4> options_{};
    QLabel* lblVersion = nullptr;
    QLabel* lblDataFolder = nullptr;
    QGroupBox* fraSettings = nullptr;
    QGroupBox* fraTime = nullptr;
    QGroupBox* fraLogs = nullptr;
    PortComboBox* cmbPortSelect = nullptr;
    QPushButton* cmdStart = nullptr;
    QPushButton* cmdPause = nullptr;
    QPushButton* cmdEnd = nullptr;
    QPushButton* cmdSaveSettings = nullptr;
    QPushButton* cmdDefaults = nullptr;
    QPushButton* cmdClear = nullptr;
};

} // namespace veltaro
