#include "journalstore.h"

#include "files.h"
#include "journalfields.h"
#include "journalfiles.h"
#include "journallogging.h"

#include <QDir>

#include <fcntl.h>
#include <sqlite3.h>

namespace Orvex {

namespace {

// 'OKPJ': a database of another program is never taken for an empty journal.
constexpr qint64 ApplicationId = 0x4F4B504A;
// Later versions only add columns and indexes; a server refuses a newer schema rather than write rows
// whose new columns it cannot fill.
constexpr qint64 SchemaVersion = 1;
// Several servers write at once; each write is a short transaction, so a wait is short too.
constexpr int BusyTimeoutMs = 5000;
// Rows deleted per pruning step: a few milliseconds of work.
constexpr int PruneRowsPerStep = 500;

constexpr char CreateSchema[] = R"sql(
CREATE TABLE posting (
    id INTEGER PRIMARY KEY,
    board TEXT NOT NULL DEFAULT 'default',
    start_ms INTEGER NOT NULL,
    utc_offset_s INTEGER NOT NULL,
    pid INTEGER NOT NULL,
    object TEXT NOT NULL,
    call INTEGER NOT NULL,
    action TEXT NOT NULL,
    job_code TEXT NOT NULL,
    end_ms INTEGER,
    result TEXT,
    job_id TEXT,
    http_status INTEGER,
    error_number INTEGER,
    error_description TEXT,
    reply_bytes INTEGER,
    duration_ms INTEGER,
    delivery_class TEXT
);
CREATE INDEX posting_by_listing ON posting (board, action, job_code, start_ms);
CREATE INDEX posting_by_job_code ON posting (job_code, start_ms);
CREATE INDEX posting_by_time ON posting (start_ms);
CREATE INDEX posting_by_call ON posting (pid, object, start_ms);
)sql";

// Every read selects these, in this order: rowOf() reads them.
#define ORVEX_POSTING_COLUMNS                                                                                \
    "board, start_ms, utc_offset_s, pid, object, call, action, job_code, end_ms, result, job_id, "           \
    "http_status, error_number, error_description, reply_bytes, duration_ms, delivery_class"

constexpr char InsertStart[] =
    "INSERT INTO posting (board, start_ms, utc_offset_s, pid, object, call, action, "
    "job_code) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
constexpr char InsertWhole[] = "INSERT INTO posting (" ORVEX_POSTING_COLUMNS
                               ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, "
                               "?16, ?17)";
constexpr char CompleteRow[] =
    "UPDATE posting SET end_ms = ?2, result = ?3, job_id = ?4, http_status = ?5, "
    "error_number = ?6, error_description = ?7, reply_bytes = ?8, duration_ms = ?9, "
    "delivery_class = ?10 WHERE id = ?1 AND end_ms IS NULL";
constexpr char PruneRows[] = "DELETE FROM posting WHERE id IN (SELECT id FROM posting WHERE start_ms < ?1 "
                             "LIMIT ?2)";
constexpr char SucceededSince[] = "SELECT 1 FROM posting WHERE board = ?1 AND action = ?2 AND job_code = ?3 "
                                  "AND start_ms >= ?4 AND substr(result, 1, 1) = 'S' LIMIT 1";

// The parts of a filter as SQL, each naming the parameter bindFilter() gives it.
QByteArray listingCondition(const JournalFilter &filter) {
    QByteArray sql;
    if (!filter.jobCode.isNull())
        sql += " AND job_code = ?3";
    if (!filter.board.isNull())
        sql += " AND board = ?4";
    return sql;
}

QByteArray timeCondition(const JournalFilter &filter) {
    QByteArray sql;
    if (filter.from)
        sql += " AND start_ms >= ?1";
    if (filter.to)
        sql += " AND start_ms < ?2";
    return sql;
}

QByteArray resultCondition(JournalFilter::Result result) {
    switch (result) {
    case JournalFilter::Result::Any:
        break;
    case JournalFilter::Result::Succeeded:
        return " AND substr(result, 1, 1) = 'S'";
    case JournalFilter::Result::Failed:
        return " AND end_ms IS NOT NULL AND substr(result, 1, 1) IS NOT 'S'";
    case JournalFilter::Result::Unknown:
        return " AND end_ms IS NULL";
    }
    return QByteArray();
}

void bindFilter(SqliteStatement &statement, const JournalFilter &filter) {
    if (filter.from)
        statement.bind(1, filter.from->toMSecsSinceEpoch());
    if (filter.to)
        statement.bind(2, filter.to->toMSecsSinceEpoch());
    if (!filter.jobCode.isNull())
        statement.bind(3, filter.jobCode);
    if (!filter.board.isNull())
        statement.bind(4, filter.board);
}

JournalPosting rowOf(const SqliteStatement &row) {
    JournalPosting posting;
    posting.board = row.text(0);
    posting.time = QDateTime::fromMSecsSinceEpoch(row.integer(1), Qt::OffsetFromUTC, int(row.integer(2)));
    posting.processId = row.integer(3);
    posting.objectPath = row.text(4);
    posting.callSerial = row.integer(5);
    posting.action = row.text(6);
    posting.jobCode = row.text(7);
    posting.started = true;
    posting.ended = !row.isNull(8);
    if (!posting.ended)
        return posting;
    posting.resultCode = row.text(9);
    posting.jobId = row.text(10);
    posting.httpStatus = int(row.integer(11));
    posting.errorNumber = qint32(row.integer(12));
    posting.errorDescription = row.text(13);
    posting.replyBytes = row.integer(14);
    posting.durationMs = row.integer(15);
    posting.deliveryClass = row.text(16);
    return posting;
}

void bindStart(SqliteStatement &statement, const JournalPosting &start) {
    statement.bind(1, start.board.isEmpty() ? QString::fromLatin1(JournalField::DefaultBoard) : start.board);
    statement.bind(2, start.time.toMSecsSinceEpoch());
    statement.bind(3, qint64(start.time.offsetFromUtc()));
    statement.bind(4, start.processId);
    statement.bind(5, start.objectPath);
    statement.bind(6, start.callSerial);
    statement.bind(7, start.action);
    statement.bind(8, start.jobCode);
}

QString jobIdOf(const QString &resultCode) {
    return resultCode.startsWith(u'S') ? resultCode.mid(1) : QString();
}

} // namespace

JournalStore::JournalStore() = default;
JournalStore::~JournalStore() = default;

bool JournalStore::open(const QString &folder, Access access, QString *why) {
    const std::optional<QByteArray> native = Files::encodedPath(folder);
    if (!native) {
        *why = QStringLiteral("not a folder name");
        return false;
    }
    QByteArray path = *native;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return openChecked(path, FileName, access, why);
}

bool JournalStore::openFile(const QString &path, QString *why) {
    const std::optional<QByteArray> native = Files::encodedPath(path);
    if (!native || native->endsWith("/")) {
        *why = QStringLiteral("not a file's name");
        return false;
    }
    const auto [folder, name] = PrivateFiles::splitPath(*native);
    return openChecked(folder, name, Access::Read, why);
}

bool JournalStore::openJsonLines(const QString &path, QString *why) {
    m_database.close();
    if (!m_database.open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, why) || !writeSchema(why))
        return false;
    SqliteStatement insert = m_database.prepare(InsertWhole, why);
    if (!insert.isValid())
        return false;
    m_path = path;
    if (importFile(insert, path, why) == Import::Done)
        return true;
    m_database.close();
    return false;
}

bool JournalStore::openChecked(const QByteArray &folder, const QByteArray &name, Access access,
                               QString *why) {
    m_database.close();
    m_folder = PrivateFiles::openFolder(folder, why);
    if (!m_folder.isValid())
        return false;
    if (*why = JournalFiles::refusal(m_folder.get(), name); !why->isEmpty())
        return false;
    const int flags = access == Access::Write ? O_RDWR | O_CREAT : O_RDONLY;
    m_file = PrivateFiles::openFile(m_folder.get(), name, flags, why);
    if (!m_file.isValid())
        return false;
    const QByteArray resolved = JournalFiles::resolvedPath(m_folder.get());
    if (resolved.isEmpty()) {
        *why = QStringLiteral("its folder cannot be named without a link");
        return false;
    }
    const QByteArray path = resolved + '/' + name;
    const int openFlags = SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX |
                          (access == Access::Write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
    if (!m_database.open(path, openFlags, why))
        return false;
    // The file SQLite opened must be the file checked: the name may have been swapped in between.
    if (!JournalFiles::isSameFile(m_folder.get(), name, m_file.get())) {
        *why = QStringLiteral("the file changed while it was opened");
        m_database.close();
        return false;
    }
    m_path = QFile::decodeName(path);
    sqlite3_busy_timeout(m_database.handle(), BusyTimeoutMs);
    if (!prepareSchema(access, why) || (access == Access::Write && !prepareWrites(why))) {
        m_database.close();
        return false;
    }
    // SQLite made -wal and -shm as it switched to WAL: they must pass the same rules.
    if (*why = JournalFiles::refusal(m_folder.get(), name); !why->isEmpty()) {
        m_database.close();
        return false;
    }
    qCDebug(lcJournal) << "opened" << m_path;
    return true;
}

bool JournalStore::prepareSchema(Access access, QString *why) {
    // The first read tells a corrupt file or another format (SQLITE_NOTADB) without writing anything.
    const qint64 version = m_database.integerOf("PRAGMA user_version", -1);
    const qint64 application = m_database.integerOf("PRAGMA application_id", -1);
    const qint64 objects = m_database.integerOf("SELECT count(*) FROM sqlite_schema", -1);
    if (version < 0 || application < 0 || objects < 0) {
        *why = QStringLiteral("it is not a database or is damaged: ") + m_database.errorText();
        return false;
    }
    if (version > SchemaVersion) {
        *why = QStringLiteral("it was written by a newer version (schema %1; this one knows %2)")
                   .arg(version)
                   .arg(SchemaVersion);
        return false;
    }
    if (objects > 0 && application != ApplicationId) {
        *why = QStringLiteral("it is a database of another program");
        return false;
    }
    if (access == Access::Read)
        return version == SchemaVersion || (*why = QLatin1StringView(NoJournalYet), false);
    if (!m_database.exec("PRAGMA journal_mode = WAL", why) ||
        !m_database.exec("PRAGMA synchronous = NORMAL", why))
        return false;
    return version == SchemaVersion || createSchema(why);
}

bool JournalStore::createSchema(QString *why) {
    SqliteTransaction transaction(m_database);
    if (!transaction.isActive()) {
        *why = m_database.errorText();
        return false;
    }
    // Another server may have made it while this one waited for the lock.
    const qint64 version = m_database.integerOf("PRAGMA user_version", -1);
    if (version == SchemaVersion)
        return true;
    if (!writeSchema(why) || !importJsonLines(why))
        return false;
    return transaction.commit(why);
}

bool JournalStore::writeSchema(QString *why) {
    const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(SchemaVersion) +
                                  "; PRAGMA application_id = " + QByteArray::number(ApplicationId);
    return m_database.exec(CreateSchema, why) && m_database.exec(setVersion.constData(), why);
}

bool JournalStore::importJsonLines(QString *why) {
    // The journals of the days before the database, left where they are: older tools still read them.
    const QString folder = m_path.left(m_path.lastIndexOf(u'/'));
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("OrvexKelPostJobs *.jsonl")}, QDir::Files, QDir::Name);
    SqliteStatement insert = m_database.prepare(InsertWhole, why);
    if (!insert.isValid())
        return false;
    for (const QString &name : names) {
        QString readError;
        switch (importFile(insert, folder + u'/' + name, &readError)) {
        case Import::Done:
            qCDebug(lcJournal) << "imported" << name;
            break;
        case Import::Skipped:
            // A file that is no journal (or not the user's) is left out, not a reason to lose the others.
            qCWarning(lcJournal).noquote() << "not imported:" << name << readError;
            break;
        case Import::Failed:
            *why = QStringLiteral("importing %1: %2").arg(name, readError);
            return false;
        }
    }
    return true;
}

JournalStore::Import JournalStore::importFile(SqliteStatement &insert, const QString &path, QString *why) {
    bool written = true;
    const auto store = [&](JournalPosting &&posting) {
        if (!written)
            return;
        StatementUse use(insert);
        bindStart(insert, posting);
        if (posting.ended) {
            // The end line's own time was not kept by the reader; the duration gives it back.
            insert.bind(9, posting.time.toMSecsSinceEpoch() + posting.durationMs);
            insert.bind(10, posting.resultCode);
            insert.bind(11, posting.jobId);
            insert.bind(12, qint64(posting.httpStatus));
            insert.bind(13, qint64(posting.errorNumber));
            insert.bind(14, posting.errorDescription);
            insert.bind(15, posting.replyBytes);
            insert.bind(16, posting.durationMs);
            if (!posting.deliveryClass.isEmpty())
                insert.bind(17, posting.deliveryClass);
        }
        written = insert.step() == SqliteStatement::Step::Done;
    };
    const JournalReader::ReadResult result = JournalReader::read(path, store, why);
    if (!written) {
        *why = m_database.errorText();
        return Import::Failed;
    }
    switch (result) {
    case JournalReader::ReadResult::Read:
        return Import::Done;
    case JournalReader::ReadResult::Missing:
        *why = QStringLiteral("no such file");
        return Import::Skipped;
    case JournalReader::ReadResult::Refused:
        break;
    }
    return Import::Skipped;
}

bool JournalStore::prepareWrites(QString *why) {
    m_insert = m_database.prepare(InsertStart, why);
    m_complete = m_database.prepare(CompleteRow, why);
    m_prune = m_database.prepare(PruneRows, why);
    return m_insert.isValid() && m_complete.isValid() && m_prune.isValid();
}

std::optional<qint64> JournalStore::begin(const JournalPosting &start, QString *why) {
    if (!m_insert.isValid())
        return std::nullopt;
    StatementUse use(m_insert);
    bindStart(m_insert, start);
    if (m_insert.step() != SqliteStatement::Step::Done) {
        if (why)
            *why = m_database.errorText();
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(m_database.handle());
}

bool JournalStore::complete(qint64 row, const QDateTime &end, const PostingOutcome &outcome,
                            qint64 replyBytes, qint64 durationMs, QString *why) {
    if (!m_complete.isValid())
        return false;
    StatementUse use(m_complete);
    m_complete.bind(1, row);
    m_complete.bind(2, end.toMSecsSinceEpoch());
    m_complete.bind(3, outcome.resultCode);
    m_complete.bind(4, jobIdOf(outcome.resultCode));
    m_complete.bind(5, qint64(outcome.httpStatus));
    m_complete.bind(6, qint64(outcome.errorNumber));
    m_complete.bind(7, outcome.errorDescription);
    m_complete.bind(8, replyBytes);
    m_complete.bind(9, durationMs);
    m_complete.bind(10, deliveryClassName(outcome.deliveryClass));
    if (m_complete.step() == SqliteStatement::Step::Done)
        return true;
    if (why)
        *why = m_database.errorText();
    return false;
}

void JournalStore::pruneStep(const QDateTime &now) {
    if (m_retentionDays <= 0 || !m_prune.isValid() || m_prunedUntil == now.date())
        return;
    StatementUse use(m_prune);
    m_prune.bind(1, now.addDays(-m_retentionDays).toMSecsSinceEpoch());
    m_prune.bind(2, qint64(PruneRowsPerStep));
    if (m_prune.step() != SqliteStatement::Step::Done) {
        qCDebug(lcJournal) << "pruning failed:" << m_database.errorText();
        return;
    }
    if (sqlite3_changes(m_database.handle()) < PruneRowsPerStep)
        m_prunedUntil = now.date();
}

bool JournalStore::readRows(SqliteStatement &statement, const std::function<bool(JournalPosting &&)> &each,
                            QString *why) {
    for (;;) {
        switch (statement.step()) {
        case SqliteStatement::Step::Row:
            if (!each(rowOf(statement)))
                return true;
            break;
        case SqliteStatement::Step::Done:
            return true;
        case SqliteStatement::Step::Failed:
            *why = m_database.errorText();
            return false;
        }
    }
}

bool JournalStore::read(const JournalFilter &filter, const std::function<bool(JournalPosting &&)> &each,
                        QString *why) {
    const QByteArray sql = "SELECT " ORVEX_POSTING_COLUMNS " FROM posting WHERE 1" +
                           listingCondition(filter) + timeCondition(filter) + resultCondition(filter.result) +
                           " ORDER BY start_ms, id";
    SqliteStatement statement = m_database.prepare(sql.constData(), why);
    if (!statement.isValid())
        return false;
    bindFilter(statement, filter);
    return readRows(statement, each, why);
}

bool JournalStore::readLatest(const JournalFilter &filter, const std::function<bool(JournalPosting &&)> &each,
                              QString *why) {
    // SQLite takes the bare columns from the row that holds max(): the last posting of each group.
    const QByteArray sql = "SELECT " ORVEX_POSTING_COLUMNS " FROM (SELECT *, max(id) FROM posting WHERE 1" +
                           listingCondition(filter) + " GROUP BY board, job_code) WHERE 1" +
                           resultCondition(filter.result) + " ORDER BY board, job_code";
    SqliteStatement statement = m_database.prepare(sql.constData(), why);
    if (!statement.isValid())
        return false;
    bindFilter(statement, filter);
    return readRows(statement, each, why);
}

bool JournalStore::readCallsOf(qint64 processId, const QString &objectPath, const QDateTime &since,
                               const std::function<bool(JournalPosting &&)> &each, QString *why) {
    SqliteStatement statement =
        m_database.prepare("SELECT " ORVEX_POSTING_COLUMNS " FROM posting WHERE pid = ?1 AND object = ?2 AND "
                           "start_ms >= ?3 ORDER BY id",
                           why);
    if (!statement.isValid())
        return false;
    statement.bind(1, processId);
    statement.bind(2, objectPath);
    statement.bind(3, since.toMSecsSinceEpoch());
    return readRows(statement, each, why);
}

std::optional<bool> JournalStore::succeededSince(const QString &board, const QString &action,
                                                 const QString &jobCode, const QDateTime &since) {
    if (!m_succeeded.isValid())
        m_succeeded = m_database.prepare(SucceededSince);
    if (!m_succeeded.isValid())
        return std::nullopt;
    StatementUse use(m_succeeded);
    m_succeeded.bind(1, board);
    m_succeeded.bind(2, action);
    m_succeeded.bind(3, jobCode);
    m_succeeded.bind(4, since.toMSecsSinceEpoch());
    switch (m_succeeded.step()) {
    case SqliteStatement::Step::Row:
        return true;
    case SqliteStatement::Step::Done:
        return false;
    case SqliteStatement::Step::Failed:
        break;
    }
    return std::nullopt;
}

} // namespace Orvex
