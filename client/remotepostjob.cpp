#include "remotepostjob.h"

#include "buswire.h"
#include "clientlogging.h"
#include "exchangelimits.h"
#include "identity.h"
#include "journallookup.h"
#include "listingrules.h"
#include "postjobproxy.h"
#include "remoteerror.h"
#include "xmltext.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <limits>
#include <optional>

namespace Orvex {

namespace {

// A server that dies makes the bus answer at once with NoReply; one that is stuck, never.
constexpr int CallTimeoutMs = int(ExchangeLimits::PostingCallTimeout.count());
// Release is answered at once or not at all (the server may end before replying); bound the wait so a
// destructor never hangs.
constexpr int ReleaseTimeoutMs = 30'000;
constexpr int MaxSends = ExchangeLimits::MostSends;
// An ending server first finishes the exchange in flight, which ends within its time limit.
constexpr int ServerLeaveTimeoutMs = CallTimeoutMs;
// A server whose connection is gone exits at once; this bounds the wait until its journal is final.
constexpr int ProcessEndTimeoutMs = 10'000;

// D-Bus strings end at U+0000, and QtDBus would cut such a text short without a word. The text's name is
// made only for a refusal: a listing checks two texts per field.
template<typename Describe> void refuseUncarriable(const QString &text, Describe &&what) {
    if (text.contains(QChar(u'\0'))) {
        throw AutomationError(ErrorNumber::InvalidProcedureCall, QString::fromUtf16(ComponentSource),
                              QStringLiteral("%1 holds U+0000, which the bus cannot carry").arg(what()));
    }
}

// The server writes names and action words as given, so a document that would not be well-formed XML is
// refused here, before anything is sent.
template<typename Describe> void refuseProblem(const QString &problem, Describe &&what) {
    if (!problem.isEmpty()) {
        throw AutomationError(ErrorNumber::InvalidProcedureCall, QString::fromUtf16(ComponentSource),
                              QStringLiteral("%1 %2").arg(what(), problem));
    }
}

// A refused text named in a message, its controls shown rather than sent to the terminal.
QString visible(const QString &text) {
    QString shown;
    for (const QChar c : text) {
        if (c == u'\0')
            shown += QLatin1StringView("\\0");
        else if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

// Waits until the process with the unique bus name has left the bus; true when it has.
bool waitUntilGone(const QDBusConnection &bus, const QString &uniqueName) {
    // Errors from the bus itself name no server process.
    if (!uniqueName.startsWith(u':'))
        return true;
    QDBusServiceWatcher watcher(uniqueName, bus, QDBusServiceWatcher::WatchForUnregistration);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &loop, &QEventLoop::quit);
    QTimer::singleShot(ServerLeaveTimeoutMs, &loop, &QEventLoop::quit);
    // Asked once the watcher is in place, so a server leaving in between is not missed.
    if (!bus.interface()->isServiceRegistered(uniqueName).value())
        return true;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return !bus.interface()->isServiceRegistered(uniqueName).value();
}

// A server that is ending still owns the ProgID and refuses creation (or dies before answering); the bus
// starts the next server once it has left.
bool refusedByEndingServer(const QDBusError &error) {
    return (callOutcome(error) == CallOutcome::NotDelivered && error.type() != QDBusError::ServiceUnknown) ||
           error.type() == QDBusError::NoReply;
}

} // namespace

RemotePostJob::RemotePostJob(const QString &progId, const QDBusConnection &bus)
    : m_progId(progId)
    , m_bus(bus) {
    create();
}

RemotePostJob::RemotePostJob(const QUuid &classId, const QDBusConnection &bus)
    : m_progId(progIdForClassId(classId))
    , m_bus(bus) {
    if (m_progId.isEmpty()) {
        throw AutomationError(
            ErrorNumber::ClassNotRegistered, QString::fromUtf16(ComponentSource),
            QStringLiteral("Class not registered: %1").arg(classId.toString(QUuid::WithBraces).toUpper()));
    }
    create();
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

void RemotePostJob::create() {
    if (!m_bus.isConnected())
        throw fromBusError(m_bus.lastError(), CallStage::Creation);
    registerListingFieldsType();

    OrvexKelPostJobClassFactoryInterface factory(m_progId, QLatin1StringView(Identity::ClassFactoryPath),
                                                 m_bus);
    factory.setTimeout(CallTimeoutMs);
    for (int attempt = 1;; ++attempt) {
        QDBusPendingReply<QDBusObjectPath> reply = factory.CreateInstance();
        reply.waitForFinished();
        if (!reply.isError()) {
            bind(reply.reply().service(), reply.value().path());
            return;
        }
        if (!refusedByEndingServer(reply.error()) || attempt == MaxSends)
            throw fromBusError(reply.error(), CallStage::Creation);
        qCDebug(lcClient) << "Creation refused by an ending server:" << reply.error().name();
        waitUntilGone(m_bus, reply.reply().service());
    }
}

void RemotePostJob::bind(const QString &serverName, const QString &path) {
    // Bind to the process that made the object: its unique name never passes to another process, so
    // after the server ends a call fails instead of reaching a new server that knows no such object.
    m_object = std::make_unique<OrvexKelPostJob_PostJobInterface>(serverName, path, m_bus);
    m_object->setTimeout(CallTimeoutMs);
    m_listing = std::make_unique<OrvexKelPostJobListingInterface>(serverName, path, m_bus);
    m_listing->setTimeout(CallTimeoutMs);
    m_unknown = std::make_unique<OrvexKelPostJobIUnknownInterface>(serverName, path, m_bus);
    m_unknown->setTimeout(ReleaseTimeoutMs);
    m_serverGone = false;
    m_callsRun = 0;
    m_jobCode.clear();
    // Not waited for: wanted only when a listing's reply is lost, long after it has come.
    m_journal = m_listing->Journal();
    m_journalHost = m_listing->JournalHost();
    // The clock's milliseconds against the server's: a second's margin, far below any reuse of the id.
    m_boundAt = QDateTime::currentDateTime().addSecs(-1);
    qCDebug(lcClient) << "Created" << path << "in" << serverName;
}

void RemotePostJob::renew() {
    // Until the old server has left, creation by ProgID would reach it again.
    const QString oldServer = serverName();
    if (!waitUntilGone(m_bus, oldServer))
        qCWarning(lcClient) << "The server" << oldServer << "is still ending; creating anyway";
    create();
}

QDBusMessage RemotePostJob::deliver(const std::function<QDBusPendingCall()> &send, const Settle &settle) {
    for (int sends = 1;; ++sends) {
        if (m_serverGone)
            renew();
        QDBusPendingCall call = send();
        call.waitForFinished();
        if (!call.isError())
            return call.reply();

        const QDBusError error = call.error();
        switch (callOutcome(error)) {
        case CallOutcome::NotDelivered:
            // The object is gone or going with its server; the next send goes to a new one.
            m_serverGone = true;
            if (sends == MaxSends)
                throw fromBusError(error, CallStage::ObjectCall);
            qCDebug(lcClient).nospace()
                << "Not delivered (" << error.name() << "); sending again on a new object, send " << sends + 1
                << " of " << MaxSends;
            break;
        case CallOutcome::Failed:
            throw fromBusError(error, CallStage::ObjectCall);
        case CallOutcome::Unknown: {
            if (isServerGone(error))
                m_serverGone = true;
            const Settled settled = settle ? settle(error) : Settled::No;
            if (settled == Settled::Finished)
                return QDBusMessage();
            if (settled == Settled::No)
                throw outcomeUnknown(error);
            m_serverGone = true;
            if (sends == MaxSends)
                throw fromBusError(error, CallStage::ObjectCall);
            qCDebug(lcClient).nospace()
                << "Never ran (" << error.name() << "); sending again on a new object";
            break;
        }
        }
    }
}

QString RemotePostJob::Field(const QString &FieldName, const QString &FieldValue) {
    ensureNotReleased();
    refuseProblem(XmlText::nameProblem(FieldName),
                  [&] { return QStringLiteral("FieldName \"%1\"").arg(visible(FieldName)); });
    refuseProblem(XmlText::textProblem(FieldValue),
                  [&] { return QStringLiteral("FieldValue of field \"%1\"").arg(FieldName); });
    m_fields.append({FieldName, FieldValue});
    return QString();
}

QString RemotePostJob::Action(const QString &ActionType) {
    return ActionWithOutcome(ActionType).resultCode;
}

PostingOutcome RemotePostJob::ActionWithOutcome(const QString &ActionType) {
    return postToBoard(QString(), ActionType);
}

namespace {

qint64 sinceOf(const OncePerListing &once) {
    return once.since ? once.since->toMSecsSinceEpoch() : -1;
}

} // namespace

PostingOutcome RemotePostJob::postToBoard(const QString &Board, const QString &ActionType,
                                          const std::optional<OncePerListing> &once) {
    ensureNotReleased();
    const ListingFields fields = std::exchange(m_fields, {});
    refuseProblem(XmlText::actionProblem(ActionType),
                  [&] { return QStringLiteral("ActionType \"%1\"").arg(visible(ActionType)); });
    // The object takes the job code from the listing's last JobCode field and otherwise keeps its own.
    std::optional<QString> listedJobCode;
    for (const auto &[name, value] : fields) {
        if (ListingRules::isJobCodeField(name))
            listedJobCode = value;
    }
    QString jobCode;
    PostingOutcome outcome;
    const QDBusMessage reply = deliver(
        [&] {
            // Asked at every send: one sent again goes to a new object, whose job code starts empty.
            jobCode = listedJobCode.value_or(m_jobCode);
            return once ? m_listing->PostOnceToBoard(Board, ActionType, fields, sinceOf(*once))
                        : m_listing->PostToBoard(Board, ActionType, fields);
        },
        [&](const QDBusError &error) { return settleFromJournal(error, ActionType, jobCode, &outcome); });
    ++m_callsRun;
    m_jobCode = jobCode;
    if (reply.type() != QDBusMessage::ReplyMessage)
        return outcome;
    return outcomeOf(reply);
}

QDBusPendingCall RemotePostJob::sendPostToBoard(const QString &Board, const QString &ActionType,
                                                const ListingFields &fields,
                                                const std::optional<OncePerListing> &once) {
    ensureNotReleased();
    if (once)
        return m_listing->PostOnceToBoard(Board, ActionType, fields, sinceOf(*once));
    return m_listing->PostToBoard(Board, ActionType, fields);
}

PostingOutcome RemotePostJob::outcomeOf(const QDBusMessage &reply) {
    const QList<QVariant> arguments = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1StringView("siisss"))
        throw AutomationError(
            ErrorNumber::OutcomeUnknown, QString::fromUtf16(ComponentSource),
            QStringLiteral("The server's reply cannot be read (%1).").arg(reply.signature()));
    // A class this library does not know promises nothing about the board.
    const DeliveryClass deliveryClass =
        deliveryClassFromName(arguments.at(5).toString()).value_or(DeliveryClass::Unknown);
    PostingOutcome posted{arguments.at(0).toString(),      arguments.at(1).toInt(),
                          qint32(arguments.at(2).toInt()), arguments.at(3).toString(),
                          arguments.at(4).toString(),      deliveryClass};
    return knownOutcome(posted);
}

PostingOutcome RemotePostJob::knownOutcome(const PostingOutcome &outcome) {
    // The call ran, but the board may hold the listing all the same: not an "F" to post again.
    if (outcome.deliveryClass == DeliveryClass::Unknown)
        throw AutomationError(ErrorNumber::OutcomeUnknown, QString::fromUtf16(ComponentSource),
                              outcome.errorDescription);
    return outcome;
}

bool RemotePostJob::lostCallOf(const QDBusError &error, const QString &ActionType, const QString &jobCode,
                               LostCall *call) {
    // Only once the server has ended can no start line still come.
    if (!isServerGone(error) || error.type() == QDBusError::Disconnected)
        return false;
    m_journal.waitForFinished();
    if (m_journal.isError())
        return false;
    *call = LostCall{m_journal.argumentAt<0>(),
                     qint64(m_journal.argumentAt<1>()),
                     objectPath(),
                     m_boundAt,
                     m_callsRun,
                     ActionType,
                     jobCode,
                     QString()};
    // A server of a version before hosts were named answers an error: its journal is its machine's own.
    m_journalHost.waitForFinished();
    if (!m_journalHost.isError())
        call->host = m_journalHost.argumentAt<0>();
    // The bus drops a server's name as its connection closes, before it tells the callers NoReply.
    return !m_bus.interface()->isServiceRegistered(serverName()).value() &&
           waitForProcessEnd(call->processId, ProcessEndTimeoutMs);
}

std::optional<PostingOutcome> RemotePostJob::settleLostListing(const QDBusError &error, const QString &Board,
                                                               const QString &ActionType,
                                                               const QString &jobCode) {
    LostCall call;
    if (!lostCallOf(error, ActionType, jobCode, &call))
        return std::nullopt;
    const JournalVerdict verdict = lookUpLostListing(call, Board);
    if (verdict.kind != JournalVerdict::Kind::Finished)
        return std::nullopt;
    return verdict.outcome;
}

RemotePostJob::Settled RemotePostJob::settleFromJournal(const QDBusError &error, const QString &ActionType,
                                                        const QString &jobCode, PostingOutcome *outcome) {
    LostCall call;
    if (!lostCallOf(error, ActionType, jobCode, &call))
        return Settled::No;
    const JournalVerdict verdict = lookUpLostCall(call);
    switch (verdict.kind) {
    case JournalVerdict::Kind::NeverRan:
        return Settled::NeverRan;
    case JournalVerdict::Kind::Finished:
        // An end line that leaves the board's side open settles nothing.
        if (verdict.outcome.deliveryClass == DeliveryClass::Unknown)
            return Settled::No;
        *outcome = verdict.outcome;
        return Settled::Finished;
    case JournalVerdict::Kind::Unsettled:
        break;
    }
    return Settled::No;
}

void RemotePostJob::WriteLog(const QString &SubName, const QString &Message, const Orvex::Variant &AnyOther) {
    ensureNotReleased();
    refuseUncarriable(SubName, [] { return QStringLiteral("SubName"); });
    refuseUncarriable(Message, [] { return QStringLiteral("Message"); });
    if (AnyOther.kind() == Variant::Kind::Text)
        refuseUncarriable(AnyOther.get<QString>(), [] { return QStringLiteral("AnyOther"); });
    const QDBusVariant anyOther = BusWire::toBus(AnyOther);
    deliver([&] { return m_object->WriteLog(SubName, Message, anyOther); });
}

QString RemotePostJob::journalProblem() {
    ensureNotReleased();
    return deliver([&] { return m_listing->JournalProblem(); }).arguments().value(0).toString();
}

int RemotePostJob::maxInFlight(const QString &Board) {
    ensureNotReleased();
    return deliver([&] { return m_listing->MaxInFlight(Board); }).arguments().value(0).toInt();
}

void RemotePostJob::release() {
    if (m_released || !m_unknown)
        return;
    m_released = true;
    m_fields.clear();
    if (m_serverGone)
        return;
    QDBusPendingReply<> reply = m_unknown->Release();
    reply.waitForFinished();
    // The server ends on Release, often before it can answer, and one already ending refuses it: either
    // way the object is gone.
    if (reply.isError() && !isServerGone(reply.error()) &&
        callOutcome(reply.error()) != CallOutcome::NotDelivered) {
        throw fromBusError(reply.error(), CallStage::ObjectCall);
    }
}

QString RemotePostJob::serverName() const {
    return m_object ? m_object->service() : QString();
}

QString RemotePostJob::objectPath() const {
    return m_object ? m_object->path() : QString();
}

void RemotePostJob::ensureNotReleased() const {
    if (m_released) {
        throw AutomationError(ErrorNumber::ObjectDisconnected, QString::fromUtf16(ComponentSource),
                              QStringLiteral("The object has been released."));
    }
}

} // namespace Orvex
