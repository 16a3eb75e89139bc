#pragma once

#include "journalstore.h"
#include "postingoutcome.h"

#include <QDateTime>
#include <QString>

#include <mutex>
#include <optional>

namespace Orvex {

// The next call serial of this process, counted from 1.
quint64 nextCallSerial();

// The server's one connection to the posting journal in the folder the log goes to. A journal that
// cannot be opened or written costs the journal, never the posting; whoever runs the server is told once
// a run, and a client can ask (problem()) before it starts a batch. Postings on several threads share it.
class PostingJournal {
public:
    // Opens the journal in folder unless it is open there already; a refusal is kept for problem().
    void openIn(const QString &folder, int retentionDays);
    // The journal's file as the file system names it; empty before openIn.
    QString path() const;
    // Why postings go unrecorded, or the empty text while the journal can be written.
    QString problem() const;

    // The start row of one posting, before anything can reach the board; nothing when not written.
    std::optional<qint64> begin(const JournalPosting &start);
    // Its end, then a small step of the day's pruning.
    void complete(std::optional<qint64> row, const QDateTime &end, const PostingOutcome &outcome,
                  qint64 replyBytes, qint64 durationMs);

private:
    QString pathLocked() const;
    void failed(const QString &why);

    // One connection for the process: its statements are prepared once and used by one thread at a time.
    mutable std::mutex m_mutex;
    JournalStore m_store;
    QString m_folder;
    QString m_problem = QStringLiteral("not opened");
    bool m_warningGiven = false;
};

} // namespace Orvex
