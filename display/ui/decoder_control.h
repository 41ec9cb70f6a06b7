// The display's side of the decoder: which serial ports can be opened, and the
// decoder processes started on them. Every decoder this display starts is
// kept, and all of them are ended when the display ends.
#pragma once

#include "display/decoding/module_state.h"

#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

namespace veltaro {

struct PortEntry {
    QString name;   // "COMn"
    QString device; // what the name resolves to, for the user to see
};

// Ports COM1..COM24 whose device can be opened (and is closed again) now.
std::vector<PortEntry> ProbePorts();

class DecoderControl : public QObject {
    Q_OBJECT
public:
    // The decoder program is looked up in program_folder and runs in data_folder.
    DecoderControl(MStart& m, QString program_folder, QString data_folder);
    ~DecoderControl() override;

    // Starts one further decoder on COM<port>, with the decoder name and any
    // arguments from txtAppName. Reports "  Can't open Decoder Program" and
    // returns false when the process cannot be started.
    bool StartDecoder(int port);

    // Asks every running decoder to end (SIGTERM), waits briefly, then kills
    // those that remain.
    void CloseDecoder();

    bool AnyStarted() const { return !decoders_.empty(); }
    QString DecoderPath() const { return decoder_path_; }
    std::vector<qint64> RunningProcessIds() const;

signals:
    // A decoder ended on its own (CloseDecoder ends them quietly), after the
    // report of it was shown.
    void decoderEnded(int exit_code, QProcess::ExitStatus status);

private:
    struct Decoder {
        std::unique_ptr<QProcess> process;
        int port = 0;
        QByteArray pending[2]; // per channel: output not yet ended by a line break
        QByteArray last_line;
    };

    void Forward(Decoder& decoder, QProcess::ProcessChannel channel);
    void ReportEnded(Decoder& decoder, int exit_code, QProcess::ExitStatus status);

    MStart& m_;
    QString program_folder_;
    QString data_folder_;
    QString decoder_path_;
    std::vector<std::unique_ptr<Decoder>> decoders_;
};

} // namespace veltaro
