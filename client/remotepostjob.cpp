#include "remotepostjob.h"

#include "buswire.h"
#include "clientlogging.h"
#include "identity.h"
#include "postjobproxy.h"
#include "remoteerror.h"

#include <QDBusPendingReply>

#include <limits>

namespace Orvex {

namespace {

// Action blocks for the whole HTTP exchange and calls queue behind other clients' calls, so no client
// side limit: a server that dies makes the bus answer at once with NoReply.
constexpr int NoTimeout = std::numeric_limits<int>::max();
// Release is answered at once or not at all (the server may end before replying); bound the wait so a
// destructor never hangs.
constexpr int ReleaseTimeoutMs = 30'000;
// The bus caps the calls a connection may have awaiting replies (128 by the daemon's own default), so a
// long listing keeps a window in flight, collecting the oldest reply before sending more.
constexpr qsizetype MaxFieldsInFlight = 64;

} // namespace

RemotePostJob::RemotePostJob(const QString &progId, const QDBusConnection &bus)
    : m_bus(bus) {
    create(progId);
}

RemotePostJob::RemotePostJob(const QUuid &classId, const QDBusConnection &bus)
    : m_bus(bus) {
    const QString progId = progIdForClassId(classId);
    if (progId.isEmpty()) {
        throw AutomationError(
            ErrorNumber::ClassNotRegistered, QString::fromUtf16(ComponentSource),
            QStringLiteral("Class not registered: %1").arg(classId.toString(QUuid::WithBraces).toUpper()));
    }
    create(progId);
}

RemotePostJob::~RemotePostJob() {
    try {
        release();
    } catch (const AutomationError &error) {
        qCWarning(lcClient) << "Releasing" << objectPath() << "failed:" << describeError(error);
    } catch (const std::exception &error) {
        qCWarning(lcClient) << "Releasing" << objectPath() << "failed:" << error.what();
    }
}

QString RemotePostJob::progIdForClassId(const QUuid &classId) {
    if (classId == QUuid::fromString(QLatin1StringView(Identity::ClassId)))
        return QString::fromLatin1(Identity::ProgId);
    return QString();
}

void RemotePostJob::create(const QString &progId) {
    if (!m_bus.isConnected())
        throw fromBusError(m_bus.lastError(), CallStage::Creation);

    OrvexKelPostJobClassFactoryInterface factory(progId, QLatin1StringView(Identity::ClassFactoryPath),
                                                 m_bus);
    factory.setTimeout(NoTimeout);
    QDBusPendingReply<QDBusObjectPath> reply = factory.CreateInstance();
    reply.waitForFinished();
    if (reply.isError())
        throw fromBusError(reply.error(), CallStage::Creation);

    // Bind to the process that made the object: its unique name never passes to another process, so
    // after the server ends a call fails instead of starting a new server that knows no such object.
    const QString serverName = reply.reply().service();
    const QString path = reply.value().path();
    m_object = std::make_unique<OrvexKelPostJob_PostJobInterface>(serverName, path, m_bus);
    m_object->setTimeout(NoTimeout);
    m_unknown = std::make_unique<OrvexKelPostJobIUnknownInterface>(serverName, path, m_bus);
    m_unknown->setTimeout(ReleaseTimeoutMs);
    qCDebug(lcClient) << "Created" << path << "in" << serverName;
}

QString RemotePostJob::Field(const QString &FieldName, const QString &FieldValue) {
    ensureUsable();
    if (m_pendingFields.size() >= MaxFieldsInFlight) {
        QDBusPendingCall oldest = m_pendingFields.takeFirst();
        oldest.waitForFinished();
        if (oldest.isError()) {
            m_pendingFields.clear();
            fail(oldest.error());
        }
    }
    m_pendingFields.append(m_object->Field(FieldName, FieldValue));
    return QString();
}

void RemotePostJob::flush() {
    ensureUsable();
    // Take them all first: after a failure the remaining replies belong to no one.
    const QList<QDBusPendingCall> pending = std::exchange(m_pendingFields, {});
    for (QDBusPendingCall call : pending)
        call.waitForFinished();
    for (const QDBusPendingCall &call : pending) {
        if (call.isError())
            fail(call.error());
    }
}

QString RemotePostJob::Action(const QString &ActionType) {
    flush();
    QDBusPendingReply<QString> reply = m_object->Action(ActionType);
    reply.waitForFinished();
    if (reply.isError())
        fail(reply.error());
    return reply.value();
}

void RemotePostJob::WriteLog(const QString &SubName, const QString &Message, const Orvex::Variant &AnyOther) {
    ensureUsable();
    QDBusPendingReply<> reply = m_object->WriteLog(SubName, Message, BusWire::toBus(AnyOther));
    reply.waitForFinished();
    if (reply.isError())
        fail(reply.error());
}

void RemotePostJob::release() {
    if (m_released || m_serverGone || !m_unknown)
        return;
    m_released = true;
    m_pendingFields.clear();
    QDBusPendingReply<> reply = m_unknown->Release();
    reply.waitForFinished();
    // The server ends on Release, often before it can answer: its leaving is the release done.
    if (reply.isError() && !isServerGone(reply.error()))
        throw fromBusError(reply.error(), CallStage::ObjectCall);
}

QString RemotePostJob::serverName() const {
    return m_object ? m_object->service() : QString();
}

QString RemotePostJob::objectPath() const {
    return m_object ? m_object->path() : QString();
}

void RemotePostJob::ensureUsable() const {
    if (m_released || m_serverGone) {
        throw AutomationError(ErrorNumber::ObjectDisconnected, QString::fromUtf16(ComponentSource),
                              m_released ? QStringLiteral("The object has been released.")
                                         : QStringLiteral("The object's server has ended."));
    }
}

void RemotePostJob::fail(const QDBusError &error) {
    if (isServerGone(error))
        m_serverGone = true;
    throw fromBusError(error, CallStage::ObjectCall);
}

} // namespace Orvex
