#include "boardprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>

#include <csignal>
#include <sys/prctl.h>

namespace {
constexpr int StartTimeoutMilliseconds = 20000;
} // namespace

BoardProcess::BoardProcess(QStringList arguments)
    : m_arguments(std::move(arguments)) {}

BoardProcess::~BoardProcess() {
    stop();
}

QString BoardProcess::executable() {
    return QStringLiteral(ORVEX_BOARD_EXECUTABLE);
}

bool BoardProcess::start() {
    if (!m_directory.isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_directory.errorString());
        return false;
    }
    m_process.setProgram(executable());
    m_process.setArguments(
        QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--record"), recordFile()} +
        m_arguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that crashes must not leave its board behind.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start();
    if (!m_process.waitForStarted(StartTimeoutMilliseconds)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(executable(), m_process.errorString());
        return false;
    }

    static const QRegularExpression listening(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)\\s*$"));
    const QDeadlineTimer deadline(StartTimeoutMilliseconds);
    while (!m_process.canReadLine()) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired() ||
            !m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process.canReadLine())
                break;
            m_error = QStringLiteral("the board did not report its port");
            stop();
            return false;
        }
    }
    const QString line = QString::fromUtf8(m_process.readLine());
    const QRegularExpressionMatch match = listening.match(line);
    if (!match.hasMatch()) {
        m_error = QStringLiteral("unexpected first line from the board: %1").arg(line);
        stop();
        return false;
    }
    m_port = quint16(match.captured(1).toUInt());
    return true;
}

void BoardProcess::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString BoardProcess::proxyUrl() const {
    return origin(QStringLiteral("127.0.0.1"));
}

QString BoardProcess::endpointUrl(const QString &host) const {
    return origin(host) + QStringLiteral("/cgi-bin/importJobs_xml.cgi");
}

QString BoardProcess::origin(const QString &host) const {
    const bool secure = m_arguments.contains(QLatin1StringView("--tls-cert"));
    return QStringLiteral("%1://%2:%3").arg(QLatin1StringView(secure ? "https" : "http"), host).arg(m_port);
}

QString BoardProcess::recordFile() const {
    return m_directory.filePath(QStringLiteral("postings.jsonl"));
}

QList<QJsonObject> BoardProcess::postings() const {
    QList<QJsonObject> postings;
    QFile file(recordFile());
    if (!file.open(QIODevice::ReadOnly))
        return postings;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty())
            postings.append(QJsonDocument::fromJson(line).object());
    }
    return postings;
}

bool BoardProcess::startOutage(int refuseMs, int unavailable, int unavailableDelayMs) const {
    return controlRequest(QStringLiteral("POST /outage?refuse=%1&unavailable=%2&delay=%3")
                              .arg(refuseMs)
                              .arg(unavailable)
                              .arg(unavailableDelayMs))
        .startsWith("HTTP/1.1 200");
}

int BoardProcess::answeringCount(const QString &name) const {
    const QByteArray reply = controlRequest(QStringLiteral("GET /connections"));
    const QJsonObject counts = QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4)).object();
    return counts.contains(name) ? counts.value(name).toInt() : -1;
}

int BoardProcess::openConnections() const {
    const QByteArray reply = controlRequest(QStringLiteral("GET /connections"));
    const QJsonObject counts = QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4)).object();
    // The asking connection is one of them.
    return counts.contains(QLatin1StringView("open")) ? counts.value(QLatin1StringView("open")).toInt() - 1
                                                      : -1;
}

QByteArray BoardProcess::controlRequest(const QString &requestLine) const {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write((requestLine + QStringLiteral(" HTTP/1.1\r\nHost: board\r\nContent-Length: 0\r\n"
                                               "Connection: close\r\n\r\n"))
                     .toLatin1());
    QByteArray reply;
    const QDeadlineTimer deadline(10000);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        reply += socket.readAll();
    }
    reply += socket.readAll();
    return reply;
}

QByteArray BoardProcess::bodyOf(const QJsonObject &posting) {
    return QByteArray::fromBase64(posting.value(QLatin1StringView("body")).toString().toLatin1());
}

QList<std::pair<QString, QString>> BoardProcess::fieldsOf(const QJsonObject &posting) {
    QList<std::pair<QString, QString>> fields;
    const QJsonArray array = posting.value(QLatin1StringView("fields")).toArray();
    for (const QJsonValue &field : array) {
        const QJsonArray pair = field.toArray();
        fields.append({pair.at(0).toString(), pair.at(1).toString()});
    }
    return fields;
}

ScopedHttpProxy::ScopedHttpProxy(const QString &proxyUrl)
    : m_environment(
          {{"http_proxy", proxyUrl.toLocal8Bit()}, {"no_proxy", QByteArray()}, {"NO_PROXY", QByteArray()}}) {}
