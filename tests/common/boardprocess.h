#pragma once

#include "scopedenvironment.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <utility>

// Runs the reference job board (orvex-board) on a free loopback port for the life of the object, and
// reads back what it received.
class BoardProcess {
public:
    // Extra board options, such as {"--fault", "empty"} or {"--first-id", "100"}.
    explicit BoardProcess(QStringList arguments = {});
    ~BoardProcess();

    BoardProcess(const BoardProcess &) = delete;
    BoardProcess &operator=(const BoardProcess &) = delete;

    // Starts the board and waits until it listens; on failure errorString() says why.
    bool start();
    void stop();
    QString errorString() const { return m_error; }

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT", for http_proxy: the component's constant URL then reaches this board.
    // "https://" for a board started with --tls-cert.
    QString proxyUrl() const;
    // The import endpoint of this board, addressed directly, at `host` (which must lead to 127.0.0.1).
    QString endpointUrl(const QString &host = QStringLiteral("127.0.0.1")) const;
    QString recordFile() const;

    // Every posting received so far, in arrival order, as the board recorded it: "action", "fields"
    // ([[name, value], ...]), "jobId", "fault", "error", "target", "contentType", "userAgent", "expect",
    // "body" (base64 of the raw bytes).
    QList<QJsonObject> postings() const;
    // The connections open at the board, not counting the one that asks; -1 when it cannot tell. Plain
    // HTTP boards only.
    int openConnections() const;
    // Takes the board down: it refuses connections for refuseMs, then answers the next `unavailable`
    // postings 503 with Retry-After: 1, then takes postings again. False when the board did not agree.
    // Each 503 goes out unavailableDelayMs after its request came.
    bool startOutage(int refuseMs, int unavailable, int unavailableDelayMs = 0) const;
    // What the board counts of the requests it answers: "mostAnswering" (the most it answered at once),
    // "mostAnsweringUnavailable" (of an outage's 503s), "unavailableAnswered"; -1 when it cannot tell.
    int answeringCount(const QString &name) const;
    static QByteArray bodyOf(const QJsonObject &posting);
    static QList<std::pair<QString, QString>> fieldsOf(const QJsonObject &posting);

    static QString executable();

private:
    // One request of the board's own (a request line without its version), answered whole; empty when
    // the board cannot be reached.
    QByteArray controlRequest(const QString &requestLine) const;
    QString origin(const QString &host) const;

    QStringList m_arguments;
    QTemporaryDir m_directory;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

// Points http_proxy at a board while it lives (and clears no_proxy), restoring both afterwards.
class ScopedHttpProxy {
public:
    explicit ScopedHttpProxy(const QString &proxyUrl);

private:
    ScopedEnvironment m_environment;
};
