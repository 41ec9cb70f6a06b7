// What the window and the headless display both run: the module state over
// their controls, the decoders they start and the check timer tmrCheck, whose
// every tick runs one ingest cycle. The module state is set up here alone, so
// whatever listens to the decoded records attaches in one place for both: the
// readings' assembler with the archive, the live feeds and the SHEF outbox
// behind it.
#pragma once

#include "display/data/archive.h"
#include "display/data/reading_assembler.h"
#include "display/data/registry.h"
#include "display/data/shef_outbox.h"
#include "display/decoding/controls.h"
#include "display/decoding/module_state.h"
#include "display/ui/decoder_control.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

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

    // Start and Pause: ticks every 333 ms, or none. The first Start also
    // starts the outputs of the readings (archive, feeds), whose problems are
    // listed: the controls can show them by then.
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
    void StartOutputs();
    void LoadRegistry();
    void StartArchive();
    void StartShefOutbox();
    void Attach(std::unique_ptr<data::ReadingOutput> output);
    // Lists a problem of the outputs; one raised inside a cycle waits for its end.
    void Report(const std::string& message);

    MStart m_;
    DecoderControl decoders_;
    QTimer tmrCheck_;
    bool cycle_running_ = false;

    bool outputs_started_ = false;
    data::Registry registry_;
    data::ReadingAssembler assembler_{&registry_};
    std::vector<std::unique_ptr<data::ReadingOutput>> outputs_;
    data::Archive* archive_ = nullptr;   // one of outputs_
    data::ShefOutbox* shef_ = nullptr;   // one of outputs_
    std::vector<std::string> held_reports_;
    bool closing_ = false;
};

} // namespace veltaro
