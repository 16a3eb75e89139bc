#pragma once

#include "serverfixture.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QMap>
#include <QProcess>
#include <QString>

#include <cstdio>

namespace Orvex::Bench {

// A private bus daemon for the life of the object, configured to start this build tree's server.
class PrivateBus {
public:
    PrivateBus() = default;
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;
    ~PrivateBus() {
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            m_daemon.waitForFinished();
        }
    }

    // configFile names the server's build-tree service folder. Says on standard error why it failed.
    bool start(const QString &daemon, const QString &configFile, QString *address) {
        if (startDaemon(daemon, configFile, address))
            return true;
        std::fprintf(stderr, "cannot start a private bus with %s\n", qPrintable(configFile));
        return false;
    }

    // The daemon's process: the servers it starts are its children (or its helpers'), so once they have
    // ended their processor time is in its children's.
    qint64 processId() const { return m_daemon.processId(); }

private:
    bool startDaemon(const QString &daemon, const QString &configFile, QString *address) {
        constexpr int DaemonStartMs = 10000;
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.start(daemon, {QStringLiteral("--config-file=") + configFile, QStringLiteral("--nofork"),
                                QStringLiteral("--print-address")});
        if (!m_daemon.waitForStarted(DaemonStartMs))
            return false;
        while (!m_daemon.canReadLine()) {
            if (!m_daemon.waitForReadyRead(DaemonStartMs))
                return false;
        }
        *address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        return !address->isEmpty();
    }

    QProcess m_daemon;
};

// The bus, not this process, starts the server: hand it the board, and a copy of it in a scratch program
// folder to start, where its files go; extra holds further variables for it.
inline bool setActivationEnvironment(const QDBusConnection &bus, const QString &proxyUrl,
                                     const QString &programFolder, const QMap<QString, QString> &extra = {}) {
    const QString server = placeServerIn(programFolder);
    if (server.isEmpty())
        return false;
    using Environment = QMap<QString, QString>;
    qDBusRegisterMetaType<Environment>();
    Environment environment{{QStringLiteral("http_proxy"), proxyUrl},
                            {QStringLiteral("no_proxy"), QString()},
                            {QStringLiteral("ORVEX_TEST_SERVER"), server},
                            // The server's tracing would be measured along with its work.
                            {QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("orvex.*.debug=false")}};
    environment.insert(extra);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    call << QVariant::fromValue(environment);
    const QDBusReply<void> reply = bus.call(call);
    if (!reply.isValid())
        std::fprintf(stderr, "activation environment: %s\n", qPrintable(reply.error().message()));
    return reply.isValid();
}

} // namespace Orvex::Bench
