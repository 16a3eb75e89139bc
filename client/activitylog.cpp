#include "activitylog.h"

#include "boardreply.h"
#include "clientlogging.h"
#include "linestream.h"
#include "logrecordnames.h"
#include "warningbox.h"

#include <QFile>
#include <QRegularExpression>
#include <deque>

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

// The component writes AnyOther as a text of CR LF after a reply, and as the error number and CR LF after
// an error; a client's own record under either name rarely matches that.
bool isLineEnd(const QString &text) {
    return text == QLatin1StringView("\r\n") || text == QLatin1StringView("\n");
}

bool isReplyRecord(const Record &record) {
    return record.subName == QStringView(LogRecordName::ServerResponse) && record.anyOtherIsText &&
           isLineEnd(record.anyOther);
}

std::optional<qint32> errorNumberOf(const Record &record) {
    static const QRegularExpression number(QStringLiteral(R"re(\A(-?\d+)\r?\n\z)re"));
    if (record.subName != QStringView(LogRecordName::Error) || !record.anyOtherIsText)
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
class Pairing {
public:
    explicit Pairing(const std::function<void(LoggedPosting &&)> &each)
        : m_each(each) {}

    void add(const Record &record) {
        qsizetype replied = -1;
        if (isReplyRecord(record)) {
            if (!m_unanswered.isEmpty()) {
                replied = m_unanswered.takeLast();
                LoggedPosting &posting = at(replied);
                posting.outcome = LoggedPosting::Outcome::Reply;
                posting.resultCode = resultCode(posting.action, record.message, m_box);
                posting.reply = record.message.left(MaxKeptReplyChars);
            }
        } else if (const std::optional<qint32> number = errorNumberOf(record)) {
            // Without a waiting action, an error right after a reply is the same exchange failing at its
            // very end (the status window): the component then answers "F".
            const qsizetype failed = m_unanswered.isEmpty() ? m_repliedJustBefore : m_unanswered.takeLast();
            if (failed >= 0) {
                LoggedPosting &posting = at(failed);
                posting.outcome = LoggedPosting::Outcome::Error;
                posting.errorDescription = record.message.left(MaxKeptReplyChars);
                posting.errorNumber = *number;
                posting.resultCode = QStringLiteral("F");
            }
        } else if (isActionRecord(record)) {
            LoggedPosting posting;
            posting.time = record.time;
            posting.action = record.subName.left(MaxKeptReplyChars);
            posting.jobCode = record.message.left(MaxKeptReplyChars);
            m_pending.push_back(std::move(posting));
            m_unanswered.append(m_first + qsizetype(m_pending.size()) - 1);
        }
        m_repliedJustBefore = replied;
        passOnSettled(false);
    }

    void finish() { passOnSettled(true); }

private:
    // Enough of a reply to read in a table; the job id is taken from the whole reply first.
    static constexpr qsizetype MaxKeptReplyChars = 4096;
    // Postings held back while an earlier one waits for its outcome. A posting further back than this
    // many is passed on as it stands (unknown, unless answered), so that memory stays bounded however
    // many actions a log leaves unanswered.
    static constexpr std::size_t MaxPending = 10'000;

    LoggedPosting &at(qsizetype index) { return m_pending[std::size_t(index - m_first)]; }

    // In order: the oldest posting goes once it has its outcome and the next record can no longer
    // change it (an error right after its reply).
    void passOnSettled(bool all) {
        while (!m_pending.empty()) {
            const bool waiting = !m_unanswered.isEmpty() && m_unanswered.constFirst() == m_first;
            const bool mayChange = m_repliedJustBefore == m_first;
            if (!all && (waiting || mayChange) && m_pending.size() <= MaxPending)
                return;
            if (waiting)
                m_unanswered.removeFirst();
            if (mayChange)
                m_repliedJustBefore = -1;
            m_each(std::move(m_pending.front()));
            m_pending.pop_front();
            ++m_first;
        }
    }

    const std::function<void(LoggedPosting &&)> &m_each;
    QuietWarningBox m_box;
    std::deque<LoggedPosting> m_pending;
    qsizetype m_first = 0;         // the index of m_pending.front() among all postings
    QList<qsizetype> m_unanswered; // ascending
    qsizetype m_repliedJustBefore = -1;
};

// Records are known by how they begin, so lines are gathered until the next record starts. Text before
// the first record (a file begun by hand, say) is skipped.
class RecordReader {
public:
    explicit RecordReader(Pairing &pairing)
        : m_pairing(pairing) {}

    void addLine(const QString &line) {
        QRegularExpressionMatch match = recordStart().match(line, 0, QRegularExpression::NormalMatch,
                                                            QRegularExpression::AnchorAtOffsetMatchOption);
        if (match.hasMatch()) {
            finish();
            m_time = entryTime(match);
            m_body = line.mid(match.capturedEnd());
            m_inRecord = true;
            m_tooLong = false;
            ++m_records;
        } else if (m_inRecord && !m_tooLong) {
            if (m_body.size() + line.size() > MaxRecordChars) {
                m_tooLong = true;
                m_body.clear();
            } else {
                m_body += line;
            }
        }
    }

    void finish() {
        if (!m_inRecord)
            return;
        m_inRecord = false;
        std::optional<Record> record;
        if (m_time && !m_tooLong)
            record = parseFields(*m_time, withoutLineEnd(m_body));
        if (record)
            m_pairing.add(*record);
        else
            qCDebug(lcClient) << "not a log record:" << m_body.left(200);
        m_body.clear();
    }

    qsizetype records() const { return m_records; }

private:
    // Beyond any record the component writes: a reply is capped well below this. A longer one is skipped
    // rather than held, so memory stays bounded.
    static constexpr qsizetype MaxRecordChars = 32 * 1024 * 1024;

    Pairing &m_pairing;
    std::optional<QDateTime> m_time;
    QString m_body;
    bool m_inRecord = false;
    bool m_tooLong = false;
    qsizetype m_records = 0;
};

// A line of the log is at most a record.
constexpr qsizetype MaxLineBytes = 32 * 1024 * 1024;
// A log begins with a record; a little text written by hand before it is allowed for.
constexpr qint64 MaxBytesBeforeFirstRecord = 64 * 1024;

} // namespace

ActivityLog::ActivityLog(const QString &text) {
    const std::function<void(LoggedPosting &&)> keep = [this](LoggedPosting &&posting) {
        m_postings.append(std::move(posting));
    };
    Pairing pairing(keep);
    RecordReader reader(pairing);
    for (qsizetype start = 0; start < text.size();) {
        const qsizetype lineEnd = text.indexOf(u'\n', start);
        const qsizetype end = lineEnd < 0 ? text.size() : lineEnd + 1;
        reader.addLine(text.mid(start, end - start));
        start = end;
    }
    reader.finish();
    pairing.finish();
}

ActivityLog::ReadResult ActivityLog::read(const QString &path,
                                          const std::function<void(LoggedPosting &&)> &each, QString *error) {
    LineStream stream(MaxLineBytes);
    if (const ReadResult opened = stream.open(path, error); opened != ReadResult::Read)
        return opened;
    Pairing pairing(each);
    RecordReader reader(pairing);
    QByteArray line;
    bool truncated = false;
    qint64 bytesRead = 0;
    while (stream.next(&line, &truncated)) {
        // The component writes text: a NUL byte, or no record where one must have begun, is another file.
        if (line.contains('\0') || (reader.records() == 0 && bytesRead > MaxBytesBeforeFirstRecord)) {
            *error = QStringLiteral("it is not an activity log");
            return ReadResult::Refused;
        }
        bytesRead += line.size();
        reader.addLine(QString::fromUtf8(line));
    }
    if (!stream.error().isEmpty()) {
        *error = stream.error();
        return ReadResult::Refused;
    }
    if (reader.records() == 0 && bytesRead > 0) {
        *error = QStringLiteral("it is not an activity log");
        return ReadResult::Refused;
    }
    reader.finish();
    pairing.finish();
    return ReadResult::Read;
}

} // namespace Orvex
