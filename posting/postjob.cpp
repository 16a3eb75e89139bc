#include "postjob.h"

#include "appendfile.h"
#include "automationerror.h"
#include "boardendpoint.h"
#include "boardreply.h"
#include "clock.h"
#include "debugcopy.h"
#include "logrecord.h"
#include "postingdocument.h"
#include "postinglogging.h"
#include "statusview.h"
#include "warningbox.h"
#include "wireencoding.h"

#include <new>

namespace {

// The runtime's own numbers for the failures that can arise here outside the request object.
constexpr qint32 OutOfMemory = 7;
constexpr qint32 CannotCreateObject = 429;
constexpr qint32 ObjectNotSet = 91;
constexpr qint32 InternalError = 51;

constexpr int ReadyStateComplete = 4;
constexpr int HttpOk = 200;

const QString &crLf() {
    static const QString text = QStringLiteral("\r\n");
    return text;
}

Orvex::AutomationError componentError(qint32 number, const QString &description) {
    return Orvex::AutomationError(number, QString::fromUtf16(Orvex::ComponentSource), description);
}

} // namespace

PostJob::PostJob(const HostContext &host, QString logFile, bool debugMode)
    : m_host(host)
    , LogFile(std::move(logFile))
    , DebugMode(debugMode) {}

QString PostJob::Field(const QString &FieldName, const QString &FieldValue) {
    Orvex::appendFieldElement(XmlBody, FieldName, FieldValue);
    if (FieldName == QLatin1StringView("JobCode"))
        JobCode = FieldValue;
    return QString();
}

QString PostJob::Action(const QString &ActionType) {
    try {
        return exchange(ActionType);
    } catch (const Orvex::AutomationError &error) {
        return failed(error);
    } catch (const std::bad_alloc &) {
        return failed(componentError(OutOfMemory, QStringLiteral("Out of memory")));
    } catch (const std::exception &error) {
        return failed(componentError(InternalError, QString::fromLocal8Bit(error.what())));
    }
}

QString PostJob::exchange(const QString &ActionType) {
    StatusView &status = statusWindow();
    status.setStatusText(QStringLiteral("Posting ") + JobCode);
    WriteLog(ActionType, JobCode, Orvex::Variant(QString()));

    XmlBody = Orvex::postingDocument(ActionType, XmlBody);
    const QString reply = PostXml(XmlBody);

    const QString resultCode = Orvex::resultCode(ActionType, reply, Orvex::processWarningBox());

    if (DebugMode)
        SaveDebugCopy(XmlBody);
    WriteLog(QStringLiteral("Server Response"), reply, Orvex::Variant(crLf()));
    XmlBody.clear();

    status.setStatusText(status.statusText() + crLf() + QStringLiteral("Posted ") + JobCode);
    return resultCode;
}

QString PostJob::failed(const Orvex::AutomationError &error) {
    qCDebug(lcPosting) << "posting failed:" << error.number() << error.description();
    WriteLog(QStringLiteral("Error"), error.description(),
             Orvex::Variant(QString::number(error.number()) + crLf()));
    XmlBody.clear();
    return QStringLiteral("F");
}

StatusView &PostJob::statusWindow() const {
    if (!m_host.statusWindow)
        throw componentError(ObjectNotSet, QStringLiteral("Object variable or With block variable not set"));
    return *m_host.statusWindow;
}

void PostJob::WriteLog(const QString &SubName, const QString &Message, const Orvex::Variant &AnyOther) {
    // Nothing may leave: a record that cannot be written is simply missing.
    try {
        const Orvex::Clock &clock = m_host.clock ? *m_host.clock : Orvex::systemClock();
        const QString record = Orvex::logRecord(clock.now(), SubName, Message, AnyOther);
        Orvex::appendToFile(LogFile, record.toUtf8());
    } catch (const std::exception &error) {
        qCDebug(lcPosting) << "log record skipped:" << error.what();
    }
}

QString PostJob::PostXml(const QString &Xml) {
    std::unique_ptr<Orvex::HttpRequest> request = m_host.requestFactory ? m_host.requestFactory() : nullptr;
    if (!request)
        throw componentError(CannotCreateObject, QStringLiteral("ActiveX component can't create object"));
    request->open(QStringLiteral("POST"), Orvex::boardEndpointUrl(), false);
    request->send(Xml);
    if (request->readyState() == ReadyStateComplete && request->status() == HttpOk)
        return request->responseText();
    return QString();
}

void PostJob::SaveDebugCopy(const QString &Xml) {
    try {
        const Orvex::Clock &clock = m_host.clock ? *m_host.clock : Orvex::systemClock();
        const QString path = Orvex::debugCopyPath(m_host.programFolder, clock.now());
        Orvex::appendToFile(path, Orvex::toWireBytes(Xml) + "\r\n");
    } catch (const std::exception &error) {
        qCDebug(lcPosting) << "debug copy skipped:" << error.what();
    }
}
