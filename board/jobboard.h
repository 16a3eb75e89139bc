#pragma once

#include "boardconnectionpolicy.h"
#include "boardfault.h"
#include "boardrequest.h"

#include <QFile>
#include <QJsonArray>
#include <QObject>
#include <QSslConfiguration>
#include <QTcpServer>

#include <memory>
#include <optional>

namespace Orvex {

// The reference job board: takes listings at the import endpoint, hands out job ids, keeps what it
// received, and misbehaves on request.
class JobBoard : public QObject {
    Q_OBJECT
public:
    struct Options {
        quint16 port = 0;
        qint64 firstId = 1;
        BoardFault fault; // applies to every posting that does not name its own
        QString recordFile;
        std::optional<QSslConfiguration> tls; // without one, plain HTTP
        ConnectionPolicy connections;
    };

    explicit JobBoard(Options options, QObject *parent = nullptr);
    ~JobBoard() override;

    bool listen(QString *errorMessage);
    quint16 port() const { return m_server->serverPort(); }

    BoardReply answer(const BoardRequest &request);
    const ConnectionPolicy &connectionPolicy() const { return m_options.connections; }
    // Numbers a new connection, 1 for the first; connectionClosed() when it has gone.
    qint64 connectionOpened();
    void connectionClosed() { --m_openConnections; }
    // A request is being answered (taken, its reply not yet sent), then no longer.
    void answeringStarted(bool unavailable);
    void answeringEnded(bool unavailable);

private:
    void acceptConnections();
    BoardReply startOutage(const BoardRequest &request);
    BoardReply answerPosting(const BoardRequest &request);
    void keep(const QJsonObject &posting);

    Options m_options;
    std::unique_ptr<QTcpServer> m_server;
    qint64 m_nextId;
    qint64 m_connectionsOpened = 0;
    qint64 m_openConnections = 0;
    QJsonArray m_postings;
    // Postings still to be answered 503 once an outage's refused connections are over, each after this.
    int m_unavailable = 0;
    int m_unavailableDelayMs = 0;
    // Requests being answered now, and the most ever at once: all of them, and the outage's 503s.
    int m_answering = 0;
    int m_mostAnswering = 0;
    int m_answeringUnavailable = 0;
    int m_mostAnsweringUnavailable = 0;
    int m_unavailableAnswered = 0;
    std::unique_ptr<QFile> m_record;
};

} // namespace Orvex
