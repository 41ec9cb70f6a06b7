#include "display/ui/decoder_control.h"

#include "common/port_names.h"
#include "display/decoding/procedures.h"
#include "display/ui/data_folder.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPort>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

namespace veltaro {

namespace {
constexpr int kFirstPort = 1;
constexpr int kLastPort = 24;
constexpr int kStartWaitMs = 10000;
// A decoder makes its last flush on SIGTERM; this is ample for it.
constexpr int kTerminateWaitMs = 3000;
constexpr int kKillWaitMs = 2000;
constexpr const char* kCantOpen = "  Can't open Decoder Program";

QString DeviceDescription(const QString& device) {
    const QFileInfo info(device);
    if (info.isSymLink()) {
        return device + " -> " + info.symLinkTarget();
    }
    return device;
}

// The device behind a port-map link: a serial port's lock file is named after
// the device, so the probe and a decoder holding the port must agree on it.
QString ResolvedDevice(const QString& device) {
    const QString resolved = QFileInfo(device).canonicalFilePath();
    return resolved.isEmpty() ? device : resolved;
}

// Why the decoder cannot be started in data_folder with program, or empty.
QString StartProblem(const QString& program, const QString& data_folder) {
    if (const QString problem = DataFolderProblem(data_folder); !problem.isEmpty()) {
        return "Data folder " + data_folder + ": " + problem;
    }
    if (::access(QFile::encodeName(program).constData(), X_OK) != 0) {
        return program + ": " + QString::fromLocal8Bit(std::strerror(errno));
    }
    return {};
}

// Exchange-file records on the decoder's console say nothing about why it ended.
bool IsRecord(const QByteArray& line) {
    return line.size() >= 2 && line[1] == ',' &&
           (line[0] == 'P' || line[0] == 'S' || line[0] == 'N');
}

QString HowItEnded(int exit_code, QProcess::ExitStatus status) {
    if (status == QProcess::CrashExit) {
        return "was stopped by signal " + QString::number(exit_code) + " (" +
               QString::fromLocal8Bit(::strsignal(exit_code)) + ")";
    }
    return "ended with exit status " + QString::number(exit_code);
}

void WriteAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written <= 0) {
            return; // the display's own console is gone; the output is not needed
        }
        data += written;
        left -= written;
    }
}
} // namespace

std::vector<PortEntry> ProbePorts() {
    std::vector<PortEntry> entries;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const QString name = "COM" + QString::number(n);
        const QString device =
            QString::fromStdString(common::resolve_port_name(name.toStdString()));
        QSerialPort port;
        port.setPortName(ResolvedDevice(device));
        if (port.open(QIODevice::ReadWrite)) {
            port.close();
            entries.push_back({name, DeviceDescription(device)});
        }
    }
    return entries;
}

DecoderControl::DecoderControl(MStart& m, QString program_folder, QString data_folder)
    : m_(m), program_folder_(std::move(program_folder)), data_folder_(std::move(data_folder)) {}

DecoderControl::~DecoderControl() {
    CloseDecoder();
}

bool DecoderControl::StartDecoder(int port) {
    const QString app_name = QString::fromStdString(m_.ui.Text(TextBoxId::txtAppName));
    decoder_path_ = program_folder_ + "/" + app_name;

    QStringList words = app_name.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    const QString program =
        program_folder_ + "/" + (words.isEmpty() ? QString() : words.takeFirst());
    words.append("-pCOM" + QString::number(port));

    if (const QString problem = StartProblem(program, data_folder_); !problem.isEmpty()) {
        ReportProblem(m_, problem.toStdString(), kCantOpen);
        return false;
    }

    auto decoder = std::make_unique<Decoder>();
    decoder->port = port;
    decoder->process = std::make_unique<QProcess>();
    QProcess& process = *decoder->process;
    process.setProgram(program);
    process.setArguments(words);
    process.setWorkingDirectory(data_folder_);
    // Even a display that is killed leaves no decoder behind.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start();
    if (!process.waitForStarted(kStartWaitMs)) {
        ReportProblem(m_, (program + ": " + process.errorString()).toStdString(), kCantOpen);
        return false;
    }

    Decoder* raw = decoder.get();
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [this, raw] { Forward(*raw, QProcess::StandardOutput); });
    connect(&process, &QProcess::readyReadStandardError, this,
            [this, raw] { Forward(*raw, QProcess::StandardError); });
    connect(
        &process, &QProcess::finished, this,
        [this, raw](int code, QProcess::ExitStatus status) { ReportEnded(*raw, code, status); });
    decoders_.push_back(std::move(decoder));
    return true;
}

// Passes the decoder's console on to the display's own and remembers its last
// line, which says why a decoder that ends on its own ended.
void DecoderControl::Forward(Decoder& decoder, QProcess::ProcessChannel channel) {
    decoder.process->setReadChannel(channel);
    const QByteArray bytes = decoder.process->readAll();
    WriteAll(channel == QProcess::StandardOutput ? STDOUT_FILENO : STDERR_FILENO, bytes);

    QByteArray& pending = decoder.pending[channel == QProcess::StandardOutput ? 0 : 1];
    pending += bytes;
    qsizetype line_end;
    while ((line_end = pending.indexOf('\n')) >= 0) {
        const QByteArray line = pending.left(line_end).trimmed();
        if (!line.isEmpty()) {
            decoder.last_line = line;
        }
        pending.remove(0, line_end + 1);
    }
}

void DecoderControl::ReportEnded(Decoder& decoder, int exit_code, QProcess::ExitStatus status) {
    Forward(decoder, QProcess::StandardOutput);
    Forward(decoder, QProcess::StandardError);
    QByteArray last_line = decoder.last_line;
    for (const QByteArray& pending : decoder.pending) {
        if (!pending.trimmed().isEmpty()) {
            last_line = pending.trimmed();
        }
    }
    QString text = "  Decoder Program on COM" + QString::number(decoder.port) + " " +
                   HowItEnded(exit_code, status);
    if (!last_line.isEmpty() && !IsRecord(last_line)) {
        text += ": " + QString::fromUtf8(last_line);
    }
    m_.MessageText = text.toStdString();
    ShowMessage(m_);
    emit decoderEnded(exit_code, status);
}

void DecoderControl::CloseDecoder() {
    std::vector<QProcess*> running;
    for (const auto& decoder : decoders_) {
        QProcess* process = decoder->process.get();
        if (process->state() == QProcess::NotRunning) {
            continue;
        }
        // Ended by us: not worth a line in the report list.
        disconnect(process, &QProcess::finished, this, nullptr);
        process->terminate();
        running.push_back(process);
    }
    const QDeadlineTimer deadline(kTerminateWaitMs);
    for (QProcess* process : running) {
        process->waitForFinished(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
    }
    bool all_ended = true;
    for (QProcess* process : running) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            all_ended = process->waitForFinished(kKillWaitMs) && all_ended;
        }
    }
    if (!all_ended) {
        ReportProblem(m_, "A decoder process did not end", " Problem closing Decoder Program");
    }
}

std::vector<qint64> DecoderControl::RunningProcessIds() const {
    std::vector<qint64> ids;
    for (const auto& decoder : decoders_) {
        if (decoder->process->state() != QProcess::NotRunning) {
            ids.push_back(decoder->process->processId());
        }
    }
    return ids;
}

} // namespace veltaro
