#pragma once

#include "journalconnection.h"
#include "journalreader.h"
#include "postingoutcome.h"
#include "privatefiles.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

namespace Orvex {

// How one posting begun in the journal ended.
struct JournalEnd {
    qint64 row = 0;
    quint64 opening = 0; // the writer's opening of the journal that holds the row
    QDateTime end;
    PostingOutcome outcome;
    qint64 replyBytes = 0;
    qint64 durationMs = 0;
};

// Which postings a read wants; every part left empty matches all.
struct JournalFilter {
    enum class Result { Any, Succeeded, Failed, Unknown };
    std::optional<QDateTime> from; // the exchange started at or after
    std::optional<QDateTime> to;   // ... and before
    QString jobCode;
    QString board;
    QString host;
    Result result = Result::Any;
};

// What a start asks of the journal besides its row, checked and written in one step that holds the
// listing's (board, action, job code) against every other writer, on this machine or another.
struct JournalClaim {
    bool exclusive = false; // no row while the listing is in flight elsewhere
    // A rerun's: no row either when the listing got "S" in an exchange started at or after this.
    std::optional<QDateTime> settledSince;
};

// A start that did not get its row because of its claim: which posting stands in its way.
struct JournalBlock {
    enum class Reason { None, InFlight, Settled };
    Reason reason = Reason::None;
    JournalPosting posting; // the posting in flight, or the one that got "S"
};

// The posting journal: one SQLite database beside the activity log, one row per posting, written and
// synced as the exchange starts (before anything can reach the board) and completed as it ends; a row
// without an end is a posting whose server was lost mid-exchange. Several servers write it and the tool
// reads it at once (WAL). Or the same tables in a PostgreSQL database that several machines share (Journal=
// a URI), asked in the same SQL. A store is one connection, used by the thread that opened it.
class JournalStore {
public:
    static constexpr char FileName[] = "OrvexKelPostJob.sqlite3";
    enum class Access { Write, Read };
    // Why a read refuses a database whose first writer has not yet made its tables: no posting in it.
    static constexpr char NoJournalYet[] = "it holds no journal yet";

    JournalStore();
    ~JournalStore();
    JournalStore(const JournalStore &) = delete;
    JournalStore &operator=(const JournalStore &) = delete;

    // Opens the journal in folder (native path), for writing making it and importing the folder's JSON
    // Lines journals the first time. Refuses, with why, a file that is not the user's own (a link, another
    // user's, a second name, at the database's, -wal's or -shm's name), one that is not a journal, is
    // corrupt or has a newer schema: nothing is ever overwritten.
    bool open(const QString &folder, Access access, QString *why);
    // The database at path, whatever its name, for reading, under the same rules.
    bool openFile(const QString &path, QString *why);
    // The journal in the PostgreSQL database at uri, for writing made on first use. Refuses, with why, a
    // URI that does not parse, a server that does not answer, and a database that holds other tables but
    // no journal, or a newer one.
    bool openUri(const QString &uri, Access access, QString *why);
    // Journal= as the settings have it: empty for the file in folder, else a PostgreSQL URI.
    bool openSetting(const QString &journal, const QString &folder, Access access, QString *why);
    // A JSON Lines journal of the days before the database, read into a store in memory so that it is
    // read as the database is; false with why for a file that is missing or no journal.
    bool openJsonLines(const QString &path, QString *why);
    bool isOpen() const { return m_database.isOpen(); }
    bool isShared() const { return m_database.engine() == JournalConnection::Engine::Postgres; }
    // Whether the last call failed because the journal's server was lost: reopen to go on.
    bool isConnectionLost() const { return m_database.isConnectionLost(); }
    void close();
    // As the file system names it, or the URI as it may be shown.
    QString path() const { return m_path; }

    // Whether the file open is still the file at the journal's name in its folder, and that folder still
    // at its path: a journal deleted or replaced since it was opened takes no more rows.
    bool isStillAtItsName(QString *why) const;
    // Writes the journal back at its name from the open connection when nothing is there any more (its
    // folder too, one level deep), so that the rows of a deleted journal still tell the next run what
    // was posted; *why says what was done.
    void restoreAtItsName(QString *why);

    // The starts of postings that begin together, in one transaction that is synced before it returns, so
    // no posting leaves before its row is on disk; their rows in order, or nothing with why.
    std::optional<QList<qint64>> beginDurably(const QList<JournalPosting> &starts, QString *why);
    std::optional<qint64> beginDurably(const JournalPosting &start, QString *why = nullptr);
    // The same, each start with its claim: a start its claim refuses gets no row and says why in blocks
    // (one for each start); rows has one for each start, 0 for those refused. endsFirst, ends of earlier
    // postings, are written first in the same transaction.
    std::optional<QList<qint64>> beginDurably(const QList<JournalPosting> &starts,
                                              const QList<JournalClaim> &claims, QList<JournalBlock> *blocks,
                                              QString *why, const QList<JournalEnd> &endsFirst = {});
    // The ends of postings, in one transaction that is not synced: an end lost to a power cut reads as
    // unknown, which holds the listing back.
    bool complete(const QList<JournalEnd> &ends, QString *why);
    bool complete(const JournalEnd &end, QString *why = nullptr);

    // Rows whose exchange started more than days before now go, a few at a time, at most once a day for
    // each process; 0 keeps everything. Each call costs at most a few milliseconds.
    void setRetentionDays(int days) { m_retentionDays = days; }
    void pruneStep(const QDateTime &now);

    // Hands each matching posting to each, in the order the exchanges started, without holding them;
    // each returns false to stop. False with why when the journal could not be read.
    bool read(const JournalFilter &filter, const std::function<bool(JournalPosting &&)> &each, QString *why);
    // The last posting of each job code on each board, by board and job code; filter's board and job code
    // choose the pairs, its result the last postings shown (its times are not used).
    bool readLatest(const JournalFilter &filter, const std::function<bool(JournalPosting &&)> &each,
                    QString *why);
    // One object's postings in one server process, started at or after since, in the order they started.
    bool readCallsOf(qint64 processId, const QString &objectPath, const QDateTime &since,
                     const std::function<bool(JournalPosting &&)> &each, QString *why);
    // Whether (board, action, job code) got "S" in an exchange started at or after since; nothing when
    // the journal could not be read.
    std::optional<bool> succeededSince(const QString &board, const QString &action, const QString &jobCode,
                                       const QDateTime &since);

private:
    bool openChecked(const QByteArray &folder, const QByteArray &name, Access access, QString *why);
    bool prepareSchema(Access access, QString *why);
    bool preparePostgresSchema(Access access, QString *why);
    bool createPostgresSchema(QString *why);
    bool lockListings(const QList<JournalPosting> &starts, const QList<JournalClaim> &claims, QString *why);
    std::optional<JournalBlock> blockOf(const JournalPosting &start, const JournalClaim &claim, QString *why);
    bool createSchema(QString *why);
    bool upgradeSchema(qint64 version, QString *why);
    bool writeSchema(QString *why);
    void truncateLargeWal();
    bool writeStart(const JournalPosting &start, QString *why);
    bool writeEnd(const JournalEnd &end, QString *why);
    // Why the last call of the database failed, as its engine said.
    bool failed(QString *why) const;
    bool importJsonLines(QString *why);
    enum class Import { Done, Skipped, Failed };
    Import importFile(JournalStatement &insert, const QString &path, QString *why);
    bool prepareWrites(QString *why);
    bool readRows(JournalStatement &statement, const std::function<bool(JournalPosting &&)> &each,
                  QString *why);

    // A WAL past this is checkpointed and truncated as the writer closes. The first connection to the
    // journal in a process reads the whole WAL to index it, so each tool run pays for what is left there;
    // a checkpoint costs two syncs, so a few runs' rows are left.
    static constexpr qint64 WalKeptBytes = 512 * 1024;

    JournalConnection m_database;
    FileDescriptor m_folder;
    FileDescriptor m_file; // held open so the file checked is the file SQLite opened
    QByteArray m_folderPath;
    QByteArray m_name;
    QString m_path;
    qint64 m_schemaVersion = 0;
    JournalStatement m_insert;
    JournalStatement m_latest;
    JournalStatement m_complete;
    JournalStatement m_prune;
    JournalStatement m_pruneLatest;
    qint64 m_lastRow = 0;
    JournalStatement m_succeeded;
    JournalStatement m_blocking;
    JournalStatement m_lock;
    int m_retentionDays = 0;
    QDate m_prunedUntil; // the day pruning last found nothing more to delete
};

} // namespace Orvex
