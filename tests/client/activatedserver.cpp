#include "activatedserver.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>

using Environment = QMap<QString, QString>;

ActivatedServer::ActivatedServer() {
    qDBusRegisterMetaType<Environment>();
}

bool ActivatedServer::prepare(const QString &proxyUrl, QString *error) {
    if (!m_folder.isValid()) {
        *error = m_folder.errorString();
        return false;
    }
    // The bus, not the test, starts the server, so it inherits the bus's activation environment.
    const Environment environment{
        {QStringLiteral("ORVEX_PROGRAM_FOLDER"), m_folder.path()},
        {QStringLiteral("http_proxy"), proxyUrl.isEmpty() ? QStringLiteral("http://127.0.0.1:9") : proxyUrl},
        {QStringLiteral("no_proxy"), QString()},
    };
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    call << QVariant::fromValue(environment);
    const QDBusReply<void> reply = QDBusConnection::sessionBus().call(call);
    if (!reply.isValid()) {
        *error = reply.error().message();
        return false;
    }
    return true;
}

bool ActivatedServer::writeIni(const QByteArray &content) const {
    QFile file(QDir(m_folder.path()).filePath(QStringLiteral("OrvexKelPostJob.ini")));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray ActivatedServer::logText() const {
    QByteArray text;
    const QDir folder(m_folder.path());
    for (const QString &name : folder.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += file.readAll();
    }
    return text;
}

bool ActivatedServer::isRunning() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QLatin1StringView(ServiceName));
}

bool ActivatedServer::waitUntilGone(int timeoutMs) {
    return QTest::qWaitFor([] { return !isRunning(); }, timeoutMs);
}

bool ActivatedServer::endLeftover() {
    if (!isRunning())
        return true;
    const QDBusReply<uint> pid =
        QDBusConnection::sessionBus().interface()->servicePid(QLatin1StringView(ServiceName));
    if (pid.isValid())
        ::kill(static_cast<pid_t>(pid.value()), SIGTERM);
    waitUntilGone();
    return false;
}
