#include "journallookup.h"

#include "clientlogging.h"
#include "journalfields.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace Orvex {

namespace {

using Kind = JournalVerdict::Kind;

constexpr int ProcessPollMs = 20;
// Far above a day's postings (two lines of a few hundred bytes each): a file this large is no journal the
// server wrote, and reading it would only cost memory.
constexpr qint64 MaxJournalBytes = qint64(512) * 1024 * 1024;

QString field(const QJsonObject &line, const char *name) {
    return line.value(QLatin1StringView(name)).toString();
}

qint64 number(const QJsonObject &line, const char *name) {
    return line.value(QLatin1StringView(name)).toInteger();
}

// The journal's bytes; nothing when it cannot be read or is not the user's own regular file (a link,
// another's file). The server makes the journal when it makes the object, so a missing one is one it could
// not write: it proves nothing.
std::optional<QByteArray> readJournal(const QString &path) {
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        status.st_size > MaxJournalBytes)
        return std::nullopt;
    return file.readAll();
}

// One JSON object and nothing else: "{\"" only ever opens an object, as a quote inside a text is escaped.
bool isWholeLine(const QByteArray &line) {
    return line.startsWith("{\"") && line.endsWith('}') && line.count("{\"") == 1;
}

PostingOutcome outcomeOf(const QJsonObject &end) {
    namespace F = JournalField;
    // The journal keeps no reply text, so a board's reply can never forge a line of it. A line without a
    // class this reader knows promises nothing about the board.
    return PostingOutcome{
        field(end, F::ResultCode),
        int(number(end, F::HttpStatus)),
        qint32(number(end, F::ErrorNumber)),
        field(end, F::ErrorDescription),
        QString(),
        deliveryClassFromName(field(end, F::DeliveryClass)).value_or(DeliveryClass::Unknown)};
}

} // namespace

JournalVerdict lookUpLostCall(const LostCall &call) {
    namespace F = JournalField;
    if (call.journalFile.isEmpty() || call.processId <= 0)
        return {};
    const std::optional<QByteArray> journal = readJournal(call.journalFile);
    if (!journal)
        return {};

    // The object's lines in this process, in the order they were written. The tries of one call share its
    // number, so the calls are the distinct numbers of the start lines.
    QList<qint64> calls;
    QList<QJsonObject> lines;
    const QByteArray processMark =
        QByteArray("\"") + F::ProcessId + "\":" + QByteArray::number(call.processId);
    for (const QByteArray &line : journal->split('\n')) {
        if (line.isEmpty())
            continue;
        // A torn line, whoever wrote it, could be the lost call's start line.
        if (!isWholeLine(line))
            return {};
        if (!line.contains(processMark)) // most lines are other servers'; skip them unparsed
            continue;
        QJsonParseError error{};
        const QJsonObject entry = QJsonDocument::fromJson(line, &error).object();
        if (error.error != QJsonParseError::NoError)
            return {};
        if (number(entry, F::ProcessId) != call.processId || field(entry, F::ObjectPath) != call.objectPath)
            continue;
        const QString event = field(entry, F::Event);
        if (event != QLatin1StringView(F::EventStart) && event != QLatin1StringView(F::EventEnd))
            continue;
        const qint64 serial = number(entry, F::CallSerial);
        if (event == QLatin1StringView(F::EventStart) && (calls.isEmpty() || calls.constLast() != serial))
            calls.append(serial);
        lines.append(entry);
    }

    if (calls.size() == call.callsRun) {
        qCDebug(lcClient) << "the journal holds no start line for the lost call on" << call.objectPath;
        return {Kind::NeverRan, {}};
    }
    // Anything else than one more call, for this listing, is a journal that lost lines or a call of
    // someone else's: no verdict.
    if (calls.size() != call.callsRun + 1)
        return {};
    const qint64 serial = calls.constLast();
    // The call's last line: its last try's end line, or a start line of a try that never ended.
    const QJsonObject *last = nullptr;
    for (const QJsonObject &entry : std::as_const(lines)) {
        if (number(entry, F::CallSerial) == serial)
            last = &entry;
    }
    if (field(*last, F::ActionWord) != call.action || field(*last, F::JobCode) != call.jobCode ||
        field(*last, F::Event) != QLatin1StringView(F::EventEnd))
        return {};
    return {Kind::Finished, outcomeOf(*last)};
}

bool waitForProcessEnd(qint64 processId, int timeoutMs) {
    if (processId <= 0)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (::kill(pid_t(processId), 0) != 0 && errno == ESRCH)
            return true;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(processId));
        if (stat.open(QIODevice::ReadOnly)) {
            // "pid (name) S ...": the state follows the last parenthesis.
            const QByteArray text = stat.readAll();
            const qsizetype close = text.lastIndexOf(')');
            if (close >= 0 && text.mid(close + 2, 1) == "Z")
                return true;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(ProcessPollMs);
    }
}

} // namespace Orvex
