#include "journalreader.h"

#include "clientlogging.h"
#include "journalfields.h"
#include "linestream.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace Orvex {

namespace {

// The writer's lines are small: names, numbers and an error's description. A longer line is no journal
// line and is skipped rather than held.
constexpr qsizetype MaxLineBytes = 1024 * 1024;

struct CallKey {
    qint64 processId;
    QString objectPath;
    qint64 callSerial;
    bool operator==(const CallKey &) const = default;
};

size_t qHash(const CallKey &key, size_t seed = 0) {
    return qHashMulti(seed, key.processId, key.objectPath, key.callSerial);
}

QString text(const QJsonObject &object, const char *name) {
    return object.value(QLatin1StringView(name)).toString();
}

qint64 number(const QJsonObject &object, const char *name) {
    return object.value(QLatin1StringView(name)).toInteger();
}

void readCommon(const QJsonObject &line, JournalPosting *posting) {
    posting->processId = number(line, JournalField::ProcessId);
    posting->objectPath = text(line, JournalField::ObjectPath);
    posting->callSerial = number(line, JournalField::CallSerial);
    posting->action = text(line, JournalField::ActionWord);
    posting->jobCode = text(line, JournalField::JobCode);
}

void readEnd(const QJsonObject &line, JournalPosting *posting) {
    posting->ended = true;
    posting->resultCode = text(line, JournalField::ResultCode);
    posting->jobId = text(line, JournalField::JobId);
    posting->httpStatus = int(number(line, JournalField::HttpStatus));
    posting->errorNumber = qint32(number(line, JournalField::ErrorNumber));
    posting->errorDescription = text(line, JournalField::ErrorDescription);
    posting->replyBytes = number(line, JournalField::ReplyBytes);
    posting->durationMs = number(line, JournalField::DurationMs);
}

class Pairing {
public:
    void add(const QJsonObject &line) {
        const QString event = text(line, JournalField::Event);
        const bool isStart = event == QLatin1StringView(JournalField::EventStart);
        if (!isStart && event != QLatin1StringView(JournalField::EventEnd))
            return;
        const CallKey key{number(line, JournalField::ProcessId), text(line, JournalField::ObjectPath),
                          number(line, JournalField::CallSerial)};
        const auto open = m_open.constFind(key);
        if (isStart || open == m_open.constEnd()) {
            // An end line whose start was lost still tells a posting that happened.
            JournalPosting posting;
            posting.time = QDateTime::fromString(text(line, JournalField::Time), Qt::ISODateWithMs);
            readCommon(line, &posting);
            posting.started = isStart;
            if (!isStart)
                readEnd(line, &posting);
            m_postings.append(std::move(posting));
            if (isStart)
                m_open.insert(key, m_postings.size() - 1);
            return;
        }
        readEnd(line, &m_postings[*open]);
        m_open.erase(open);
    }

    QList<JournalPosting> take() { return std::move(m_postings); }

private:
    QList<JournalPosting> m_postings;
    QHash<CallKey, qsizetype> m_open;
};

} // namespace

JournalReader::ReadResult JournalReader::read(const QString &path, QList<JournalPosting> *postings,
                                              QString *error) {
    LineStream stream(MaxLineBytes);
    switch (stream.open(path, error)) {
    case LineStream::OpenResult::Missing:
        return ReadResult::Missing;
    case LineStream::OpenResult::Refused:
        return ReadResult::Refused;
    case LineStream::OpenResult::Opened:
        break;
    }
    Pairing pairing;
    QByteArray line;
    bool truncated = false;
    bool anyLine = false;
    while (stream.next(&line, &truncated)) {
        if (truncated || line.trimmed().isEmpty())
            continue;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        const bool isJournalLine =
            document.isObject() && document.object().value(QLatin1StringView(JournalField::Event)).isString();
        // The first line decides whether this is a journal at all; later bad lines are torn writes.
        if (!anyLine && !isJournalLine) {
            *error = QStringLiteral("it is not a posting journal");
            return ReadResult::Refused;
        }
        anyLine = true;
        if (isJournalLine)
            pairing.add(document.object());
        else
            qCDebug(lcClient) << "not a journal line:" << line.left(200);
    }
    if (!stream.error().isEmpty()) {
        *error = stream.error();
        return ReadResult::Refused;
    }
    *postings = pairing.take();
    return ReadResult::Read;
}

} // namespace Orvex
