// veltaro --headless with no display server: the simulator on a pseudo-
// terminal mapped as COM5, the decoder the headless display starts on it, and
// the three logs it writes.
#include "headless_fixture.h"

#include <cerrno>

namespace {

using namespace harness;

TEST_F(HeadlessTest, RecordsFromTheSimulatorReachTheThreeLogsUnderTheSavedNames) {
    // "Selected" is saved: the headless display logs every record regardless.
    SaveSettings("txtRawDataFile=raw.txt\ntxtMsgFile=headers.txt\ntxtReportFile=reports.txt\n"
                 "optDisplayed=False\noptUseOffset=True\ntxtGMTOffset=0\n");
    Child sim = StartCounted(12, 5);
    const pid_t display = StartDisplay({"--headless", "--port", "COM5", "--data-dir", Data()});

    const std::vector<std::string> expected = FinishSimulator(sim, "raw.txt");
    ASSERT_GT(expected.size(), 12u);
    ::kill(display, SIGTERM);
    EXPECT_EQ(wait_exit(display, 30), 0);

    EXPECT_EQ(MaskedRawLog("raw.txt"), expected);
    EXPECT_FALSE(fs::exists(dir_ / "data/A2RawData.txt"));

    // The header and report logs are what the decoding core makes of the raw log.
    fs::create_directories(dir_ / "reference");
    const pid_t decode = spawn({kBin + "/veltaro-decode", "--gmt-offset", "0", "--log-dir",
                                dir_.file("reference"), dir_.file("data/raw.txt")},
                               dir_.path())
                             .pid;
    ASSERT_EQ(wait_exit(decode, 60), 0);
    for (const auto& [log, reference] : {std::pair{"raw.txt", "A2RawData.txt"},
                                         {"headers.txt", "A2Headers.txt"},
                                         {"reports.txt", "A2Reports.txt"}}) {
        EXPECT_TRUE(read_file(dir_ / "data" / log) == read_file(dir_ / "reference" / reference))
            << log;
    }
    EXPECT_GT(read_records(dir_ / "data/reports.txt").size(), expected.size());
    EXPECT_EQ(read_file(dir_ / "errors.txt").find("veltaro: "), std::string::npos)
        << read_file(dir_ / "errors.txt");
}

TEST_F(HeadlessTest, EachStopSignalEndsItsDecoderAndItCleanly) {
    for (const int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal_number));
        fs::remove(dir_ / "errors.txt");
        const std::size_t logged = read_records(dir_ / "data/A2RawData.txt").size();
        const Child sim = StartSimulator();
        const pid_t display = StartDisplay({"--headless", "--port", "COM5", "--data-dir", Data()});
        ASSERT_TRUE(
            wait_for([&] { return read_records(dir_ / "data/A2RawData.txt").size() > logged; }));
        const std::vector<pid_t> decoders = Children(display);
        ASSERT_EQ(decoders.size(), 1u);

        ::kill(display, signal_number);
        EXPECT_EQ(wait_exit(display, 30), 0);
        EXPECT_TRUE(::kill(decoders[0], 0) == -1 && errno == ESRCH) << "the decoder outlived it";
        EXPECT_EQ(read_file(dir_ / "errors.txt").find("Decoder Program"), std::string::npos);
        ::kill(sim.pid, SIGTERM);
        wait_exit(sim.pid, 30);
        ::close(sim.output);
    }
}

TEST_F(HeadlessTest, ASecondDisplayIsRefusedWhileTheFirstRuns) {
    const Child sim = StartSimulator();
    const pid_t first = StartDisplay({"--headless", "--port", "COM5", "--data-dir", Data()});
    ASSERT_TRUE(wait_for([&] { return Children(first).size() == 1; }));

    struct Case {
        const char* what;
        std::string data;
        const char* runtime;
        std::string message;
    };
    const Case cases[] = {
        {"another user on the same data folder", Data(), "runtime-2",
         "veltaro: The data folder " + Data() + " is in use by another Veltaro\n"},
        {"the same user on another data folder", dir_.file("other"), "runtime",
         "veltaro: Veltaro is already running on this computer\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string errors = std::string("errors-") + c.runtime + ".txt";
        const pid_t second =
            StartDisplay({"--headless", "--port", "COM5", "--data-dir", c.data}, errors, c.runtime);
        EXPECT_EQ(wait_exit(second, 30), 1);
        EXPECT_EQ(read_file(dir_ / errors), c.message);
    }
    EXPECT_EQ(::kill(first, 0), 0);
    ::kill(first, SIGTERM);
    EXPECT_EQ(wait_exit(first, 30), 0);
    ::kill(sim.pid, SIGTERM);
    ::close(sim.output);
}

// The shipped unit's command and environment, with its specifiers filled in
// as systemd would for COM5, the state and runtime folders made in ours.
TEST_F(HeadlessTest, TheSystemdUnitsCommandRunsTheDisplayOnItsPort) {
    const std::string state = dir_.file("state");
    const std::string runtime = dir_.file("run");
    fs::create_directories(state + "/veltaro/COM5");
    fs::create_directories(runtime + "/veltaro/COM5");
    fs::permissions(runtime + "/veltaro/COM5", fs::perms::owner_all);
    std::vector<std::string> argv;
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + dir_.file("config")};
    std::istringstream unit(read_file(VELTARO_SOURCE_DIR "/packaging/veltaro-headless@.service"));
    for (std::string line; std::getline(unit, line);) {
        for (const auto& [specifier, value] :
             {std::pair{"%i", std::string("COM5")}, {"%S", state}, {"%t", runtime}}) {
            for (std::size_t at; (at = line.find(specifier)) != std::string::npos;) {
                line.replace(at, 2, value);
            }
        }
        if (line.rfind("Environment=", 0) == 0) {
            env.push_back(line.substr(12));
        } else if (line.rfind("ExecStart=", 0) == 0) {
            std::istringstream words(line.substr(10));
            for (std::string word; words >> word;) {
                argv.push_back(argv.empty() ? kBin + "/veltaro" : word);
            }
        }
    }
    ASSERT_GT(argv.size(), 1u);

    const Child sim = StartSimulator();
    const pid_t display = spawn(argv, dir_.path(), env).pid;
    started_.push_back(display);
    EXPECT_TRUE(
        wait_for([&] { return !read_records(dir_ / "state/veltaro/COM5/A2RawData.txt").empty(); }));
    EXPECT_TRUE(fs::exists(runtime + "/veltaro/COM5/veltaro.lock"));
    ::kill(display, SIGTERM);
    EXPECT_EQ(wait_exit(display, 30), 0);
    ::kill(sim.pid, SIGTERM);
    ::close(sim.output);
}

TEST_F(HeadlessTest, AProblemAtTheStartEndsItWithStatusOneAndSaysWhy) {
    write_file(dir_ / "a-file", "");
    struct Case {
        const char* what;
        std::string settings;
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {"no port", "", {"--headless", "--data-dir", Data()}, "--headless needs --port COMn"},
        {"a port without --headless", "", {"--port", "COM5"}, "--port works with --headless only"},
        {"a decoder program that is missing",
         "txtAppName=no-such-decoder\n",
         {"--headless", "--port", "COM5", "--data-dir", Data()},
         "  Can't open Decoder Program"},
        {"a decoder that cannot open its port",
         "",
         {"--headless", "--port", "COM30", "--data-dir", Data()},
         "  Decoder Program on COM30 ended"},
        {"a data folder that is a file",
         "",
         {"--headless", "--port", "COM5", "--data-dir", dir_.file("a-file")},
         "  Can't lock the data folder " + dir_.file("a-file")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SaveSettings(c.settings);
        fs::remove(dir_ / "errors.txt");
        EXPECT_EQ(wait_exit(StartDisplay(c.args), 30), 1);
        const std::string errors = read_file(dir_ / "errors.txt");
        EXPECT_NE(errors.find("veltaro: "), std::string::npos) << errors;
        EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
    }
}

} // namespace
