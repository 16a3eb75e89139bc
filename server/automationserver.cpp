#include "automationserver.h"

#include "activitylogfile.h"
#include "automationerror.h"
#include "boardsettings.h"
#include "buswire.h"
#include "classfactory.h"
#include "componentsettings.h"
#include "errortable.h"
#include "identity.h"
#include "listingfieldsreader.h"
#include "postjob.h"
#include "postjobobject.h"
#include "serverlogging.h"
#include "stampfilename.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QTimer>

#include <dbus/dbus.h>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace Orvex {

namespace {

constexpr int FlushTimeoutMs = 2000;
// Late calls stop coming within a few round trips; a client that keeps calling cannot hold the end off.
constexpr int MaxLateCallPasses = 8;

// libdbus stops reading once 63 MiB of received messages are alive and starts again from the thread that
// frees the last of them: here the main thread, where Qt cannot re-enable the bus socket's notifier, so the
// server would never read again. The bus bounds each message already; reading is never paused.
void neverPauseReading(const QDBusConnection &connection) {
    if (auto *raw = static_cast<DBusConnection *>(connection.internalPointer()))
        dbus_connection_set_max_received_size(raw, std::numeric_limits<long>::max());
}

QString fromLatin1(const char *text) {
    return QString::fromLatin1(text);
}

} // namespace

AutomationServer::AutomationServer(Host host, QDBusConnection connection, QObject *parent)
    : QObject(parent)
    , m_window(std::move(host.window))
    , m_inFlight(m_window ? static_cast<StatusView &>(*m_window) : m_windowlessText)
    // Objects post to [General], the default board.
    , m_serialView(m_inFlight, BoardSettings::DefaultBoard.toString())
    , m_host{std::move(host.folders),
             host.clock,
             m_serialView,
             std::move(host.requestFactory),
             std::make_shared<std::atomic<bool>>(false),
             nullptr,
             &m_journal}
    , m_connection(std::move(connection))
    , m_idleExit(host.idleExit)
    , m_linger(host.linger)
    , m_engine(m_host, m_inFlight) {
    if (m_window)
        m_window->setUnloadHandler([this] { endProcess(); });
    connect(&m_calls, &CallQueue::finished, this, [this] {
        if (m_ending)
            finishEndingWhenDone();
    });
    connect(&m_engine, &PostingEngine::idle, this, [this] {
        if (m_ending)
            finishEndingWhenDone();
    });
}

AutomationServer::~AutomationServer() {
    for (const auto &object : m_objects)
        m_connection.unregisterObject(object->objectName());
    if (m_factory)
        m_connection.unregisterObject(fromLatin1(Identity::ClassFactoryPath),
                                      QDBusConnection::UnregisterTree);
}

bool AutomationServer::start(QString *error) {
    ListingFieldsReader::registerType();
    watchBusConnection();
    neverPauseReading(m_connection);

    m_factory = std::make_unique<ClassFactory>(*this);
    const QString factoryPath = fromLatin1(Identity::ClassFactoryPath);
    if (!m_connection.registerObject(factoryPath, m_factory.get(), QDBusConnection::ExportAdaptors)) {
        *error = QStringLiteral("cannot register the class object at %1: %2")
                     .arg(factoryPath, m_connection.lastError().message());
        m_factory.reset();
        return false;
    }

    const QString serviceName = fromLatin1(Identity::ServiceName);
    if (!m_connection.registerService(serviceName)) {
        const bool taken = m_connection.interface()->isServiceRegistered(serviceName).value();
        *error = taken
                     ? QStringLiteral("the bus name %1 is already owned by another process").arg(serviceName)
                     : QStringLiteral("cannot claim the bus name %1: %2")
                           .arg(serviceName, m_connection.lastError().message());
        m_connection.unregisterObject(factoryPath);
        m_factory.reset();
        return false;
    }
    qCDebug(lcServer) << "serving" << serviceName << "on" << m_connection.baseService();
    QTimer::singleShot(m_idleExit, this, &AutomationServer::endIfIdle);
    return true;
}

void AutomationServer::endIfIdle() {
    // A creation that failed made no object either; an object that was made keeps the server.
    if (m_lastSerial > 0)
        return;
    qCDebug(lcServer) << "no object made within" << m_idleExit.count() << "ms: ending";
    endProcess();
}

QDBusObjectPath AutomationServer::createObject() {
    QString logFile;
    FuncLib::StampFileName(m_host.folders.filesFolder() + QString::fromUtf16(ActivityLogName), logFile,
                           QStringLiteral("DateOnly"), m_host.clock);
    showStatusWindow();
    const QString iniFile = m_host.folders.iniFile();
    ComponentSettings settings = ComponentSettings::read(iniFile);
    const bool debugMode = settings.debugMode;
    // Journal= names a shared journal on a PostgreSQL server: never the local file instead, or a user would
    // believe in an exactly-once across machines that the local file cannot give.
    m_journal.openIn(m_host.folders.filesFolder(), settings.journalDays, settings.journal);
    BoardSettings boards = BoardSettings::read(iniFile, settings);

    const QString path = fromLatin1(Identity::ObjectPathPrefix) + QString::number(m_lastSerial + 1);
    auto job = std::make_unique<PostJob>(m_host, logFile, std::move(settings));
    job->setObjectPath(path);
    auto object = std::make_unique<PostJobObject>(*this, std::move(job), std::move(boards));
    if (!m_connection.registerObject(path, object.get(), QDBusConnection::ExportAdaptors)) {
        qCWarning(lcServer) << "cannot register" << path << m_connection.lastError().message();
        throw AutomationError::runtime(ErrorNumber::Unspecified);
    }
    ++m_lastSerial;
    object->setObjectName(path);
    m_objects.push_back(std::move(object));
    qCDebug(lcServer) << "created" << path << "debug mode" << debugMode;
    return QDBusObjectPath(path);
}

void AutomationServer::releaseObject() {
    if (m_window)
        m_window->unload();
    else
        endProcess();
}

void AutomationServer::closeBySystem() {
    // A window never shown is unloaded all the same: closing it ends the process.
    if (m_window)
        m_window->closeWindow();
    else
        endProcess();
}

void AutomationServer::showStatusWindow() {
    if (m_window)
        m_window->showWindow();
}

void AutomationServer::watchBusConnection() {
    // Qt reports a lost connection only as this local signal; without it the server would outlive its bus.
    m_connection.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                         QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this,
                         SLOT(busDisconnected()));
}

void AutomationServer::busDisconnected() {
    qCDebug(lcServer) << "lost the bus connection";
    m_busLost = true;
    endProcess();
}

void AutomationServer::endProcess() {
    if (m_ending)
        return;
    m_ending = true;
    m_calls.close();
    // No posting starts another try from now on; one waiting for it returns its last outcome at once.
    m_engine.close();
    if (m_engine.unfinished() > 0) {
        // The board may already hold the listing: its caller must learn the result, and the log too.
        qCDebug(lcServer) << "ending once the exchanges in flight have returned";
        return;
    }
    finishEnding();
}

void AutomationServer::finishEndingWhenDone() {
    if (m_calls.isRunning() || m_engine.unfinished() > 0)
        return;
    finishEnding();
}

void AutomationServer::finishEnding() {
    if (m_ended)
        return;
    m_ended = true;
    answerLateCalls();
    QCoreApplication::exit(EXIT_SUCCESS);
}

void AutomationServer::answerLateCalls() {
    if (m_busLost || !m_connection.isConnected())
        return;
    // New clients start a fresh server from here on instead of reaching this one.
    m_connection.unregisterService(QString::fromLatin1(Identity::ServiceName));
    // Calls a client sent before it learnt that the name is gone, answered as they come.
    for (const QDeadlineTimer lingering(m_linger); !lingering.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                        int(std::max<qint64>(1, lingering.remainingTime())));
    // Calls already on their way keep arriving for a moment: take them in and answer them Ended until a
    // round trip to the bus brings none. Only a call that lands in that last round trip goes unanswered,
    // and the bus tells its caller NoReply.
    for (int pass = 0; pass < MaxLateCallPasses; ++pass) {
        const int answered = m_calls.endedCount();
        flushReplies();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (m_calls.endedCount() == answered)
            break;
    }
    flushReplies();
}

void AutomationServer::flushReplies() {
    // The bus handles one connection's messages in order: once it answers a ping, every reply sent before
    // has reached it, so no caller waits for a reply that died with the process.
    if (m_busLost || !m_connection.isConnected())
        return;
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    m_connection.call(ping, QDBus::Block, FlushTimeoutMs);
}

} // namespace Orvex
