#pragma once

#include "journalreader.h"
#include "rowspool.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringEncoder>
#include <QTextStream>

#include <optional>

namespace Orvex {

// One posting as history shows it, read from the posting journal.
struct HistoryPosting {
    enum class Result { Succeeded, Failed, Unknown };

    QDateTime time; // with the offset it was written with
    QString board;
    QString host;
    QString action;
    QString jobCode;
    Result result = Result::Unknown;
    QString resultCode; // "S" + job id, or "F"; empty while Unknown
    QString jobId;
    int httpStatus = 0;
    qint32 errorNumber = 0;
    QString errorDescription;
    QString deliveryClass; // empty for a posting journaled before the classes

    static HistoryPosting fromJournal(const JournalPosting &posting);
    // The result's name as --result takes it: "S", "F" or "unknown".
    QString resultName() const;
};

// Why a posting got "F", for people: the HTTP status when it was not 200, the error's description and
// number, or the board's refusal (its reply when known). Empty when nothing tells why.
QString failureReason(int httpStatus, qint32 errorNumber, const QString &errorDescription,
                      const QString &reply = QString());

// Date, time, board, action, job code and result, every text from a board or log made printable; the host
// after the time when the postings come from more than one machine. The postings are read once: each row's
// cells are kept (RowSpool) until every column's width is known.
class HistoryTable {
public:
    HistoryTable();
    // Measures posting and keeps its cells for print(); false, with why, when they cannot be kept.
    bool add(const HistoryPosting &posting, QString *why);
    // The header and every row added, in order; nothing when no row was added.
    bool print(QTextStream &out, QString *why);

private:
    // One kept row, its columns padded, appended to text.
    void printRow(QByteArray &text, QByteArrayView row) const;

    QList<qsizetype> m_widths; // of every column, the host's included
    qsizetype m_lineWidth = 0; // the padding and the line end a printed row may add to its cells
    RowSpool m_rows;
    // Stateless: each cell is whole text, which carries nothing into the next.
    QStringEncoder m_encoder{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    QByteArray m_row;
    bool m_anyRow = false;
    std::optional<QString> m_firstHost;
    // Shown once the postings come from more than one machine.
    bool m_showHost = false;
};

// One posting under the journal's field names, every text made printable.
QJsonObject historyObject(const HistoryPosting &posting);

} // namespace Orvex
