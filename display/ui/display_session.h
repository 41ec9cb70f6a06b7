// What the window and the headless display both run: the module state over
// their controls, the decoders they start and the check timer tmrCheck, whose
// every tick runs one ingest cycle. The module state is set up here alone, so
// whatever listens to the decoded records attaches in one place for both.
#pragma once

#include "display/decoding/controls.h"
#include "display/decoding/module_state.h"
#include "display/ui/decoder_control.h"

#include <QObject>
#include <QTimer>

namespace veltaro {

class DisplaySession : public QObject {
    Q_OBJECT
public:
    // program_folder: where the decoder program is found; data_folder: where
    // the exchange file and the logs are, and where the decoder runs.
    DisplaySession(Controls& ui, const QString& program_folder, const QString& data_folder,
                   QObject* parent = nullptr);
    ~DisplaySession() override;

    MStart& Module() { return m_; }
    DecoderControl& Decoders() { return decoders_; }

    // Start and Pause: ticks every 333 ms, or none.
    void StartChecking();
    void PauseChecking();
    bool CycleRunning() const { return cycle_running_; }

    // Ends the run as closing the window does: no further tick, every decoder
    // ended. Called from events handled inside a cycle, it lets that cycle
    // finish its pass.
    void Close();

signals:
    // Every tick, before its cycle; a tick that falls due inside a cycle
    // starts none.
    void ticked();
    void cycleFinished();

private:
    void OnTick();

    MStart m_;
    DecoderControl decoders_;
    QTimer tmrCheck_;
    bool cycle_running_ = false;
};

} // namespace veltaro
