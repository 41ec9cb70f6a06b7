// A TCP server that sends the same bytes to every client it holds, from the
// moment each connects. Nobody waits for a client: what a client has not
// taken yet stays in the display's memory, and a client more than kMaxBehind
// bytes behind is disconnected and reported once.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <functional>
#include <string>
#include <vector>

class QTcpSocket;

namespace veltaro::feeds {

class LineServer : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxBehind = 1 << 20;

    using Report = std::function<void(const std::string& message)>;

    // name: how reports call the feed ("Records feed").
    LineServer(std::string name, Report report, QObject* parent = nullptr);
    ~LineServer() override;

    // False, with the reason reported, when the address cannot be bound.
    bool Listen(const QHostAddress& address, quint16 port);
    quint16 Port() const { return server_.serverPort(); }
    int Clients() const { return static_cast<int>(clients_.size()); }

    void Send(const QByteArray& bytes);

private:
    void Accept();
    void Forget(QTcpSocket* client);

    const std::string name_;
    const Report report_;
    QTcpServer server_;
    std::vector<QTcpSocket*> clients_;
};

} // namespace veltaro::feeds
