#pragma once

#include "historytable.h"

#include <QDate>
#include <QString>

#include <functional>
#include <optional>

namespace Orvex {

// Which postings history lists.
struct HistoryFilter {
    QDate from;
    QDate to;
    bool datesGiven = false; // --date, --from or --to: also filters a file given with --log
    QString file;            // --log: this journal instead of the days' journals
    std::optional<QString> jobCode;
    std::optional<QString> result; // "S", "F" or "unknown"

    bool wants(const HistoryPosting &posting) const;
};

// Where history gets its postings: the posting journal, the only record no board reply can forge. The
// one place that knows how the postings are stored, so that another store can take its place.
class HistorySource {
public:
    using Sink = std::function<void(HistoryPosting &&)>;

    // folder: where the days' journals lie; unused when the filter names a file.
    HistorySource(QString folder, HistoryFilter filter);

    // Hands every wanted posting to sink in order. False, with the file and why in *problem, when a file
    // cannot be read as a journal (sink may have had some postings by then).
    bool read(const Sink &sink, QString *problem) const;

private:
    bool readFile(const QString &path, bool missingIsEmpty, const Sink &sink, QString *problem) const;

    QString m_folder;
    HistoryFilter m_filter;
};

} // namespace Orvex
