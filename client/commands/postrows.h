#pragma once

#include "listing.h"
#include "postingoutcome.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTextStream>

namespace Orvex {

// One listing's row, kept until it is printed.
struct PostRow {
    enum class Kind { Succeeded, Failed, Unknown, Skipped, NotPosted };

    qsizetype number = 0;
    QString action;
    QString jobCode;
    Kind kind = Kind::NotPosted;
    PostingOutcome outcome;
    QString note; // the reason of an F, or why a listing was skipped or not posted
    QDateTime time;
    QString board;
};

// The rows of post as a table, or as JSON Lines under the journal's field names.
class PostRowPrinter {
public:
    // boardWidth: 0 for no board column, as for one board.
    PostRowPrinter(QTextStream &out, bool json, qsizetype jobCodeWidth, qsizetype boardWidth);

    void print(const PostRow &row);
    // The row's text, the table's header in front until a row has been printed.
    QString text(const PostRow &row) const { return header() + line(row); }
    // The table's header until a row has been printed; nothing for JSON Lines.
    QString header() const;
    // The row's own line.
    QString line(const PostRow &row) const;

private:
    QString boardColumn(const QString &text) const;

    QTextStream &m_out;
    bool m_json;
    qsizetype m_jobCodeWidth = 0;
    qsizetype m_boardWidth = 0; // 0: no board column
    bool m_headerDone = false;
};

} // namespace Orvex
