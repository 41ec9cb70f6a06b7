// veltaro: the display. Starts through its splash, refuses a second instance,
// and ends every decoder it started when it ends.
#include "display/ui/data_folder.h"
#include "display/ui/display_window.h"
#include "display/ui/single_instance.h"
#include "display/ui/splash.h"
#include "display/ui/version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signal_pipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signal_pipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP close the window the orderly way, so the
// decoders it started end with it.
void CloseOnStopSignals(QWidget& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_pipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(signal_pipe[0], &byte, 1);
        window.close();
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal_number, &action, nullptr);
    }
}

// --help and --version are answered before any window system is started, so
// they work without a display.
bool AsksForHelpOrVersion(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0) {
                return true;
            }
        }
    }
    return false;
}
} // namespace

int main(int argc, char* argv[]) {
    // A closed console must not end the display while it forwards decoder output.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication::setOrganizationName("Veltaro");
    QCoreApplication::setApplicationName("Veltaro");
    QCoreApplication::setApplicationVersion(veltaro::kVersion);

    QCommandLineParser parser;
    parser.setApplicationDescription("ALERT2 telemetry display");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption data_dir(
        "data-dir", "Folder of the exchange file and the logs; the decoder runs there.", "DIR");
    const QCommandLineOption no_splash("no-splash", "Show the main window at once.");
    parser.addOption(data_dir);
    parser.addOption(no_splash);
    if (AsksForHelpOrVersion(argc, argv)) {
        QCoreApplication console(argc, argv);
        parser.process(console); // prints the answer and ends the program
    }

    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(veltaro::ProductPicture()));
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
    CloseOnStopSignals(display);
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
