#include "historytable.h"

#include "journalfields.h"
#include "journaltime.h"
#include "printabletext.h"
#include "urltext.h"

#include <QFileDevice>

#include <algorithm>
#include <array>

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
    ResultColumn,
    ColumnCount
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
constexpr qsizetype PrintChunkBytes = 64 * 1024;

// The width of UTF-8 text as QString counts it, which the columns were measured in.
qsizetype utf16Length(QByteArrayView utf8) {
    qsizetype length = 0;
    for (const char byte : utf8) {
        const auto code = uchar(byte);
        // A lead byte or ASCII starts a character; four bytes make a surrogate pair.
        length += (code & 0xC0) != 0x80 ? 1 : 0;
        length += code >= 0xF0 ? 1 : 0;
    }
    return length;
}

using Cells = std::array<QString, ColumnCount>;

Cells cellsOf(const HistoryPosting &posting) {
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
    const Cells cells = cellsOf(posting);
    qsizetype most = ColumnCount;
    for (qsizetype column = 0; column < ColumnCount; ++column) {
        m_widths[column] = std::max(m_widths.at(column), cells[column].size());
        most += m_encoder.requiredSpace(cells[column].size());
    }
    const QString &host = cells[HostColumn];
    if (!m_firstHost)
        m_firstHost = host;
    else if (host != *m_firstHost)
        m_showHost = true;
    m_anyRow = true;
    // Encoded straight into one buffer kept from row to row: a long history is many rows.
    m_row.resize(most);
    char *end = m_row.data();
    for (qsizetype column = 0; column < ColumnCount; ++column) {
        if (column > 0)
            *end++ = CellSeparator;
        end = m_encoder.appendToBuffer(end, cells[column]);
    }
    return m_rows.append(QByteArrayView(m_row.constData(), end - m_row.constData()), why);
}

bool HistoryTable::print(QTextStream &out, QString *why) {
    if (!m_anyRow)
        return true;
    // The rows are UTF-8 already: they go out as they are, in large writes, behind what out holds.
    out.flush();
    m_lineWidth = 1;
    for (const qsizetype width : std::as_const(m_widths))
        m_lineWidth += width + 2;
    QByteArray text;
    text.reserve(PrintChunkBytes + m_lineWidth);
    const auto pass = [&out, &text](bool last) {
        if (!last && text.size() < PrintChunkBytes)
            return;
        if (QIODevice *device = out.device())
            device->write(text);
        else
            out << QString::fromUtf8(text);
        text.resize(0);
    };
    const QStringList header = headerCells();
    printRow(text, header.join(QLatin1Char(CellSeparator)).toUtf8());
    const bool printed = m_rows.replay(
        [&](QByteArrayView row) {
            printRow(text, row);
            pass(false);
        },
        why);
    pass(true);
    // What went to the device directly is not in out's buffer, whose flush would pass the file by.
    if (auto *file = qobject_cast<QFileDevice *>(out.device()))
        file->flush();
    return printed;
}

void HistoryTable::printRow(QByteArray &text, QByteArrayView row) const {
    // Written in place: no cell is wider than its column, so the row takes at most this much.
    const qsizetype start = text.size();
    text.resize(start + row.size() + m_lineWidth);
    char *out = text.data() + start;
    qsizetype from = 0;
    for (qsizetype column = 0; column < ColumnCount && from <= row.size(); ++column) {
        qsizetype end = row.indexOf(CellSeparator, from);
        if (end < 0)
            end = row.size();
        const QByteArrayView cell = row.sliced(from, end - from);
        from = end + 1;
        if (column == HostColumn && !m_showHost)
            continue;
        if (column > 0)
            out = std::fill_n(out, 2, ' ');
        out = std::copy(cell.begin(), cell.end(), out);
        if (column + 1 < ColumnCount)
            out = std::fill_n(out, std::max<qsizetype>(0, m_widths.at(column) - utf16Length(cell)), ' ');
    }
    *out++ = '\n';
    text.resize(out - text.constData());
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
