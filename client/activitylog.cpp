#include "activitylog.h"

#include "boardreply.h"
#include "clientlogging.h"
#include "warningbox.h"

#include <QFile>
#include <QRegularExpression>

namespace Orvex {

namespace {

// One record as written: the entry time, then SubName, Message and AnyOther.
struct Record {
    QDateTime time;
    QString subName;
    QString message;
    QString anyOther;
    bool anyOtherIsText = false;
};

// The component reported an unsplittable reply when it posted; reading it back says nothing new.
class QuietWarningBox final : public WarningBox {
public:
    void show(const QString &, const QString &text) override {
        qCDebug(lcClient) << "reading a reply:" << text;
    }
};

// Fields are quoted but nothing inside is escaped, so a record is known by how it begins: a line that
// opens with the quoted entry time and the comma and quote of the next field. A reply line that happens
// to look exactly like that would be taken for a record of its own.
const QRegularExpression &recordStart() {
    static const QRegularExpression pattern(
        QStringLiteral(R"re("(\d{1,2})/(\d{1,2})/(\d{4})(?: (\d{1,2}):(\d{2}):(\d{2}) ([AP])M)?",")re"));
    return pattern;
}

std::optional<QDateTime> entryTime(const QRegularExpressionMatch &match) {
    const QDate date(match.captured(3).toInt(), match.captured(1).toInt(), match.captured(2).toInt());
    if (!date.isValid())
        return std::nullopt;
    if (!match.hasCaptured(4))
        return QDateTime(date, QTime(0, 0));
    const int hour = match.captured(4).toInt();
    if (hour < 1 || hour > 12)
        return std::nullopt;
    const QTime time(hour % 12 + (match.captured(7) == u'P' ? 12 : 0), match.captured(5).toInt(),
                     match.captured(6).toInt());
    if (!time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

// body: the record after its entry time field, without its line end. Message ends at the last separator
// that leaves a well-formed AnyOther, so a reply's quotes and commas stay in the reply.
std::optional<Record> parseFields(QDateTime time, const QString &body) {
    const QLatin1StringView quotedSeparator("\",\"");
    const qsizetype subNameEnd = body.indexOf(quotedSeparator);
    if (subNameEnd < 0)
        return std::nullopt;
    Record record{std::move(time), body.left(subNameEnd), {}, {}, false};
    const QString rest = body.mid(subNameEnd + quotedSeparator.size());
    if (rest.endsWith(u'"') && rest.size() >= 4) {
        const qsizetype messageEnd = rest.lastIndexOf(quotedSeparator, rest.size() - 4);
        if (messageEnd >= 0) {
            record.message = rest.left(messageEnd);
            record.anyOther = rest.mid(messageEnd + 3).chopped(1);
            record.anyOtherIsText = true;
            return record;
        }
    }
    const qsizetype messageEnd = rest.lastIndexOf(QLatin1StringView("\","));
    if (messageEnd < 0)
        return std::nullopt;
    record.message = rest.left(messageEnd);
    record.anyOther = rest.mid(messageEnd + 2);
    return record;
}

QString withoutLineEnd(const QString &text) {
    if (text.endsWith(QLatin1StringView("\r\n")))
        return text.chopped(2);
    return text.endsWith(u'\n') ? text.chopped(1) : text;
}

// Text before the first record (a file begun by hand, say) is skipped.
QList<Record> parseRecords(const QString &text) {
    QList<Record> records;
    QRegularExpressionMatch current;
    auto finish = [&](qsizetype end) {
        if (!current.hasMatch())
            return;
        const qsizetype bodyStart = current.capturedEnd();
        const std::optional<QDateTime> time = entryTime(current);
        std::optional<Record> record;
        if (time)
            record = parseFields(*time, withoutLineEnd(text.mid(bodyStart, end - bodyStart)));
        if (record)
            records.append(std::move(*record));
        else
            qCDebug(lcClient) << "not a log record:"
                              << text.mid(current.capturedStart(), end - current.capturedStart());
    };
    for (qsizetype line = 0; line < text.size();) {
        QRegularExpressionMatch match = recordStart().match(text, line, QRegularExpression::NormalMatch,
                                                            QRegularExpression::AnchorAtOffsetMatchOption);
        if (match.hasMatch()) {
            finish(line);
            current = std::move(match);
        }
        const qsizetype lineEnd = text.indexOf(u'\n', line);
        line = lineEnd < 0 ? text.size() : lineEnd + 1;
    }
    finish(text.size());
    return records;
}

// The component writes AnyOther as a text of CR LF after a reply, and as the error number and CR LF after
// an error; a client's own record under either name rarely matches that.
bool isLineEnd(const QString &text) {
    return text == QLatin1StringView("\r\n") || text == QLatin1StringView("\n");
}

bool isReplyRecord(const Record &record) {
    return record.subName == QLatin1StringView("Server Response") && record.anyOtherIsText &&
           isLineEnd(record.anyOther);
}

std::optional<qint32> errorNumberOf(const Record &record) {
    static const QRegularExpression number(QStringLiteral(R"re(\A(-?\d+)\r?\n\z)re"));
    if (record.subName != QLatin1StringView("Error") || !record.anyOtherIsText)
        return std::nullopt;
    const QRegularExpressionMatch match = number.match(record.anyOther);
    bool ok = false;
    const qint32 value = match.hasMatch() ? match.captured(1).toInt(&ok) : 0;
    return ok ? std::optional<qint32>(value) : std::nullopt;
}

// An action record's AnyOther is the empty text. A client's own record written without AnyOther has the
// same form and cannot be told apart: it is read as a posting that never got an outcome.
bool isActionRecord(const Record &record) {
    return record.anyOtherIsText && record.anyOther.isEmpty();
}

// Records name no process or object, so nothing ties an outcome to its action for certain. One server
// runs its calls one at a time: its outcome always follows its own action with no record of its own in
// between, and only other processes' records can come between the two. So an outcome goes to the most
// recent action still unanswered. That is exact for a log written by one server at a time, and for
// overlapping exchanges of several servers that nest; two overlapping exchanges that end in the order
// they began get each other's outcomes. Pairing with the oldest unanswered action instead would get that
// case right, but one action left without an outcome (a server that died mid-exchange, a client record
// that looks like an action) would then shift every later outcome by one posting; here it stays unknown
// and costs nothing else.
QList<LoggedPosting> pairPostings(const QList<Record> &records) {
    QuietWarningBox box;
    QList<LoggedPosting> postings;
    QList<qsizetype> unanswered;
    qsizetype repliedJustBefore = -1;
    for (const Record &record : records) {
        qsizetype replied = -1;
        if (isReplyRecord(record)) {
            if (!unanswered.isEmpty()) {
                replied = unanswered.takeLast();
                LoggedPosting &posting = postings[replied];
                posting.outcome = LoggedPosting::Outcome::Reply;
                posting.reply = record.message;
                posting.resultCode = resultCode(posting.action, posting.reply, box);
            }
        } else if (const std::optional<qint32> number = errorNumberOf(record)) {
            // Without a waiting action, an error right after a reply is the same exchange failing at its
            // very end (the status window): the component then answers "F".
            const qsizetype failed = unanswered.isEmpty() ? repliedJustBefore : unanswered.takeLast();
            if (failed >= 0) {
                LoggedPosting &posting = postings[failed];
                posting.outcome = LoggedPosting::Outcome::Error;
                posting.errorDescription = record.message;
                posting.errorNumber = *number;
                posting.resultCode = QStringLiteral("F");
            }
        } else if (isActionRecord(record)) {
            LoggedPosting posting;
            posting.time = record.time;
            posting.action = record.subName;
            posting.jobCode = record.message;
            postings.append(std::move(posting));
            unanswered.append(postings.size() - 1);
        }
        repliedJustBefore = replied;
    }
    return postings;
}

} // namespace

ActivityLog::ActivityLog(const QString &text)
    : m_postings(pairPostings(parseRecords(text))) {}

std::optional<ActivityLog> ActivityLog::fromFile(const QString &path, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return std::nullopt;
    }
    return ActivityLog(QString::fromUtf8(content));
}

} // namespace Orvex
