#pragma once

#include "journalstore.h"

#include <QDateTime>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

namespace Orvex {

// The next call serial of this process, counted from 1.
quint64 nextCallSerial();

// What the journal made of a posting's start: its row, committed and on disk, or why there is none.
struct JournalStart {
    std::optional<qint64> row;
    quint64 opening = 0; // hand it back with the end: a row belongs to the journal file it was made in
    QString why;         // the database's own words
    QString path;        // the journal's file, or its URI as it may be shown
    JournalBlock block;  // why a start its claim refused got no row (the journal works)
};

// The process's one writer of the posting journal: a thread of its own owns the one connection, so no
// statement crosses threads and no other thread ever waits on a lock that SQLite holds. Postings that
// start together share one synced commit; ends are committed without a sync. Any thread may call it. A
// journal on a PostgreSQL server whose connection was lost is connected again at the next group.
class JournalWriter {
public:
    JournalWriter();
    // Writes what is queued, then stops the thread.
    ~JournalWriter();
    JournalWriter(const JournalWriter &) = delete;
    JournalWriter &operator=(const JournalWriter &) = delete;

    // Opens the journal in folder, or at journal (Journal=, a PostgreSQL URI) when it is not empty, unless
    // it is open there already. Returns at once: the writer opens it, and a refusal shows in problem() and
    // in the starts that follow.
    void openIn(const QString &folder, int retentionDays, const QString &journal = QString());
    // Takes no more rows, for why: the settings name a journal this writer cannot keep. Every start fails
    // with why until the next openIn.
    void refuse(const QString &why);
    // The journal's file as the file system names it; empty before openIn.
    QString path() const;
    // Why postings cannot be recorded, or the empty text while they can.
    QString problem() const;

    // Blocks the calling thread until the start row is committed and synced, or could not be: the journal
    // was never opened, is full, locked past the busy timeout, or deleted or replaced since it was opened.
    // With a claim, the start's row is written only if the claim allows, in the same step as its check.
    JournalStart begin(const JournalPosting &start, const JournalClaim &claim = {});
    // The same without waiting: started runs on the writer's thread with what became of the start. It must
    // be quick, and call nothing of this writer.
    void begin(const JournalPosting &start, const JournalClaim &claim,
               std::function<void(JournalStart)> started);
    // A posting's end, committed (not synced) before it returns, so a reply the client has is never
    // newer than the journal; a small step of the day's pruning follows.
    void complete(const JournalEnd &end);
    // The same without waiting: then runs on the writer's thread once the end is committed (or could not
    // be), so the caller's thread can go on meanwhile. It must be quick, and call nothing of this writer.
    void complete(const JournalEnd &end, std::function<void()> then);
    // Returns once everything queued before has been written.
    void flush();

private:
    struct Open {
        QString folder;
        QString uri;
        int retentionDays;
        QString refusal; // set: no journal at all, for this reason
    };
    struct Begin {
        JournalPosting start;
        JournalClaim claim;
        std::function<void(JournalStart)> started;
    };
    struct End {
        JournalEnd end;
        std::function<void()> done;
    };
    using Flush = std::promise<void>;
    using Task = std::variant<Open, Begin, End, Flush>;

    void enqueue(Task task);
    void run();
    void open(const Open &task);
    bool ensureOpen(QString *why);
    static bool isRowTask(const Task &task);
    void writeRows(std::deque<Task> &tasks);
    QList<JournalEnd> takeEnds(std::deque<Task> &tasks, std::vector<std::function<void()>> *ended);
    void beginAll(std::deque<Task> &tasks, QList<JournalEnd> ends);
    void writeEnds(QList<JournalEnd> ends);
    void keepUnwritten(QList<JournalEnd> ends);
    void failed(const QString &why);
    void succeeded();
    void closeIfLost();

    mutable std::mutex m_queueMutex;
    std::condition_variable m_queued;
    std::deque<Task> m_tasks;
    bool m_stopping = false;

    // What any thread may ask; never held while the database works.
    mutable std::mutex m_stateMutex;
    QString m_path;
    QString m_problem = QStringLiteral("not opened");
    bool m_warningGiven = false;

    // The writer thread's alone.
    JournalStore m_store;
    QString m_folder;
    QString m_uri;
    QString m_openedUri; // of the last journal opened: a connection made again keeps its rows' numbers
    QString m_refusal;
    quint64 m_opening = 0;
    // Ends the journal refused (locked, full): kept and written with the next commit that works, so a
    // listing that got "S" is not held back as unknown once the journal is back.
    QList<JournalEnd> m_unwrittenEnds;
    std::thread m_thread;
};

} // namespace Orvex
