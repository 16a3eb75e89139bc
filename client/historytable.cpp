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

QStringList headerCells() {
    return {QStringLiteral("Date"),   QStringLiteral("Time"),    QStringLiteral("Board"),
            QStringLiteral("Action"), QStringLiteral("JobCode"), QStringLiteral("Result")};
}

// Every column but the date and the time, whose widths never change.
constexpr qsizetype TimeColumns = 2;
constexpr qsizetype DateWidth = 10; // yyyy-MM-dd
constexpr qsizetype ClockWidth = 8; // HH:mm:ss

QStringList textCells(const HistoryPosting &posting) {
    return {printableText(posting.board), printableText(posting.action), printableText(posting.jobCode),
            printableText(resultText(posting))};
}

} // namespace

HistoryTable::HistoryTable() {
    for (const QString &cell : headerCells())
        m_widths.append(cell.size());
    m_widths[0] = std::max(m_widths.at(0), DateWidth);
    m_widths[1] = std::max(m_widths.at(1), ClockWidth);
}

// Measuring costs no time formatting: a long history is read twice.
void HistoryTable::measure(const HistoryPosting &posting) {
    const QStringList cells = textCells(posting);
    for (qsizetype column = 0; column < cells.size(); ++column)
        m_widths[TimeColumns + column] = std::max(m_widths.at(TimeColumns + column), cells.at(column).size());
    const QString host = printableText(posting.host);
    m_hostWidth = std::max(m_hostWidth, host.size());
    if (!m_firstHost)
        m_firstHost = host;
    else if (host != *m_firstHost)
        m_showHost = true;
}

void HistoryTable::print(QTextStream &out, const HistoryPosting &posting) {
    if (!m_headerPrinted) {
        printCells(out, header());
        m_headerPrinted = true;
    }
    printCells(out, cellsOf(posting));
}

QStringList HistoryTable::header() const {
    QStringList cells = headerCells();
    if (m_showHost)
        cells.insert(TimeColumns, QStringLiteral("Host"));
    return cells;
}

QStringList HistoryTable::cellsOf(const HistoryPosting &posting) const {
    const JournalTime time = JournalTime::of(posting.time);
    QStringList cells = QStringList{time.dateText(), time.clockText()} + textCells(posting);
    if (m_showHost)
        cells.insert(TimeColumns, printableText(posting.host));
    return cells;
}

void HistoryTable::printCells(QTextStream &out, const QStringList &cells) const {
    out.setFieldAlignment(QTextStream::AlignLeft);
    for (qsizetype column = 0; column + 1 < cells.size(); ++column) {
        // The host column, when shown, stands after the time and moves the others on by one.
        const bool hostColumn = m_showHost && column == TimeColumns;
        const qsizetype measured = m_showHost && column > TimeColumns ? column - 1 : column;
        out.setFieldWidth(int(hostColumn ? std::max<qsizetype>(m_hostWidth, 4) : m_widths.at(measured)));
        out << cells.at(column);
        out.setFieldWidth(0);
        out << "  ";
    }
    out << cells.last() << '\n';
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
