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
};

// The rows of post as a table, or as JSON Lines under the journal's field names.
class PostRowPrinter {
public:
    PostRowPrinter(QTextStream &out, bool json, const QList<Listing> &listings);

    void print(const PostRow &row);
    // The row's text, the table's header in front until a row has been printed.
    QString text(const PostRow &row) const;

private:
    QTextStream &m_out;
    bool m_json;
    qsizetype m_jobCodeWidth = 0;
    bool m_headerDone = false;
};

} // namespace Orvex
