// The whole chain: sondrel-sim on a pseudo-terminal, quorvel started by the
// window on the mapped port, the window's ticks, and the three lists.
#include "common/port_names.h"
#include "display/ui/display_window.h"
#include "display/ui/settings.h"
#include "tests/support/sqlite.h"
#include "ui_test_support.h"

#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace veltaro {
namespace {

QStringList Lines(const QByteArray& text) {
    QStringList lines;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.trimmed().isEmpty()) {
            lines << QString::fromUtf8(line).remove('\r');
        }
    }
    return lines;
}

// An expected record has "T" for each timestamp field and "U" for each timing field.
bool MatchesExpected(const QString& record, const QString& expected) {
    const QStringList got = record.split(',');
    const QStringList want = expected.split(',');
    if (got.size() != want.size()) {
        return false;
    }
    for (qsizetype i = 0; i < got.size(); ++i) {
        if (want[i] != "T" && want[i] != "U" && want[i] != got[i]) {
            return false;
        }
    }
    return true;
}

// One list as veltaro-decode prints it: the entries after "[name]", top first.
QStringList Section(const QStringList& output, const QString& name) {
    QStringList entries;
    qsizetype i = output.indexOf("[" + name + "]");
    if (i < 0) {
        return entries;
    }
    while (++i < output.size() && !output[i].startsWith('[')) {
        entries << output[i];
    }
    return entries;
}

QStringList Entries(const FDisplay& window, ListId list) {
    QStringList entries;
    for (int i = 0; i < window.Count(list); ++i) {
        const QString entry = QString::fromStdString(window.Entry(list, i));
        // When the simulator closes its side the decoder reports the lost
        // receiver (an S,13 record), or ends: neither is a decoded line.
        if (!entry.startsWith("  Decoder Program on") && !entry.startsWith("  S,13,")) {
            entries << entry;
        }
    }
    return entries;
}

TEST(EndToEnd, ReportsFromTheSimulatorReachTheListsThroughTheDecoderTheWindowStarted) {
    QSettings("Veltaro", "Veltaro").clear();
    QTemporaryDir work;
    const QString data = work.path() + "/data";
    const QString expect_file = work.path() + "/expect.txt";
    QDir().mkpath(data);

    QProcess sim;
    sim.setProgram(VELTARO_BIN_DIR "/sondrel-sim");
    sim.setArguments(
        {"--link", "COM1", "--count", "4", "--seed", "3", "--fast", "--expect", expect_file});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    ASSERT_TRUE(sim.waitForStarted());
    ASSERT_TRUE(test::WaitFor([&] { return sim.canReadLine(); }));
    const QString device = QString::fromUtf8(sim.readLine()).trimmed();
    ASSERT_TRUE(device.startsWith("/dev/")) << device.toStdString();
    ASSERT_TRUE(test::WaitFor(
        [] { return std::filesystem::is_symlink(common::port_map_folder() / "COM1"); }));

    qsizetype packets = 0;
    {
        FDisplay window(VELTARO_BIN_DIR, data);
        LoadSettings(window); // default decoder name: quorvel beside the display
        window.show();
        window.StartDecoder(1);
        ASSERT_EQ(window.Decoders().RunningProcessIds().size(), 1u);
        QTest::mouseClick(window.findChild<QPushButton*>("cmdStart"), Qt::LeftButton);

        ASSERT_TRUE(test::WaitFor([&] { return sim.state() == QProcess::NotRunning; }, 60000));
        const QStringList summary = Lines(sim.readAllStandardOutput());
        ASSERT_FALSE(summary.isEmpty());
        EXPECT_EQ(summary.last(), "sent 4 packets, received 20 end-of-packet bytes, expected 20");
        const QStringList expected = Lines(test::ReadFile(expect_file));
        ASSERT_FALSE(expected.isEmpty());

        // Every record the simulator implies, in file order (the list is newest first).
        ASSERT_TRUE(test::WaitFor(
            [&] { return window.Count(ListId::lstOutput) >= static_cast<int>(expected.size()); }));
        QStringList raw = Entries(window, ListId::lstOutput);
        std::reverse(raw.begin(), raw.end());
        ASSERT_EQ(raw.size(), expected.size());
        QByteArray exchange;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            ASSERT_TRUE(raw[i].startsWith("  "));
            EXPECT_TRUE(MatchesExpected(raw[i].mid(2), expected[i])) << raw[i].toStdString() << "\n"
                                                                     << expected[i].toStdString();
            exchange += raw[i].mid(2).toUtf8() + "\r\r\n";
        }

        // Header and report lines are what the decoding core makes of those records.
        test::WriteFile(work.path() + "/exchange.txt", exchange);
        QProcess decode;
        decode.start(VELTARO_BIN_DIR "/veltaro-decode", {work.path() + "/exchange.txt"});
        ASSERT_TRUE(decode.waitForFinished());
        const QStringList printed = QString::fromUtf8(decode.readAllStandardOutput()).split('\n');
        const QStringList reports = Section(printed, "lstReport");
        EXPECT_GT(reports.filter("\t").size(), 4);
        EXPECT_EQ(Entries(window, ListId::lstMessage), Section(printed, "lstMessage"));
        EXPECT_EQ(Entries(window, ListId::lstReport), reports);
        packets = Entries(window, ListId::lstMessage).size();

        window.CloseDecoder();
        EXPECT_TRUE(window.Decoders().RunningProcessIds().empty());
    }
    // The window archived every packet it listed, once it had gone.
    EXPECT_EQ(harness::query_value((data + "/veltaro.sqlite").toStdString(),
                                   "SELECT COUNT(*) FROM packets"),
              std::to_string(packets));
}

} // namespace
} // namespace veltaro
