// The display's command line, one set of options for the window and the
// headless mode alike.
#pragma once

#include <QCommandLineParser>
#include <QCoreApplication>

namespace veltaro {

// The organisation, name and version that the settings and --version use.
void NameApplication();

class CommandLine {
public:
    CommandLine();

    // Whether the arguments ask for the headless mode. Read before any
    // application object exists, so that mode never needs a display server.
    bool RequestsHeadless(int argc, char* argv[]);
    // Whether they ask for --help or --version (after RequestsHeadless).
    bool AsksForHelpOrVersion() const {
        return parser_.isSet("help") || parser_.isSet("help-all") || parser_.isSet("version");
    }

    // Parses the program's arguments. --help and --version are answered and a
    // bad command line is reported here, and the program ends.
    void Process(const QCoreApplication& app);

    bool Headless() const { return parser_.isSet(headless_); }
    bool NoSplash() const { return parser_.isSet(no_splash_); }
    QString DataDir() const { return parser_.value(data_dir_); }
    // n of --port COMn (headless mode only).
    int Port() const { return port_number_; }

private:
    [[noreturn]] static void UsageError(const QString& message);

    QCommandLineParser parser_;
    QCommandLineOption data_dir_;
    QCommandLineOption no_splash_;
    QCommandLineOption headless_;
    QCommandLineOption port_;
    int port_number_ = 0;
};

} // namespace veltaro
