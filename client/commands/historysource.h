#pragma once

#include "historytable.h"

#include <QDate>
#include <QString>

#include <functional>
#include <optional>

namespace Orvex {

class JournalStore;
struct JournalFilter;

// Which postings history lists.
struct HistoryFilter {
    QDate from;
    QDate to;
    bool datesGiven = false; // --date, --from or --to: also filters a file given with --log
    bool latest = false;     // --latest: the last posting of each job code on each board, of any day
    QString file;            // --log: this journal instead of the folder's
    std::optional<QString> jobCode;
    std::optional<QString> board;
    std::optional<QString> host;
    std::optional<QString> result; // "S", "F" or "unknown"

    // The same, as the journal's reader takes it.
    JournalFilter journalFilter() const;
};

// Where history gets its postings: the posting journal, the only record no board reply can forge. The
// one place that knows how the postings are stored, so that another store can take its place.
class HistorySource {
public:
    using Sink = std::function<void(HistoryPosting &&)>;

    // folder: where the journal lies; unused when the filter names a file or journal (Journal=, a
    // PostgreSQL URI) is not empty.
    HistorySource(QString folder, HistoryFilter filter, QString journal = QString());

    // Hands every wanted posting to sink in order. False, with the file and why in *problem, when the
    // journal cannot be read (sink may have had some postings by then).
    bool read(const Sink &sink, QString *problem) const;

private:
    bool openFolder(JournalStore &store, QString *problem) const;
    bool openFile(JournalStore &store, QString *problem) const;
    bool openShared(JournalStore &store, QString *problem) const;

    QString m_folder;
    HistoryFilter m_filter;
    QString m_journal;
};

// history's table: every wanted posting of source, read once, then printed to out; false with why (and
// nothing printed) when the journal cannot be read or the rows cannot be kept.
bool printHistoryTable(const HistorySource &source, QTextStream &out, QString *problem);

} // namespace Orvex
