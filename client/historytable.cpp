#include "historytable.h"

#include "journalfields.h"
#include "journaltime.h"
#include "printabletext.h"
#include "urltext.h"

namespace Orvex {

namespace {

QString resultText(const HistoryPosting &posting) {
    switch (posting.result) {
    case HistoryPosting::Result::Unknown:
        return QStringLiteral("unknown");
    case HistoryPosting::Result::Succeeded:
        return posting.resultCode;
    case HistoryPosting::Result::Failed:
        break;
    }
    const QString reason = failureReason(posting.httpStatus, posting.errorNumber, posting.errorDescription);
    return reason.isEmpty() ? QStringLiteral("F") : QStringLiteral("F ") + reason;
}

} // namespace

HistoryPosting HistoryPosting::fromJournal(const JournalPosting &posting) {
    HistoryPosting shown;
    shown.time = posting.time;
    shown.board = posting.board;
    shown.host = posting.host;
    shown.action = posting.action;
    shown.jobCode = posting.jobCode;
    if (!posting.ended)
        return shown;
    shown.result = posting.resultCode.startsWith(u'S') ? Result::Succeeded : Result::Failed;
    shown.resultCode = posting.resultCode;
    shown.jobId = posting.jobId;
    shown.httpStatus = posting.httpStatus;
    shown.errorNumber = posting.errorNumber;
    shown.errorDescription = posting.errorDescription;
    shown.deliveryClass = posting.deliveryClass;
    return shown;
}

QString HistoryPosting::resultName() const {
    switch (result) {
    case Result::Succeeded:
        return QStringLiteral("S");
    case Result::Failed:
        return QStringLiteral("F");
    case Result::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString failureReason(int httpStatus, qint32 errorNumber, const QString &errorDescription,
                      const QString &reply) {
    if (errorNumber != 0)
        return QStringLiteral("%1 (%2)").arg(withoutUserInfo(errorDescription), QString::number(errorNumber));
    if (httpStatus != 0 && httpStatus != 200)
        return QStringLiteral("HTTP status %1").arg(httpStatus);
    if (!reply.isEmpty())
        return QStringLiteral("the board refused it: ") + withoutUserInfo(reply);
    return httpStatus == 200 ? QStringLiteral("the board refused it") : QString();
}

namespace {

// The columns as kept: the host's is printed only when the postings come from more than one machine.
enum Column : qsizetype {
    DateColumn,
    TimeColumn,
    HostColumn,
    BoardColumn,
    ActionColumn,
    JobColumn,
    ResultColumn
};

QStringList headerCells() {
    return {QStringLiteral("Date"),  QStringLiteral("Time"),   QStringLiteral("Host"),
            QStringLiteral("Board"), QStringLiteral("Action"), QStringLiteral("JobCode"),
            QStringLiteral("Result")};
}

constexpr qsizetype DateWidth = 10; // yyyy-MM-dd
constexpr qsizetype ClockWidth = 8; // HH:mm:ss
// Between the cells of a kept row; printable text holds no control character.
constexpr char CellSeparator = '\x1f';

QStringList cellsOf(const HistoryPosting &posting) {
    const JournalTime time = JournalTime::of(posting.time);
    return {time.dateText(),
            time.clockText(),
            printableText(posting.host),
            printableText(posting.board),
            printableText(posting.action),
            printableText(posting.jobCode),
            printableText(resultText(posting))};
}

} // namespace

HistoryTable::HistoryTable() {
    for (const QString &cell : headerCells())
        m_widths.append(cell.size());
    m_widths[DateColumn] = std::max(m_widths.at(DateColumn), DateWidth);
    m_widths[TimeColumn] = std::max(m_widths.at(TimeColumn), ClockWidth);
}

bool HistoryTable::add(const HistoryPosting &posting, QString *why) {
    const QStringList cells = cellsOf(posting);
    for (qsizetype column = 0; column < cells.size(); ++column)
        m_widths[column] = std::max(m_widths.at(column), cells.at(column).size());
    const QString &host = cells.at(HostColumn);
    if (!m_firstHost)
        m_firstHost = host;
    else if (host != *m_firstHost)
        m_showHost = true;
    m_anyRow = true;
    return m_rows.append(cells.join(QLatin1Char(CellSeparator)).toUtf8(), why);
}

bool HistoryTable::print(QTextStream &out, QString *why) {
    if (!m_anyRow)
        return true;
    QString line;
    const QStringList header = headerCells();
    printCells(line, QList<QStringView>(header.cbegin(), header.cend()));
    out << line;
    QList<QStringView> cells;
    QString row;
    const bool printed = m_rows.replay(
        [&](QByteArrayView bytes) {
            row = QString::fromUtf8(bytes);
            cells.clear();
            for (const QStringView cell : QStringView(row).tokenize(QLatin1Char(CellSeparator)))
                cells.append(cell);
            printCells(line, cells);
            out << line;
        },
        why);
    out.flush();
    return printed;
}

void HistoryTable::printCells(QString &line, const QList<QStringView> &cells) const {
    line.clear();
    for (qsizetype column = 0; column < cells.size(); ++column) {
        if (column == HostColumn && !m_showHost)
            continue;
        const QStringView cell = cells.at(column);
        line += cell;
        if (column + 1 == cells.size())
            break;
        line.resize(line.size() + m_widths.at(column) - cell.size() + 2, u' ');
    }
    line += u'\n';
}

QJsonObject historyObject(const HistoryPosting &posting) {
    QJsonObject object{{QLatin1StringView(JournalField::Time), JournalTime::of(posting.time).isoText()},
                       {QLatin1StringView(JournalField::Board), printableJsonText(posting.board)},
                       {QLatin1StringView(JournalField::Host), printableJsonText(posting.host)},
                       {QLatin1StringView(JournalField::ActionWord), printableJsonText(posting.action)},
                       {QLatin1StringView(JournalField::JobCode), printableJsonText(posting.jobCode)}};
    if (posting.result == HistoryPosting::Result::Unknown) {
        object.insert(QLatin1StringView(JournalField::ResultCode), QStringLiteral("unknown"));
        return object;
    }
    object.insert(QLatin1StringView(JournalField::ResultCode), printableJsonText(posting.resultCode));
    if (!posting.deliveryClass.isEmpty())
        object.insert(QLatin1StringView(JournalField::DeliveryClass),
                      printableJsonText(posting.deliveryClass));
    if (posting.result == HistoryPosting::Result::Succeeded)
        object.insert(QLatin1StringView(JournalField::JobId), printableJsonText(posting.jobId));
    if (posting.httpStatus != 0)
        object.insert(QLatin1StringView(JournalField::HttpStatus), posting.httpStatus);
    if (posting.errorNumber != 0) {
        object.insert(QLatin1StringView(JournalField::ErrorNumber), posting.errorNumber);
        object.insert(QLatin1StringView(JournalField::ErrorDescription),
                      printableJsonText(withoutUserInfo(posting.errorDescription)));
    }
    return object;
}

} // namespace Orvex
