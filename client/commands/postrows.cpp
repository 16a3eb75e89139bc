#include "postrows.h"

#include "journalfields.h"
#include "journaltime.h"
#include "printabletext.h"
#include "urltext.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Orvex {

namespace {

const QString ListingHeader = QStringLiteral("Listing");
const QString JobCodeHeader = QStringLiteral("JobCode");
const QString BoardHeader = QStringLiteral("Board");

using Kind = PostRow::Kind;

QString result(const PostRow &row) {
    switch (row.kind) {
    case Kind::Succeeded:
        return row.outcome.resultCode;
    case Kind::Failed:
        return row.note.isEmpty() ? QStringLiteral("F") : QStringLiteral("F ") + row.note;
    case Kind::Unknown:
        // The board may hold it: the journal will tell once the board's reply or its absence is known.
        return QStringLiteral("unknown: the board may have it; check with orvex-postjob history --job ") +
               (row.jobCode.isEmpty() ? QStringLiteral("CODE") : row.jobCode);
    case Kind::Skipped:
        return QStringLiteral("skipped (") + row.note + u')';
    case Kind::NotPosted:
        break;
    }
    return row.note.isEmpty() ? QStringLiteral("(not posted)")
                              : QStringLiteral("(not posted: ") + row.note + u')';
}

void insertOutcome(QJsonObject &object, const PostRow &row) {
    object.insert(QLatin1StringView(JournalField::ResultCode), printableJsonText(row.outcome.resultCode));
    object.insert(QLatin1StringView(JournalField::HttpStatus), row.outcome.httpStatus);
    object.insert(QLatin1StringView(JournalField::ErrorNumber), row.outcome.errorNumber);
    object.insert(QLatin1StringView(JournalField::ErrorDescription),
                  printableJsonText(withoutUserInfo(row.outcome.errorDescription)));
    if (row.kind == Kind::Succeeded)
        object.insert(QLatin1StringView(JournalField::JobId),
                      printableJsonText(row.outcome.resultCode.mid(1)));
    else if (!row.note.isEmpty())
        object.insert(QStringLiteral("reason"), printableJsonText(row.note));
}

// A row without an outcome: its word, and why when known.
void insertState(QJsonObject &object, const QString &word, const QString &note) {
    object.insert(QLatin1StringView(JournalField::ResultCode), word);
    if (!note.isEmpty())
        object.insert(QStringLiteral("reason"), printableJsonText(note));
}

QJsonObject objectOf(const PostRow &row) {
    QJsonObject object{{QStringLiteral("listing"), row.number},
                       {QLatin1StringView(JournalField::Board), printableJsonText(row.board)},
                       {QLatin1StringView(JournalField::ActionWord), printableJsonText(row.action)},
                       {QLatin1StringView(JournalField::JobCode), printableJsonText(row.jobCode)}};
    if (row.time.isValid())
        object.insert(QLatin1StringView(JournalField::Time), JournalTime::of(row.time).isoText());
    switch (row.kind) {
    case Kind::Succeeded:
    case Kind::Failed:
        insertOutcome(object, row);
        object.insert(QLatin1StringView(JournalField::DeliveryClass),
                      deliveryClassName(row.outcome.deliveryClass));
        break;
    case Kind::Unknown:
        insertState(object, QStringLiteral("unknown"), QString());
        object.insert(QLatin1StringView(JournalField::DeliveryClass),
                      deliveryClassName(DeliveryClass::Unknown));
        break;
    case Kind::Skipped:
        object.insert(QLatin1StringView(JournalField::ResultCode), QStringLiteral("skipped"));
        object.insert(QStringLiteral("reason"), printableJsonText(row.note));
        break;
    case Kind::NotPosted:
        insertState(object, QStringLiteral("not posted"), row.note);
        break;
    }
    return object;
}

} // namespace

PostRowPrinter::PostRowPrinter(QTextStream &out, bool json, qsizetype jobCodeWidth, qsizetype boardWidth)
    : m_out(out)
    , m_json(json)
    , m_jobCodeWidth(std::max(jobCodeWidth, JobCodeHeader.size()))
    , m_boardWidth(boardWidth > 0 ? std::max(boardWidth, BoardHeader.size()) : 0) {}

void PostRowPrinter::print(const PostRow &row) {
    m_out << text(row);
    m_out.flush();
    m_headerDone = true;
}

QString PostRowPrinter::header() const {
    if (m_json || m_headerDone)
        return QString();
    return ListingHeader + QStringLiteral("  ") + JobCodeHeader.leftJustified(m_jobCodeWidth) +
           QStringLiteral("  ") + boardColumn(BoardHeader) + QStringLiteral("Result\n");
}

QString PostRowPrinter::line(const PostRow &row) const {
    if (m_json)
        return QString::fromUtf8(QJsonDocument(objectOf(row)).toJson(QJsonDocument::Compact)) + u'\n';
    return QString::number(row.number).rightJustified(ListingHeader.size()) + QStringLiteral("  ") +
           printableText(row.jobCode).leftJustified(m_jobCodeWidth) + QStringLiteral("  ") +
           boardColumn(printableText(row.board)) + printableText(result(row)) + u'\n';
}

QString PostRowPrinter::boardColumn(const QString &text) const {
    return m_boardWidth > 0 ? text.leftJustified(m_boardWidth) + QStringLiteral("  ") : QString();
}

} // namespace Orvex
