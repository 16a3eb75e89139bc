#include "postingjournal.h"

#include "files.h"
#include "postinglogging.h"

#include <atomic>

namespace Orvex {

quint64 nextCallSerial() {
    static std::atomic<quint64> lastSerial = 0;
    return ++lastSerial;
}

void PostingJournal::openIn(const QString &folder, int retentionDays) {
    const std::lock_guard lock(m_mutex);
    m_store.setRetentionDays(retentionDays);
    if (m_store.isOpen() && folder == m_folder)
        return;
    m_folder = folder;
    QString why;
    if (!m_store.open(folder, JournalStore::Access::Write, &why)) {
        failed(why);
        return;
    }
    m_problem.clear();
}

QString PostingJournal::path() const {
    const std::lock_guard lock(m_mutex);
    return pathLocked();
}

QString PostingJournal::problem() const {
    const std::lock_guard lock(m_mutex);
    return m_problem;
}

QString PostingJournal::pathLocked() const {
    if (m_store.isOpen())
        return m_store.path();
    return m_folder.isEmpty()
               ? QString()
               : Files::nativePath(m_folder) + u'/' + QLatin1StringView(JournalStore::FileName);
}

std::optional<qint64> PostingJournal::begin(const JournalPosting &start) {
    const std::lock_guard lock(m_mutex);
    if (!m_store.isOpen())
        return std::nullopt;
    QString why;
    const std::optional<qint64> row = m_store.begin(start, &why);
    if (!row)
        failed(why);
    else
        m_problem.clear();
    return row;
}

void PostingJournal::complete(std::optional<qint64> row, const QDateTime &end, const PostingOutcome &outcome,
                              qint64 replyBytes, qint64 durationMs) {
    const std::lock_guard lock(m_mutex);
    if (!row || !m_store.isOpen())
        return;
    QString why;
    if (!m_store.complete(*row, end, outcome, replyBytes, durationMs, &why))
        failed(why);
    m_store.pruneStep(end);
}

void PostingJournal::failed(const QString &why) {
    m_problem = why;
    // Clients never learn of it from a posting, so whoever runs the server must: once, not per posting.
    if (m_warningGiven)
        return;
    m_warningGiven = true;
    qCWarning(lcPosting).noquote()
        << "cannot write the posting journal" << pathLocked() + u':' << why
        << "- postings go unrecorded, so a rerun cannot skip them; this is said only once";
}

} // namespace Orvex
