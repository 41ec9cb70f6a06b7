// veltaro: the display. Starts through its splash, refuses a second instance,
// and ends every decoder it started when it ends.
#include "display/ui/data_folder.h"
#include "display/ui/display_window.h"
#include "display/ui/single_instance.h"
#include "display/ui/splash.h"

#include <QApplication>
#include <QCommandLineParser>

#include <csignal>

int main(int argc, char* argv[]) {
    // A closed console must not end the display while it forwards decoder output.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setOrganizationName("Veltaro");
    QApplication::setApplicationName("Veltaro");
    QApplication::setApplicationVersion("1.03");
    QApplication::setWindowIcon(QIcon(veltaro::ProductPicture()));

    QCommandLineParser parser;
    parser.setApplicationDescription("ALERT2 telemetry display");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption data_dir(
        "data-dir", "Folder of the exchange file and the logs; the decoder runs there.", "DIR");
    const QCommandLineOption no_splash("no-splash", "Show the main window at once.");
    parser.addOption(data_dir);
    parser.addOption(no_splash);
    parser.process(app);

    const std::unique_ptr<QLockFile> lock =
        veltaro::ClaimSingleInstance(veltaro::InstanceLockPath());
    if (!lock) {
        return 1;
    }

    const QString program_folder = QCoreApplication::applicationDirPath();
    veltaro::FDisplay display(program_folder,
                              veltaro::ResolveDataFolder(program_folder, parser.value(data_dir)));
    QObject::connect(&display, &veltaro::FDisplay::ended, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    display.Load();

    if (parser.isSet(no_splash)) {
        display.show();
    } else {
        auto* splash = new veltaro::FSplash(&display); // deletes itself on close
        splash->show();
        splash->activateWindow();
    }
    return QApplication::exec();
}
