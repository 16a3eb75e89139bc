#include "postrerun.h"

#include <QFileInfo>

namespace Orvex {

namespace {

bool isOpenEnded(const JournalPosting &posting) {
    return !posting.ended || posting.deliveryClass == deliveryClassName(DeliveryClass::Unknown);
}

void remember(PastPosting &known, const JournalPosting &posting) {
    if (posting.succeeded())
        known = {PastPosting::State::Succeeded, posting.time.toLocalTime(), posting.resultCode};
    else if (isOpenEnded(posting) && known.state == PastPosting::State::None)
        known = {PastPosting::State::Unknown, posting.time.toLocalTime(), QString()};
}

} // namespace

bool RerunCheck::open(const QString &folder, const QDateTime &since, QString *why, const QString &journal) {
    m_since = since;
    // Asked as listings are posted: what this run posts is no earlier run's.
    m_until = QDateTime::currentDateTime();
    m_store.emplace();
    if (!journal.isEmpty()) {
        if (m_store->openUri(journal, JournalStore::Access::Read, why))
            return true;
        m_store.reset();
        if (*why == QLatin1StringView(JournalStore::NoJournalYet)) {
            why->clear();
            return true;
        }
        return false;
    }
    // The first to open the journal makes it, importing the days of earlier versions, so that what they
    // record as "S" is skipped by the first rerun after an upgrade too.
    const bool made = QFileInfo::exists(folder + u'/' + QLatin1StringView(JournalStore::FileName));
    if (m_store->open(folder, made ? JournalStore::Access::Read : JournalStore::Access::Write, why))
        return true;
    m_store.reset();
    // A server is making it at this moment: nothing was posted through it yet.
    if (*why != QLatin1StringView(JournalStore::NoJournalYet))
        return false;
    why->clear();
    return true;
}

std::optional<PastPosting> RerunCheck::lookUp(const QString &board, const QString &action,
                                              const QString &jobCode, QString *why) {
    if (!m_store || jobCode.isEmpty())
        return PastPosting();
    JournalFilter filter;
    filter.from = m_since;
    filter.to = m_until;
    filter.board = board;
    filter.jobCode = jobCode;
    PastPosting known;
    const bool read = m_store->read(
        filter,
        [&](JournalPosting &&posting) {
            if (posting.action == action)
                remember(known, posting);
            return true;
        },
        why);
    return read ? std::optional<PastPosting>(known) : std::nullopt;
}

} // namespace Orvex
