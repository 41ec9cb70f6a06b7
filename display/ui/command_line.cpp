#include "display/ui/command_line.h"

#include "common/port_names.h"
#include "display/ui/version.h"

#include <cstdio>
#include <cstdlib>

namespace veltaro {

void NameApplication() {
    QCoreApplication::setOrganizationName("Veltaro");
    QCoreApplication::setApplicationName("Veltaro");
    QCoreApplication::setApplicationVersion(kVersion);
}

CommandLine::CommandLine()
    : data_dir_("data-dir", "Folder of the exchange file and the logs; the decoder runs there.",
                "DIR"),
      no_splash_("no-splash", "Show the main window at once."),
      headless_("headless", "Run without a window or display server: start the decoder on "
                            "--port and log every record (a base-station server)."),
      port_("port", "The receiver's port for --headless, as the window's port list names it.",
            "COMn") {
    parser_.setApplicationDescription("ALERT2 telemetry display");
    parser_.addHelpOption();
    parser_.addVersionOption();
    parser_.addOption(data_dir_);
    parser_.addOption(no_splash_);
    parser_.addOption(headless_);
    parser_.addOption(port_);
}

bool CommandLine::RequestsHeadless(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    // Other faults of the command line are reported by Process, in whichever
    // mode it asked for.
    parser_.parse(arguments);
    if (!Headless() && parser_.isSet(port_)) {
        UsageError("--port works with --headless only");
    }
    return Headless();
}

void CommandLine::Process(const QCoreApplication& app) {
    parser_.process(app);
    if (!Headless()) {
        return;
    }
    if (!parser_.isSet(port_)) {
        UsageError("--headless needs --port COMn");
    }
    const std::optional<int> number = common::com_port_number(parser_.value(port_).toStdString());
    if (!number) {
        UsageError("--port takes a port name COMn, such as COM3, not " + parser_.value(port_));
    }
    port_number_ = *number;
}

void CommandLine::UsageError(const QString& message) {
    std::fprintf(stderr, "veltaro: %s\nTry 'veltaro --help'.\n", message.toLocal8Bit().constData());
    std::exit(EXIT_FAILURE);
}

} // namespace veltaro
