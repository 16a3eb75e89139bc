// A 20-field listing posted through the bus with the client library against a raw libcurl POST of the
// same bytes to the same board, in one run. The bus is a private one whose server is this build tree's,
// started on demand. Prints medians and the ratio.

#include "benchposting.h"
#include "boardprocess.h"
#include "postingdocument.h"
#include "remotepostjob.h"
#include "wireencoding.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Runs = 300;
constexpr int FieldCount = 20;
constexpr int DaemonStartMs = 10000;

// A private bus daemon for the life of the object, configured to start this build tree's server.
class PrivateBus {
public:
    ~PrivateBus() {
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            m_daemon.waitForFinished();
        }
    }

    bool start(QString *address) {
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.start(QStringLiteral(ORVEX_DBUS_DAEMON),
                       {QStringLiteral("--config-file=" ORVEX_BENCH_BUS_CONFIG), QStringLiteral("--nofork"),
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

private:
    QProcess m_daemon;
};

// The bus, not this process, starts the server: hand it the board and a scratch program folder.
bool setActivationEnvironment(const QDBusConnection &bus, const QString &proxyUrl,
                              const QString &programFolder) {
    using Environment = QMap<QString, QString>;
    qDBusRegisterMetaType<Environment>();
    const Environment environment{
        {QStringLiteral("http_proxy"), proxyUrl},
        {QStringLiteral("no_proxy"), QString()},
        {QStringLiteral("ORVEX_PROGRAM_FOLDER"), programFolder},
        // The server's tracing would be measured along with its work.
        {QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("orvex.*.debug=false")}};
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    call << QVariant::fromValue(environment);
    const QDBusReply<void> reply = bus.call(call);
    if (!reply.isValid())
        std::fprintf(stderr, "activation environment: %s\n", qPrintable(reply.error().message()));
    return reply.isValid();
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvex.*.debug=false"));
    Orvex::Bench::keepFreedMemory();

    BoardProcess board;
    if (!board.start()) {
        std::fprintf(stderr, "board: %s\n", qPrintable(board.errorString()));
        return 1;
    }
    PrivateBus privateBus;
    QString address;
    if (!privateBus.start(&address)) {
        std::fprintf(stderr, "cannot start a private bus with %s\n", ORVEX_BENCH_BUS_CONFIG);
        return 1;
    }
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("bench"));
        QTemporaryDir programFolder;
        if (!bus.isConnected() || !setActivationEnvironment(bus, board.proxyUrl(), programFolder.path()))
            return 1;
        curl_global_init(CURL_GLOBAL_DEFAULT);

        const Orvex::Bench::Fields fields = Orvex::Bench::benchListing(FieldCount);
        QString elements;
        for (const auto &[name, value] : fields)
            elements += Orvex::fieldElement(name, value);
        const QByteArray wire = Orvex::toWireBytes(Orvex::postingDocument(QStringLiteral("Add"), elements));
        const QByteArray endpoint = board.endpointUrl().toUtf8();

        try {
            Orvex::RemotePostJob job(QString::fromLatin1(Orvex::Identity::ProgId), bus);
            const auto [busSeconds, rawPostSeconds, allPosted] =
                Orvex::Bench::timeListingAgainstRawPost(job, fields, endpoint, wire, Runs);
            Orvex::Bench::printMedian("client library over the bus, 20 fields + Action", busSeconds);
            Orvex::Bench::printMedian("raw libcurl POST, same bytes", rawPostSeconds);
            Orvex::Bench::printRatio("bus listing / raw POST", busSeconds, rawPostSeconds, 1.5);
        } catch (const Orvex::AutomationError &error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 1;
        }
        curl_global_cleanup();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
    return 0;
}
