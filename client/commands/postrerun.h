#pragma once

#include "journalstore.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace Orvex {

// What the posting journal says of one listing on one board since a given time.
struct PastPosting {
    enum class State { None, Unknown, Succeeded };
    State state = State::None;
    QDateTime time; // of the "S" that settles it, or of the first posting whose outcome is open
    QString resultCode;
};

// Answers, for a batch about to post, what each (board, action, job code) came to since a time: an "S"
// wins over any later posting still open, since the board took the listing then; otherwise a posting
// without an end, or one that ended unknown, leaves it open. One indexed read per listing, nothing kept;
// postings made after open() are not looked at.
class RerunCheck {
public:
    // False, with why, when the journal exists but cannot be read; a journal not yet made knows nothing.
    // journal: Journal=, a PostgreSQL URI, or empty for the file in folder.
    bool open(const QString &folder, const QDateTime &since, QString *why,
              const QString &journal = QString());
    // Nothing, with why, when the journal could not be read.
    std::optional<PastPosting> lookUp(const QString &board, const QString &action, const QString &jobCode,
                                      QString *why);

private:
    std::optional<JournalStore> m_store;
    QDateTime m_since;
    QDateTime m_until;
};

} // namespace Orvex
