#include "journalreader.h"

#include "journalfields.h"
#include "journallogging.h"
#include "linestream.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <deque>

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
    posting->deliveryClass = text(line, JournalField::DeliveryClass);
}

// A server runs its calls one at a time, so a start line of its process ends every earlier call of that
// process still open: that one got no end line and never will (its server died mid-exchange).
class Pairing {
public:
    explicit Pairing(const std::function<void(JournalPosting &&)> &each)
        : m_each(each) {}

    void add(const QJsonObject &line) {
        const QString event = text(line, JournalField::Event);
        const bool isStart = event == QLatin1StringView(JournalField::EventStart);
        if (!isStart && event != QLatin1StringView(JournalField::EventEnd))
            return;
        const CallKey key{number(line, JournalField::ProcessId), text(line, JournalField::ObjectPath),
                          number(line, JournalField::CallSerial)};
        if (isStart)
            closeCallsOf(key.processId);
        const auto open = m_open.constFind(key);
        if (isStart || open == m_open.constEnd()) {
            // An end line whose start was lost still tells a posting that happened.
            JournalPosting posting;
            posting.time = QDateTime::fromString(text(line, JournalField::Time), Qt::ISODateWithMs);
            readCommon(line, &posting);
            posting.started = isStart;
            if (!isStart)
                readEnd(line, &posting);
            m_pending.push_back(std::move(posting));
            if (isStart)
                m_open.insert(key, m_first + qsizetype(m_pending.size()) - 1);
        } else {
            readEnd(line, &at(*open));
            m_open.erase(open);
        }
        passOnSettled(false);
    }

    void finish() {
        m_open.clear();
        passOnSettled(true);
    }

private:
    // Postings held back while an earlier one is open; beyond this many the oldest goes as it stands.
    static constexpr std::size_t MaxPending = 10'000;

    JournalPosting &at(qsizetype index) { return m_pending[std::size_t(index - m_first)]; }

    void closeCallsOf(qint64 processId) {
        m_open.removeIf([processId](const auto &entry) { return entry.key().processId == processId; });
    }

    bool isOpen(qsizetype index) const {
        for (const qsizetype open : m_open) {
            if (open == index)
                return true;
        }
        return false;
    }

    void passOnSettled(bool all) {
        while (!m_pending.empty()) {
            if (!all && isOpen(m_first) && m_pending.size() <= MaxPending)
                return;
            m_open.removeIf([this](const auto &entry) { return entry.value() == m_first; });
            m_each(std::move(m_pending.front()));
            m_pending.pop_front();
            ++m_first;
        }
    }

    const std::function<void(JournalPosting &&)> &m_each;
    std::deque<JournalPosting> m_pending;
    qsizetype m_first = 0; // the index of m_pending.front() among all postings
    QHash<CallKey, qsizetype> m_open;
};

} // namespace

JournalReader::ReadResult
JournalReader::read(const QString &path, const std::function<void(JournalPosting &&)> &each, QString *error) {
    LineStream stream(MaxLineBytes);
    if (const ReadResult opened = stream.open(path, error); opened != ReadResult::Read)
        return opened;
    Pairing pairing(each);
    QByteArray line;
    bool truncated = false;
    bool anyLine = false;
    while (stream.next(&line, &truncated)) {
        if (line.trimmed().isEmpty())
            continue;
        if (truncated) {
            // No line of the writer's is this long: another file, or a line torn into the next one.
            if (!anyLine) {
                *error = QStringLiteral("it is not a posting journal");
                return ReadResult::Refused;
            }
            continue;
        }
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
            qCDebug(lcJournal) << "not a journal line:" << line.left(200);
    }
    if (!stream.error().isEmpty()) {
        *error = stream.error();
        return ReadResult::Refused;
    }
    pairing.finish();
    return ReadResult::Read;
}

} // namespace Orvex
