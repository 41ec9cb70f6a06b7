// Every test process gets private configuration, data and runtime folders, so
// no test touches the user's settings, port map or instance lock.
//
// Started as "display_ui_tests --hold-port DEVICE" it is another program
// holding a serial port: it opens DEVICE with QSerialPort, prints "held" and
// keeps it until its standard input ends.
#include <QApplication>
#include <QSerialPort>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {
int HoldPort(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QSerialPort port(QString::fromLocal8Bit(argv[2]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "%s\n", qPrintable(port.errorString()));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--hold-port") == 0) {
        return HoldPort(argc, argv);
    }
    testing::InitGoogleTest(&argc, argv);

    char root_template[] = "/tmp/veltaro-ui-test-XXXXXX";
    const char* root = ::mkdtemp(root_template);
    if (root == nullptr) {
        return 2;
    }
    for (const char* folder : {"config", "data", "runtime"}) {
        const std::string path = std::string(root) + "/" + folder;
        ::mkdir(path.c_str(), 0700);
    }
    ::setenv("XDG_CONFIG_HOME", (std::string(root) + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (std::string(root) + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (std::string(root) + "/runtime").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    int result = 0;
    {
        QApplication app(argc, argv);
        QApplication::setOrganizationName("Veltaro");
        QApplication::setApplicationName("Veltaro");
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    return result;
}
