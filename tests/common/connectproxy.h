#pragma once

#include <QByteArrayList>
#include <QMutex>
#include <QString>
#include <QThread>

#include <future>
#include <memory>

// A minimal proxy for https URLs: answers CONNECT host:port with 200, then pipes bytes both ways. It runs
// on a thread of its own, because the request object blocks the test's thread while it posts.
class ConnectProxy {
public:
    // With a refusal status (403, 407), every request, CONNECT or not, is answered with it instead.
    explicit ConnectProxy(int refusalStatus = 0)
        : m_refusalStatus(refusalStatus) {}
    ~ConnectProxy();

    ConnectProxy(const ConnectProxy &) = delete;
    ConnectProxy &operator=(const ConnectProxy &) = delete;

    // Starts listening on a free loopback port; false when it cannot.
    bool start();
    // "http://127.0.0.1:PORT", for https_proxy.
    QString url() const;
    // The host:port of every CONNECT so far, in arrival order.
    QByteArrayList tunnels() const;

private:
    void serve(std::promise<quint16> &listening);
    void record(const QByteArray &target);

    int m_refusalStatus;
    std::unique_ptr<QThread> m_thread;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QByteArrayList m_tunnels;
};
