#include "historysource.h"

#include "activitylogfile.h"
#include "files.h"
#include "journalreader.h"

namespace Orvex {

bool HistoryFilter::wants(const HistoryPosting &posting) const {
    if (!file.isEmpty() && datesGiven && (posting.time.date() < from || posting.time.date() > to))
        return false;
    if (jobCode && posting.jobCode != *jobCode)
        return false;
    return !result || posting.resultName() == *result;
}

HistorySource::HistorySource(QString folder, HistoryFilter filter)
    : m_folder(std::move(folder))
    , m_filter(std::move(filter)) {}

bool HistorySource::read(const Sink &sink, QString *problem) const {
    if (!m_filter.file.isEmpty())
        return readFile(m_filter.file, false, sink, problem);
    for (QDate day = m_filter.from; day <= m_filter.to; day = day.addDays(1)) {
        if (!readFile(Files::nativePath(journalFile(m_folder, day)), true, sink, problem))
            return false;
    }
    return true;
}

bool HistorySource::readFile(const QString &path, bool missingIsEmpty, const Sink &sink,
                             QString *problem) const {
    const QString dayJournal = journalFileOf(path);
    if (!path.endsWith(QLatin1StringView(".jsonl")) && !dayJournal.isEmpty()) {
        // The activity log cannot tell its own records from a reply written to look like one.
        *problem = QStringLiteral("%1 is no posting journal: an activity log holds no verifiable postings; "
                                  "give the day's journal, %2")
                       .arg(path, dayJournal);
        return false;
    }
    const std::function<void(JournalPosting &&)> each = [&](JournalPosting &&posting) {
        HistoryPosting shown = HistoryPosting::fromJournal(posting);
        if (m_filter.wants(shown))
            sink(std::move(shown));
    };
    QString error;
    switch (JournalReader::read(path, each, &error)) {
    case ReadResult::Read:
        return true;
    case ReadResult::Missing:
        if (missingIsEmpty)
            return true;
        error = QStringLiteral("no such file");
        break;
    case ReadResult::Refused:
        break;
    }
    *problem = QStringLiteral("cannot read %1: %2").arg(path, error);
    return false;
}

} // namespace Orvex
