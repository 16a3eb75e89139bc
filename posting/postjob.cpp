#include "postjob.h"

#include "appendfile.h"
#include "automationerror.h"
#include "boardendpoint.h"
#include "boardreply.h"
#include "clock.h"
#include "debugcopy.h"
#include "errortable.h"
#include "logrecord.h"
#include "logrecordnames.h"
#include "postingdocument.h"
#include "postinglogging.h"
#include "statusview.h"
#include "warningbox.h"
#include "wireencoding.h"

#include <new>

namespace {

namespace ErrorNumber = Orvex::ErrorNumber;

constexpr int ReadyStateComplete = 4;
constexpr int HttpOk = 200;

const QString &crLf() {
    static const QString text = QStringLiteral("\r\n");
    return text;
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
    // Built whole, then appended in one step: a failure (out of memory) leaves XmlBody as it was.
    XmlBody.append(Orvex::fieldElement(FieldName, FieldValue));
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
        return failed(Orvex::AutomationError::runtime(ErrorNumber::OutOfMemory));
    } catch (const std::exception &error) {
        return failed(Orvex::AutomationError(ErrorNumber::InternalError,
                                             QString::fromUtf16(Orvex::ComponentSource),
                                             QString::fromLocal8Bit(error.what())));
    }
}

QString PostJob::exchange(const QString &ActionType) {
    Orvex::StatusView &status = m_host.statusWindow;
    status.setStatusText(QStringLiteral("Posting ") + JobCode);
    WriteLog(ActionType, JobCode, Orvex::Variant(QString()));

    XmlBody = Orvex::postingDocument(ActionType, XmlBody);
    const QString reply = PostXml(XmlBody);

    const QString resultCode = Orvex::resultCode(ActionType, reply, Orvex::processWarningBox());

    if (DebugMode)
        SaveDebugCopy(XmlBody);
    WriteLog(QString::fromUtf16(Orvex::LogRecordName::ServerResponse), reply, Orvex::Variant(crLf()));
    XmlBody.clear();

    status.setStatusText(status.statusText() + crLf() + QStringLiteral("Posted ") + JobCode);
    return resultCode;
}

QString PostJob::failed(const Orvex::AutomationError &error) {
    qCDebug(lcPosting) << "posting failed:" << error.number() << error.description();
    WriteLog(QString::fromUtf16(Orvex::LogRecordName::Error), error.description(),
             Orvex::Variant(QString::number(error.number()) + crLf()));
    XmlBody.clear();
    return QStringLiteral("F");
}

void PostJob::WriteLog(const QString &SubName, const QString &Message, const Orvex::Variant &AnyOther) {
    // Nothing may leave: a record that cannot be written is simply missing.
    try {
        const QString record = Orvex::logRecord(m_host.clock.now(), SubName, Message, AnyOther);
        if (!Orvex::appendToFile(LogFile, record.toUtf8()))
            warnLogUnwritable();
    } catch (const std::exception &error) {
        qCDebug(lcPosting) << "log record skipped:" << error.what();
    }
}

void PostJob::warnLogUnwritable() const {
    // Clients never learn of it, so whoever runs the server must: once, not once per record.
    if (m_host.logWarningGiven)
        return;
    m_host.logWarningGiven = true;
    qCWarning(lcPosting).noquote() << "cannot write the activity log" << LogFile
                                   << "- its records are lost; this is said only once";
}

QString PostJob::PostXml(const QString &Xml) {
    std::unique_ptr<Orvex::HttpRequest> request =
        m_host.requestFactory ? m_host.requestFactory(m_settings.http) : nullptr;
    if (!request)
        throw Orvex::AutomationError::runtime(ErrorNumber::CannotCreateObject);
    request->open(QStringLiteral("POST"), endpointUrl(), false);
    request->send(Xml);
    if (request->readyState() == ReadyStateComplete && request->status() == HttpOk)
        return request->responseText();
    return QString();
}

void PostJob::SaveDebugCopy(const QString &Xml) {
    try {
        const QString path = Orvex::debugCopyPath(m_host.folders.filesFolder(), m_host.clock.now());
        Orvex::appendToFile(path, Orvex::toWireBytes(Xml) + "\r\n");
    } catch (const std::exception &error) {
        qCDebug(lcPosting) << "debug copy skipped:" << error.what();
    }
}
