#include "postingjournal.h"

#include "appendfile.h"
#include "journalfields.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>

namespace Orvex {

namespace {

QString journalTime(const QDateTime &time) {
    // Local time with its offset, so lines of different zones or either side of a clock change still
    // order; the offset always as +hh:mm, UTC included, so every line reads alike.
    const int offsetMinutes = time.offsetFromUtc() / 60;
    const int absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    return time.toString(u"yyyy-MM-dd'T'HH:mm:ss.zzz") + (offsetMinutes < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(absolute / 60, 2, 10, QLatin1Char('0'))
               .arg(absolute % 60, 2, 10, QLatin1Char('0'));
}

QJsonObject callFields(const char *event, const QDateTime &time, const JournalCall &call) {
    namespace F = JournalField;
    return QJsonObject{
        {QLatin1StringView(F::Event), QLatin1StringView(event)},
        {QLatin1StringView(F::Time), journalTime(time)},
        {QLatin1StringView(F::ProcessId), call.processId},
        {QLatin1StringView(F::ObjectPath), call.objectPath},
        {QLatin1StringView(F::CallSerial), qint64(call.serial)},
        {QLatin1StringView(F::ActionWord), call.action},
        {QLatin1StringView(F::JobCode), call.jobCode},
        {QLatin1StringView(F::Board), call.board},
    };
}

QByteArray lineOf(const QJsonObject &fields) {
    return QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

quint64 nextCallSerial() {
    static std::atomic<quint64> lastSerial = 0;
    return ++lastSerial;
}

QByteArray journalStartLine(const QDateTime &time, const JournalCall &call) {
    return lineOf(callFields(JournalField::EventStart, time, call));
}

QByteArray journalEndLine(const QDateTime &time, const JournalCall &call, const PostingOutcome &outcome,
                          qint64 replyBytes, qint64 durationMs) {
    namespace F = JournalField;
    QJsonObject fields = callFields(F::EventEnd, time, call);
    const bool succeeded = outcome.resultCode.startsWith(u'S');
    fields.insert(QLatin1StringView(F::ResultCode), outcome.resultCode);
    fields.insert(QLatin1StringView(F::JobId), succeeded ? outcome.resultCode.mid(1) : QString());
    fields.insert(QLatin1StringView(F::HttpStatus), outcome.httpStatus);
    fields.insert(QLatin1StringView(F::ErrorNumber), outcome.errorNumber);
    fields.insert(QLatin1StringView(F::ErrorDescription), outcome.errorDescription);
    fields.insert(QLatin1StringView(F::ReplyBytes), replyBytes);
    fields.insert(QLatin1StringView(F::DurationMs), durationMs);
    return lineOf(fields);
}

bool appendJournalLine(const QString &journalFile, const QByteArray &line) {
    // An empty name is no journal; as a path it would name a file in the working folder.
    if (journalFile.isEmpty())
        return false;
    return appendToFile(journalFile, line);
}

bool createJournal(const QString &journalFile) {
    return appendJournalLine(journalFile, QByteArray());
}

} // namespace Orvex
