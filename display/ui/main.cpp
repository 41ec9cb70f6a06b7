// veltaro: the display. Starts through its splash, refuses a second instance
// and a data folder another display works in, and ends every decoder it
// started when it ends. With --headless it runs without a window.
#include "display/decoding/procedures.h"
#include "display/headless/headless.h"
#include "display/ui/command_line.h"
#include "display/ui/data_folder.h"
#include "display/ui/data_folder_lock.h"
#include "display/ui/display_window.h"
#include "display/ui/single_instance.h"
#include "display/ui/splash.h"
#include "display/ui/stop_signals.h"

#include <QApplication>

#include <csignal>

int main(int argc, char* argv[]) {
    // A closed console must not end the display while it forwards decoder output.
    std::signal(SIGPIPE, SIG_IGN);

    veltaro::CommandLine command_line;
    // --help and --version are answered before any window system is started,
    // so they work without a display, as the headless mode does.
    if (command_line.RequestsHeadless(argc, argv) || command_line.AsksForHelpOrVersion()) {
        QCoreApplication app(argc, argv);
        veltaro::NameApplication();
        command_line.Process(app); // --help and --version end the program here
        return veltaro::RunHeadless(command_line);
    }

    QApplication app(argc, argv);
    veltaro::NameApplication();
    QApplication::setWindowIcon(QIcon(veltaro::ProductPicture()));
    command_line.Process(app);

    const std::unique_ptr<QLockFile> lock =
        veltaro::ClaimSingleInstance(veltaro::InstanceLockPath());
    if (!lock) {
        return 1;
    }

    const QString program_folder = QCoreApplication::applicationDirPath();
    const QString data_folder = veltaro::ResolveDataFolder(program_folder, command_line.DataDir());
    const std::unique_ptr<veltaro::DataFolderLock> folder_lock =
        veltaro::ClaimDataFolder(data_folder);
    if (!folder_lock) {
        return 1;
    }

    veltaro::FDisplay display(program_folder, data_folder);
    QObject::connect(&display, &veltaro::FDisplay::ended, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    veltaro::OnStopSignals(display, [&display] {
        display.close();
        QCoreApplication::quit();
    });
    display.Load();
    if (folder_lock->state() != veltaro::DataFolderLock::State::Held) {
        veltaro::ReportProblem(display.Module(), "", folder_lock->Problem().toStdString());
    }

    if (command_line.NoSplash()) {
        display.show();
    } else {
        auto* splash = new veltaro::FSplash(&display); // deletes itself on close
        splash->show();
        splash->activateWindow();
    }
    return QApplication::exec();
}
