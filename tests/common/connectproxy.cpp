#include "connectproxy.h"

#include <QEventLoop>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

#include <chrono>

namespace {

constexpr int StartTimeoutMilliseconds = 20000;

// The head of a CONNECT request, until it is complete; then the socket to the target.
struct Tunnel {
    QByteArray head;
    QTcpSocket *target = nullptr;
};

void refuse(QTcpSocket *client, int status = 405) {
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + " Refused\r\n";
    if (status == 407)
        answer += "Proxy-Authenticate: Basic realm=\"proxy\"\r\n";
    client->write(answer + "Content-Length: 0\r\nConnection: close\r\n\r\n");
    client->disconnectFromHost();
}

// Pipes both ways once the target answers; either side closing closes the other.
void openTunnel(QTcpSocket *client, Tunnel &tunnel, const QByteArray &host, quint16 port, QByteArray early) {
    QTcpSocket *target = tunnel.target = new QTcpSocket(client);
    QObject::connect(target, &QTcpSocket::connected, client, [client, target, early] {
        client->write("HTTP/1.1 200 Connection established\r\n\r\n");
        target->write(early + client->readAll());
    });
    QObject::connect(target, &QTcpSocket::readyRead, client,
                     [client, target] { client->write(target->readAll()); });
    QObject::connect(target, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
    QObject::connect(target, &QTcpSocket::errorOccurred, client, [client, target] {
        if (target->state() == QAbstractSocket::UnconnectedState)
            client->disconnectFromHost();
    });
    target->connectToHost(QString::fromLatin1(host), port);
}

} // namespace

ConnectProxy::~ConnectProxy() {
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
    }
}

bool ConnectProxy::start() {
    std::promise<quint16> listening;
    std::future<quint16> port = listening.get_future();
    m_thread.reset(QThread::create([this, listening = std::move(listening)]() mutable { serve(listening); }));
    m_thread->start();
    if (port.wait_for(std::chrono::milliseconds(StartTimeoutMilliseconds)) != std::future_status::ready)
        return false;
    m_port = port.get();
    return m_port != 0;
}

QString ConnectProxy::url() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QByteArrayList ConnectProxy::tunnels() const {
    const QMutexLocker lock(&m_mutex);
    return m_tunnels;
}

void ConnectProxy::record(const QByteArray &target) {
    const QMutexLocker lock(&m_mutex);
    m_tunnels.append(target);
}

void ConnectProxy::serve(std::promise<quint16> &listening) {
    QTcpServer server;
    const bool listens = server.listen(QHostAddress::LocalHost, 0);
    listening.set_value(listens ? server.serverPort() : 0);
    if (!listens)
        return;

    QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, &server, [this, &server] {
        while (QTcpSocket *client = server.nextPendingConnection()) {
            auto tunnel = std::make_shared<Tunnel>();
            QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QTcpSocket::readyRead, client, [this, client, tunnel] {
                if (tunnel->target) {
                    if (tunnel->target->state() == QAbstractSocket::ConnectedState)
                        tunnel->target->write(client->readAll());
                    return; // the rest goes once the target has answered
                }
                tunnel->head += client->readAll();
                const qsizetype headEnd = tunnel->head.indexOf("\r\n\r\n");
                if (headEnd < 0)
                    return;
                const QByteArrayList requestLine = tunnel->head.left(tunnel->head.indexOf("\r\n")).split(' ');
                const QByteArray target = requestLine.value(1);
                if (m_refusalStatus != 0) {
                    record(target);
                    refuse(client, m_refusalStatus);
                    return;
                }
                const qsizetype colon = target.lastIndexOf(':');
                if (requestLine.size() != 3 || requestLine.first() != "CONNECT" || colon <= 0) {
                    refuse(client);
                    return;
                }
                record(target);
                openTunnel(client, *tunnel, target.left(colon), target.mid(colon + 1).toUShort(),
                           tunnel->head.mid(headEnd + 4));
            });
        }
    });
    QEventLoop loop;
    loop.exec(); // until the thread is told to quit
}
