#include "display/feeds/line_server.h"

#include <QTcpSocket>

#include <algorithm>

namespace veltaro::feeds {

namespace {

std::string Peer(const QTcpSocket& client) {
    return client.peerAddress().toString().toStdString() + ":" + std::to_string(client.peerPort());
}

} // namespace

LineServer::LineServer(std::string name, Report report, QObject* parent)
    : QObject(parent), name_(std::move(name)), report_(std::move(report)) {
    connect(&server_, &QTcpServer::newConnection, this, &LineServer::Accept);
}

// What the clients were sent goes out as far as the network takes it now;
// no event loop runs any more to send the rest.
LineServer::~LineServer() {
    for (QTcpSocket* client : clients_) {
        client->disconnect(this);
        client->flush();
        client->disconnectFromHost();
    }
}

bool LineServer::Listen(const QHostAddress& address, quint16 port) {
    if (server_.listen(address, port)) {
        return true;
    }
    report_(server_.errorString().toStdString() + "  " + name_ + ": can't listen on " +
            address.toString().toStdString() + ":" + std::to_string(port) + "; it is off");
    return false;
}

void LineServer::Accept() {
    while (QTcpSocket* client = server_.nextPendingConnection()) {
        client->setParent(this);
        clients_.push_back(client);
        // What a client sends is not read by anyone: it is thrown away.
        connect(client, &QTcpSocket::readyRead, client, [client] { client->readAll(); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] { Forget(client); });
    }
}

void LineServer::Forget(QTcpSocket* client) {
    std::erase(clients_, client);
    client->deleteLater();
}

void LineServer::Send(const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        return;
    }
    std::vector<QTcpSocket*> behind;
    // A copy: a client whose connection breaks may leave the list meanwhile.
    const std::vector<QTcpSocket*> clients = clients_;
    for (QTcpSocket* client : clients) {
        client->write(bytes);
        if (client->bytesToWrite() > kMaxBehind) {
            behind.push_back(client);
        }
    }
    for (QTcpSocket* client : behind) {
        report_("  " + name_ + ": client " + Peer(*client) +
                " fell more than 1 MiB behind and was disconnected");
        client->disconnect(this);
        client->abort();
        Forget(client);
    }
}

} // namespace veltaro::feeds
