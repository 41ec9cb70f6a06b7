#include "common/port_names.h"

#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class PortNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root_ / "Veltaro" / "ports");
        ::setenv("XDG_CONFIG_HOME", root_.path().c_str(), 1);
    }
    const harness::TempDir root_{"port-names"};
};

TEST_F(PortNamesTest, ComNamesMapToTheFixedDevicesWhenTheMapHasNoEntry) {
    struct Case {
        const char* name;
        const char* device;
    };
    const Case cases[] = {
        {"COM1", "/dev/ttyS0"},    {"com8", "/dev/ttyS7"},    {"COM9", "/dev/ttyUSB0"},
        {"Com16", "/dev/ttyUSB7"}, {"COM17", "/dev/ttyACM0"}, {"COM24", "/dev/ttyACM7"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(common::resolve_port_name(c.name), c.device) << c.name;
    }
}

TEST_F(PortNamesTest, AMapEntryWinsEvenWhenItsTargetIsGone) {
    const fs::path entry = root_ / "Veltaro" / "ports" / "COM5";
    fs::create_symlink("/dev/pts/does-not-exist", entry);
    EXPECT_EQ(common::resolve_port_name("com5"), entry.string());
    EXPECT_EQ(common::resolve_port_name("COM6"), "/dev/ttyS5");
}

TEST_F(PortNamesTest, PathsAndOtherNamesStandAsGiven) {
    EXPECT_EQ(common::resolve_port_name("/dev/pts/7"), "/dev/pts/7");
    EXPECT_EQ(common::resolve_port_name("./capture.txt"), "./capture.txt");
    EXPECT_EQ(common::resolve_port_name("capture.txt"), "capture.txt");
    EXPECT_EQ(common::resolve_port_name("COM0"), "COM0");
    EXPECT_EQ(common::resolve_port_name("COM25"), "COM25");
    EXPECT_EQ(common::resolve_port_name("COMX"), "COMX");
    EXPECT_EQ(common::resolve_port_name(""), "");
}

TEST_F(PortNamesTest, ConfigHomeFallsBackToDotConfig) {
    ::setenv("XDG_CONFIG_HOME", "", 1);
    ::setenv("HOME", "/home/tech", 1);
    EXPECT_EQ(common::port_map_folder(), fs::path("/home/tech/.config/Veltaro/ports"));
}

} // namespace
