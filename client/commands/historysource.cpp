#include "historysource.h"

#include "activitylogfile.h"
#include "journaldayname.h"
#include "journalstore.h"
#include "postgresdatabase.h"

#include <QDir>
#include <QFileInfo>

namespace Orvex {

namespace {

JournalFilter::Result resultOf(const std::optional<QString> &name) {
    if (!name)
        return JournalFilter::Result::Any;
    if (*name == u"S")
        return JournalFilter::Result::Succeeded;
    return *name == u"F" ? JournalFilter::Result::Failed : JournalFilter::Result::Unknown;
}

// Journals of the days before the database: the first store opened for writing imports them.
bool holdsJsonLinesDays(const QString &folder) {
    return !QDir(folder).entryList({JournalDayName::Pattern}, QDir::Files).isEmpty();
}

} // namespace

JournalFilter HistoryFilter::journalFilter() const {
    JournalFilter filter;
    // A file given alone is listed whole; the folder's journal, a day at a time (today when none given).
    // The days are local days of this machine; each row's own offset shows its time.
    if (file.isEmpty() || datesGiven) {
        filter.from = QDateTime(from, QTime(0, 0));
        filter.to = QDateTime(to.addDays(1), QTime(0, 0));
    }
    filter.jobCode = jobCode.value_or(QString());
    filter.board = board.value_or(QString());
    filter.host = host.value_or(QString());
    filter.result = resultOf(result);
    return filter;
}

HistorySource::HistorySource(QString folder, HistoryFilter filter, QString journal)
    : m_folder(std::move(folder))
    , m_filter(std::move(filter))
    , m_journal(std::move(journal)) {}

bool HistorySource::read(const Sink &sink, QString *problem) const {
    JournalStore store;
    const bool opened = !m_filter.file.isEmpty() ? openFile(store, problem)
                        : m_journal.isEmpty()    ? openFolder(store, problem)
                                                 : openShared(store, problem);
    if (!opened)
        return false;
    if (!store.isOpen())
        return true;
    const auto each = [&sink](JournalPosting &&posting) {
        sink(HistoryPosting::fromJournal(posting));
        return true;
    };
    QString why;
    const JournalFilter filter = m_filter.journalFilter();
    if (m_filter.latest ? store.readLatest(filter, each, &why) : store.read(filter, each, &why))
        return true;
    *problem = QStringLiteral("cannot read %1: %2").arg(store.path(), why);
    return false;
}

bool printHistoryTable(const HistorySource &source, QTextStream &out, QString *problem) {
    HistoryTable table;
    bool kept = true;
    const bool read = source.read(
        [&](HistoryPosting &&posting) {
            if (kept)
                kept = table.add(posting, problem);
        },
        problem);
    return read && kept && table.print(out, problem);
}

bool HistorySource::openFolder(JournalStore &store, QString *problem) const {
    const QString path = m_folder + u'/' + QLatin1StringView(JournalStore::FileName);
    QString why;
    if (QFileInfo(path).exists() || QFileInfo(path).isSymLink()) {
        if (store.open(m_folder, JournalStore::Access::Read, &why))
            return true;
    } else if (!holdsJsonLinesDays(m_folder)) {
        return true; // nothing posted yet: nothing to list
    } else if (store.open(m_folder, JournalStore::Access::Write, &why)) {
        // No server has run since the upgrade: the tool makes the journal, importing the days once.
        return true;
    }
    *problem = QStringLiteral("cannot read %1: %2").arg(path, why);
    return false;
}

bool HistorySource::openShared(JournalStore &store, QString *problem) const {
    QString why;
    if (store.openUri(m_journal, JournalStore::Access::Read, &why))
        return true;
    if (why == QLatin1StringView(JournalStore::NoJournalYet))
        return true; // no server has written it yet: nothing to list
    *problem =
        QStringLiteral("cannot read the journal Journal=%1: %2").arg(postgresDisplayText(m_journal), why);
    return false;
}

bool HistorySource::openFile(JournalStore &store, QString *problem) const {
    const QString &path = m_filter.file;
    QString why;
    if (path.endsWith(JournalDayName::Suffix)) {
        if (store.openJsonLines(path, &why))
            return true;
    } else if (!journalFileOf(path).isEmpty()) {
        // The activity log cannot tell its own records from a reply written to look like one.
        *problem = QStringLiteral("%1 is no posting journal: an activity log holds no verifiable postings; "
                                  "give the posting journal, %2")
                       .arg(path, QFileInfo(path).dir().filePath(QLatin1StringView(JournalStore::FileName)));
        return false;
    } else if (store.openFile(path, &why)) {
        return true;
    }
    *problem = QStringLiteral("cannot read %1: %2").arg(path, why);
    return false;
}

} // namespace Orvex
