#include "postjob.h"

#include "activitylogfile.h"
#include "appendfile.h"
#include "automationerror.h"
#include "boardendpoint.h"
#include "boardreply.h"
#include "clock.h"
#include "debugcopy.h"
#include "errortable.h"
#include "files.h"
#include "listingrules.h"
#include "logrecord.h"
#include "logrecordnames.h"
#include "postingdocument.h"
#include "postinglogging.h"
#include "retryclock.h"
#include "retrypolicy.h"
#include "statusview.h"
#include "urltext.h"
#include "warningbox.h"
#include "wireencoding.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <new>

namespace {

namespace ErrorNumber = Orvex::ErrorNumber;

constexpr int ReadyStateComplete = 4;
constexpr int HttpOk = 200;
// The fields of one listing, as document text (each character at least one byte on the wire).
constexpr qsizetype MaxXmlBodyLength = Orvex::ListingRules::MaxListingLength;

Orvex::RetryClock &retryClockOf(const Orvex::HostContext &host) {
    static Orvex::BlockingRetryClock processClock;
    return host.retryClock ? *host.retryClock : processClock;
}

const QString &crLf() {
    static const QString text = QStringLiteral("\r\n");
    return text;
}

constexpr QByteArrayView DebugCopyEnd = "\r\n";

// The document as it goes on the wire, encoded once straight from its parts into one buffer, with room
// for the debug copy's line end, so neither the document text nor a second encoding is ever held.
QByteArray documentWireBytes(const QString &actionWord, const QString &fieldElements) {
    const QString head = Orvex::postingDocumentHead(actionWord);
    const QLatin1StringView tail = Orvex::postingDocumentTail();
    QByteArray bytes;
    bytes.reserve(head.size() + fieldElements.size() + tail.size() + DebugCopyEnd.size());
    Orvex::appendWireBytes(bytes, head);
    Orvex::appendWireBytes(bytes, fieldElements);
    Orvex::appendWireBytes(bytes, QString(tail));
    return bytes;
}

} // namespace

PostJob::PostJob(const Orvex::HostContext &host, QString logFile, Orvex::ComponentSettings settings)
    : m_host(host)
    , LogFile(std::move(logFile))
    , DebugMode(settings.debugMode)
    , m_settings(std::move(settings)) {}

QString PostJob::endpointUrl() const {
    return m_settings.importUrl.isEmpty() ? Orvex::boardEndpointUrl() : m_settings.importUrl;
}

QString PostJob::Field(const QString &FieldName, const QString &FieldValue) {
    // The element is never shorter than its name and value: a field far past the bound is refused before
    // its element is built.
    const qsizetype room = MaxXmlBodyLength - XmlBody.size();
    if (FieldName.size() + FieldValue.size() > room)
        throw Orvex::AutomationError::runtime(ErrorNumber::OutOfMemory);
    // Built whole, then appended in one step: a failure (out of memory) leaves XmlBody as it was.
    const QString element = Orvex::fieldElement(FieldName, FieldValue);
    if (element.size() > room)
        throw Orvex::AutomationError::runtime(ErrorNumber::OutOfMemory);
    XmlBody.append(element);
    if (Orvex::ListingRules::isJobCodeField(FieldName))
        JobCode = FieldValue;
    return QString();
}

QString PostJob::Action(const QString &ActionType) {
    // Every try posts the same listing under the same call number, and leaves its own log and journal lines.
    // The fields stay in XmlBody until the last try is over; its memory goes back once the listing is done.
    const auto listingDone = qScopeGuard([this] { endListing(); });
    const quint64 callSerial = Orvex::nextCallSerial();
    Orvex::RetryClock &clock = retryClockOf(m_host);
    const auto firstTry = clock.now();
    for (int tries = 1;; ++tries) {
        const QString resultCode = tryOnce(ActionType, callSerial);
        const std::optional<std::chrono::milliseconds> wait = nextTryWait(tries, firstTry);
        if (!wait)
            return resultCode;
        qCDebug(lcPosting) << "try" << tries << "of" << JobCode << "failed; next in" << wait->count() << "ms";
        if (!clock.sleep(*wait))
            return resultCode;
    }
}

QString PostJob::tryOnce(const QString &ActionType, quint64 callSerial) {
    try {
        if (const std::optional<Orvex::JournalPosting> start = startTry(ActionType, callSerial))
            m_journalStart = m_host.journal->begin(*start, m_journalClaim);
    } catch (const std::exception &error) {
        m_journalStart.why = QString::fromLocal8Bit(error.what());
    }
    return afterStart(ActionType);
}

QString PostJob::tryOnce(const QString &ActionType, quint64 callSerial, std::function<void()> recorded) {
    m_recorded = std::move(recorded);
    const QString resultCode = tryOnce(ActionType, callSerial);
    // No end row was handed to the journal: nothing to wait for.
    if (const std::function<void()> now = std::exchange(m_recorded, nullptr))
        now();
    return resultCode;
}

bool PostJob::beginTry(const QString &ActionType, quint64 callSerial,
                       std::function<void(Orvex::JournalStart)> started) {
    try {
        const std::optional<Orvex::JournalPosting> start = startTry(ActionType, callSerial);
        if (!start)
            return false;
        m_host.journal->begin(*start, m_journalClaim, std::move(started));
        return true;
    } catch (const std::exception &error) {
        qCDebug(lcPosting) << "start row not handed to the journal:" << error.what();
        return false;
    }
}

QString PostJob::finishTry(const QString &ActionType, Orvex::JournalStart started,
                           std::function<void()> recorded) {
    m_journalStart = std::move(started);
    m_recorded = std::move(recorded);
    const QString resultCode = afterStart(ActionType);
    if (const std::function<void()> now = std::exchange(m_recorded, nullptr))
        now();
    return resultCode;
}

QString PostJob::tryExchange(const QString &ActionType) {
    try {
        return exchange(ActionType);
    } catch (const Orvex::AutomationError &error) {
        return failed(error);
    } catch (const std::bad_alloc &) {
        return failed(Orvex::AutomationError::runtime(ErrorNumber::OutOfMemory));
    } catch (const std::exception &error) {
        return failed(Orvex::AutomationError(ErrorNumber::InternalError,
                                             QString::fromUtf16(Orvex::ComponentSource),
                                             QString::fromLocal8Bit(error.what())));
    }
}

std::optional<std::chrono::milliseconds>
PostJob::nextTryWait(int tries, std::chrono::steady_clock::time_point firstTry) const {
    if (m_settings.retryFor <= std::chrono::seconds::zero() || !Orvex::RetryPolicy::mayRetry(m_lastOutcome))
        return std::nullopt;
    const std::chrono::milliseconds wait =
        Orvex::RetryPolicy::delayAfter(tries, QRandomGenerator::global()->generateDouble(), m_retryAfter);
    // The last try starts within RetryFor; a wait that would pass it ends the tries now.
    if (retryClockOf(m_host).now() + wait > firstTry + m_settings.retryFor)
        return std::nullopt;
    return wait;
}

QString PostJob::exchange(const QString &ActionType) {
    m_host.statusWindow.exchangeStarted(JobCode);
    WriteLog(ActionType, JobCode, Orvex::Variant(QString()));

    QByteArray document = documentWireBytes(ActionType, XmlBody);
    const QString reply = PostXml(document);
    m_replyBytes = reply.toUtf8().size();
    m_lastOutcome.reply = reply;

    const QString resultCode = Orvex::resultCode(ActionType, reply, Orvex::processWarningBox());
    m_lastOutcome.deliveryClass =
        resultCode.startsWith(u'S') ? Orvex::DeliveryClass::Posted : Orvex::DeliveryClass::Refused;

    if (DebugMode)
        SaveDebugCopy(std::move(document));
    WriteLog(QString::fromUtf16(Orvex::LogRecordName::ServerResponse), reply, Orvex::Variant(crLf()));

    endJournalEntry(resultCode, nullptr);
    // Last, so that an exchange ends once in the window whatever fails before.
    m_host.statusWindow.exchangeEnded(JobCode, true);
    return resultCode;
}

QString PostJob::failed(const Orvex::AutomationError &error) {
    // The log is read by more eyes than the client's: a password in the board's address stays out of it.
    const QString description = Orvex::withoutUserInfo(error.description());
    qCDebug(lcPosting) << "posting failed:" << error.number() << description;
    WriteLog(QString::fromUtf16(Orvex::LogRecordName::Error), description,
             Orvex::Variant(QString::number(error.number()) + crLf()));
    // The board took the listing and something after its reply failed: it holds a listing reported "F".
    if (m_lastOutcome.deliveryClass == Orvex::DeliveryClass::Posted)
        m_lastOutcome.deliveryClass = Orvex::DeliveryClass::Unknown;
    m_host.statusWindow.exchangeEnded(JobCode, false);
    const QString resultCode = QStringLiteral("F");
    endJournalEntry(resultCode, &error);
    return resultCode;
}

std::optional<Orvex::JournalPosting> PostJob::startTry(const QString &ActionType, quint64 callSerial) {
    // Before anything can fail or reach the board: a call without a start row never posted.
    m_exchangeTimer.start();
    m_lastOutcome = {};
    m_replyBytes = 0;
    m_retryAfter.reset();
    m_journalStart = {};
    if (!m_host.journal) {
        m_journalStart.why = QStringLiteral("this process keeps no journal");
        return std::nullopt;
    }
    Orvex::JournalPosting start;
    start.time = m_host.clock.now();
    start.processId = QCoreApplication::applicationPid();
    start.objectPath = m_objectPath;
    start.callSerial = qint64(callSerial);
    start.action = ActionType;
    start.jobCode = JobCode;
    start.board = m_board;
    start.host = m_settings.host();
    return start;
}

QString PostJob::afterStart(const QString &ActionType) {
    if (!m_journalStart.row)
        qCDebug(lcPosting).noquote() << "no journal row for" << JobCode << m_journalStart.why;
    if (m_journalStart.row || !m_journalRequired)
        return tryExchange(ActionType);
    return m_journalStart.block.reason == Orvex::JournalBlock::Reason::None ? notRecorded() : heldBack();
}

QString PostJob::notRecorded() {
    const QString where =
        m_journalStart.path.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(m_journalStart.path);
    // The window shows the listing as tried, as any failed exchange leaves it.
    m_host.statusWindow.exchangeStarted(JobCode);
    const Orvex::AutomationError error(
        ErrorNumber::JournalNotRecorded, QString::fromUtf16(Orvex::ComponentSource),
        QStringLiteral("the posting journal could not record the listing: %1%2")
            .arg(m_journalStart.why, where));
    m_lastOutcome.deliveryClass = Orvex::DeliveryClass::NotSent;
    return failed(error);
}

QString PostJob::heldBack() {
    const Orvex::JournalBlock &block = m_journalStart.block;
    const QString host = block.posting.host.isEmpty() ? QStringLiteral("this host") : block.posting.host;
    const QString when = block.posting.time.toString(Qt::ISODateWithMs);
    const bool inFlight = block.reason == Orvex::JournalBlock::Reason::InFlight;
    const Orvex::AutomationError error(
        inFlight ? ErrorNumber::InFlightElsewhere : ErrorNumber::AlreadyPosted,
        QString::fromUtf16(Orvex::ComponentSource),
        inFlight ? QStringLiteral("in flight on %1 (process %2, since %3); not sent")
                       .arg(host, QString::number(block.posting.processId), when)
                 : QStringLiteral("already posted (%1) on %2 at %3; not sent")
                       .arg(block.posting.resultCode, host, when));
    m_host.statusWindow.exchangeStarted(JobCode);
    m_lastOutcome.deliveryClass = Orvex::DeliveryClass::NotSent;
    return failed(error);
}

void PostJob::endJournalEntry(const QString &resultCode, const Orvex::AutomationError *error) {
    try {
        m_lastOutcome.resultCode = resultCode;
        m_lastOutcome.errorNumber = error ? error->number() : 0;
        m_lastOutcome.errorDescription = error ? Orvex::withoutUserInfo(error->description()) : QString();
        if (m_host.journal && m_journalStart.row) {
            const Orvex::JournalEnd end{*m_journalStart.row, m_journalStart.opening,
                                        m_host.clock.now(),  m_lastOutcome,
                                        m_replyBytes,        m_exchangeTimer.elapsed()};
            if (m_recorded) {
                m_host.journal->complete(end, m_recorded);
                m_recorded = nullptr;
            } else {
                m_host.journal->complete(end);
            }
        }
    } catch (const std::exception &failure) {
        qCDebug(lcPosting) << "journal end skipped:" << failure.what();
    }
}

void PostJob::WriteLog(const QString &SubName, const QString &Message, const Orvex::Variant &AnyOther) {
    // Nothing may leave: a record that cannot be written is simply missing.
    try {
        const QString record = Orvex::logRecord(m_host.clock.now(), SubName, Message, AnyOther);
        QString why;
        if (!Orvex::appendToFile(LogFile, record.toUtf8(), &why))
            warnNotWritten("the activity log", LogFile, why);
    } catch (const std::exception &error) {
        qCDebug(lcPosting) << "log record skipped:" << error.what();
    }
}

void PostJob::warnNotWritten(const char *what, const QString &path, const QString &why) const {
    // Clients never learn of it, so whoever runs the server must: once, not once per record.
    if (m_host.fileWarningGiven->exchange(true))
        return;
    qCWarning(lcPosting).noquote() << "cannot write" << what << Orvex::Files::nativePath(path) + u':' << why
                                   << "- what goes there is lost; this is said only once";
}

QString PostJob::PostXml(const QByteArray &Xml) {
    std::unique_ptr<Orvex::HttpRequest> request =
        m_host.requestFactory ? m_host.requestFactory(m_settings.http) : nullptr;
    if (!request)
        throw Orvex::AutomationError::runtime(ErrorNumber::CannotCreateObject);
    request->open(QStringLiteral("POST"), endpointUrl(), false);
    try {
        request->send(Xml);
    } catch (...) {
        m_lastOutcome.deliveryClass = request->failedDelivery();
        throw;
    }
    if (request->readyState() != ReadyStateComplete) {
        m_lastOutcome.deliveryClass = Orvex::DeliveryClass::Unknown;
        return QString();
    }
    m_lastOutcome.httpStatus = request->status();
    m_lastOutcome.deliveryClass = Orvex::DeliveryClass::Refused;
    m_retryAfter = Orvex::RetryPolicy::retryAfter(request->getResponseHeader(QStringLiteral("Retry-After")),
                                                  m_host.clock.now());
    if (request->status() == HttpOk)
        return request->responseText();
    return QString();
}

void PostJob::SaveDebugCopy(QByteArray Xml) {
    try {
        const QString path = Orvex::debugCopyPath(m_host.folders.filesFolder(), m_host.clock.now());
        // The bytes that went out; the line end fits the room left for it, so nothing is copied.
        Xml.append(DebugCopyEnd);
        QString why;
        if (!Orvex::appendToFile(path, Xml, &why))
            warnNotWritten("the debug copy", path, why);
    } catch (const std::exception &error) {
        qCDebug(lcPosting) << "debug copy skipped:" << error.what();
    }
}
