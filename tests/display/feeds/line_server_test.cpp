// The TCP feeds' server with real clients: everyone connected receives every
// byte in order, and a client that stops reading is cut off once it is more
// than 1 MiB behind, reported once, while the others go on.
#include "display/feeds/line_server.h"
#include "qt_app.h"
#include "tests/support/mqtt.h"

#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

namespace veltaro::feeds {
namespace {

using feeds_test::RunUntil;

struct Reader {
    QTcpSocket socket;
    QByteArray received;
};

TEST(LineServer, AStalledClientIsCutOffOnceAndTheOthersReceiveEverything) {
    feeds_test::App();
    std::vector<std::string> reports;
    LineServer server("Records feed", [&](const std::string& m) { reports.push_back(m); });
    ASSERT_TRUE(server.Listen(QHostAddress::LocalHost, 0));

    constexpr int kReaders = 25;
    std::vector<std::unique_ptr<Reader>> readers;
    for (int i = 0; i < kReaders; ++i) {
        auto reader = std::make_unique<Reader>();
        Reader* r = reader.get();
        QObject::connect(&r->socket, &QTcpSocket::readyRead,
                         [r] { r->received += r->socket.readAll(); });
        r->socket.connectToHost(QHostAddress::LocalHost, server.Port());
        readers.push_back(std::move(reader));
    }
    // A client that never reads, with a small receive buffer.
    const int stalled = harness::connect_loopback(server.Port(), 4096);
    ASSERT_GE(stalled, 0);
    ASSERT_TRUE(RunUntil([&] { return server.Clients() == kReaders + 1; }));

    // 8 MiB in lines of about 1 KiB, a batch at a time as slices are kept.
    QByteArray sent;
    for (int batch = 0; batch < 128; ++batch) {
        QByteArray bytes;
        for (int line = 0; line < 64; ++line) {
            bytes += QByteArray::number(batch * 64 + line) + "," + QByteArray(1016, 'x') + "\r\n";
        }
        server.Send(bytes);
        sent += bytes;
        // The display lets events run between slices; so does the test.
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }
    ASSERT_TRUE(RunUntil([&] {
        return std::all_of(readers.begin(), readers.end(),
                           [&](const auto& r) { return r->received.size() >= sent.size(); });
    }));
    for (const auto& reader : readers) {
        EXPECT_TRUE(reader->received == sent);
    }
    EXPECT_EQ(server.Clients(), kReaders);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].starts_with("  Records feed: client 127.0.0.1:")) << reports[0];
    EXPECT_NE(reports[0].find("fell more than 1 MiB behind and was disconnected"),
              std::string::npos);
    ::close(stalled);
}

TEST(LineServer, APortInUseIsReportedAndRefused) {
    feeds_test::App();
    std::vector<std::string> reports;
    const auto report = [&](const std::string& m) { reports.push_back(m); };
    LineServer first("Records feed", report);
    ASSERT_TRUE(first.Listen(QHostAddress::LocalHost, 0));
    LineServer second("Readings feed", report);
    EXPECT_FALSE(second.Listen(QHostAddress::LocalHost, first.Port()));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("  Readings feed: can't listen on 127.0.0.1:" +
                              std::to_string(first.Port()) + "; it is off"),
              std::string::npos)
        << reports[0];
}

} // namespace
} // namespace veltaro::feeds
