#include "display/headless/headless.h"

#include "display/decoding/memory_controls.h"
#include "display/ui/data_folder.h"
#include "display/ui/data_folder_lock.h"
#include "display/ui/display_session.h"
#include "display/ui/settings.h"
#include "display/ui/single_instance.h"
#include "display/ui/stop_signals.h"

#include <cstdio>
#include <exception>
#include <memory>

namespace veltaro {

namespace {

void PrintProblem(const std::string& text) {
    const std::string line = "veltaro: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// The lists held in memory, bounded by the ingest cycle's trimming as the
// window's are. Events run where a cycle lets the window's run, so the
// decoder's console is still read and a stop signal still taken during a long
// pass.
class HeadlessControls : public MemoryControls {
public:
    using MemoryControls::MemoryControls;

    void WatchProblemsOf(const MStart& m) { m_ = &m; }

    // ShowMessage is the display's one way of reporting a problem, and it
    // lists MessageText: that is what goes to standard error.
    void InsertTop(ListId list, const std::string& text) override {
        MemoryControls::InsertTop(list, text);
        if (list == ListId::lstReport && m_ != nullptr && !text.empty() &&
            text == m_->MessageText) {
            PrintProblem(text);
        }
    }
    void ProcessEvents() override { QCoreApplication::processEvents(); }

private:
    const MStart* m_ = nullptr;
};

// The saved settings, as the window loads them; logging is always on.
void LoadHeadlessSettings(Controls& ui) {
    try {
        LoadSettings(ui);
    } catch (const std::exception&) {
        // The window's load skips a failing step the same way.
    }
    ui.SetOption(OptionId::optDisplayed, true);
}

// Where a problem at the start is told: no lists exist yet.
int Refuse(const QString& problem) {
    PrintProblem(problem.toStdString());
    return 1;
}

} // namespace

int RunHeadless(const CommandLine& command_line) {
    const std::unique_ptr<QLockFile> instance = TryClaimSingleInstance(InstanceLockPath());
    if (!instance) {
        return Refuse(kAlreadyRunningText);
    }
    const QString program_folder = QCoreApplication::applicationDirPath();
    const QString data_folder = ResolveDataFolder(program_folder, command_line.DataDir());
    // A server that cannot hold its folder would run unseen: it stops instead.
    const DataFolderLock folder_lock(data_folder);
    if (folder_lock.state() != DataFolderLock::State::Held) {
        return Refuse(folder_lock.Problem());
    }

    HeadlessControls ui(data_folder.toStdString());
    DisplaySession session(ui, program_folder, data_folder);
    ui.WatchProblemsOf(session.Module());
    LoadHeadlessSettings(ui);

    OnStopSignals(session, [&session] {
        session.Close();
        QCoreApplication::exit(0);
    });
    QObject::connect(&session.Decoders(), &DecoderControl::decoderEnded, &session,
                     [&session](int exit_code, QProcess::ExitStatus status) {
                         session.Close();
                         const bool clean = status == QProcess::NormalExit && exit_code == 0;
                         QCoreApplication::exit(clean ? 0 : 1);
                     });
    if (!session.Decoders().StartDecoder(command_line.Port())) {
        return 1;
    }
    session.StartChecking();
    return QCoreApplication::exec();
}

} // namespace veltaro
