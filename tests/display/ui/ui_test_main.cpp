// Every test process gets private configuration, data and runtime folders, so
// no test touches the user's settings, port map or instance lock.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv) {
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
