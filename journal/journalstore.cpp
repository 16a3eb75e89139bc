#include "journalstore.h"

#include "exchangelimits.h"
#include "files.h"
#include "journaldayname.h"
#include "journalfields.h"
#include "journalfiles.h"
#include "journallogging.h"
#include "listingrules.h"
#include "processstate.h"

#include <QCryptographicHash>
#include <QDir>
#include <QScopeGuard>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <limits>

#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

namespace Orvex {

namespace {

// 'OKPJ': a database of another program is never taken for an empty journal.
constexpr qint64 ApplicationId = 0x4F4B504A;
// Later versions only add columns, tables and indexes; a server refuses a newer schema rather than write
// rows whose new columns it cannot fill. 2: the last posting of each listing kept beside the postings.
// 3: the host that made each posting, for a journal several machines share.
constexpr qint64 SchemaVersion = 3;
// Several servers write at once; each write is a short transaction, so a wait is short too.
constexpr int BusyTimeoutMs = 5000;
// Rows deleted per pruning step: a few milliseconds of work.
constexpr int PruneRowsPerStep = 500;
// A start row without an end is in flight for as long as its call can last; an older one is a lost call.
constexpr qint64 InFlightMs = std::chrono::milliseconds(ExchangeLimits::PostingCallTimeout).count();
// A database server keeps nothing waiting for ever: a lock for as long as SQLite's busy timeout, a
// statement (a history of a large journal included) for a minute.
constexpr char PostgresSession[] = "SET synchronous_commit = on; SET lock_timeout = '5s'; "
                                   "SET statement_timeout = '60s'";
// Where SQLite keeps its application id and schema version in its header, PostgreSQL keeps a row.
constexpr char PostgresMeta[] = "CREATE TABLE journal_meta (application_id BIGINT NOT NULL, "
                                "schema_version BIGINT NOT NULL);";

// Every read selects these, in this order, and the host: rowOf() reads them.
#define ORVEX_POSTING_COLUMNS_EARLY                                                                          \
    "board, start_ms, utc_offset_s, pid, object, call, action, job_code, end_ms, result, job_id, "           \
    "http_status, error_number, error_description, reply_bytes, duration_ms, delivery_class"

// The last posting started of each job code on each board, kept with the start row so that --latest reads
// as many rows as it prints.
#define ORVEX_LATEST_TABLE                                                                                   \
    "CREATE TABLE posting_latest (board TEXT NOT NULL, job_code TEXT NOT NULL, posting INTEGER NOT NULL, "   \
    "PRIMARY KEY (board, job_code));"

constexpr char FillLatest[] = "INSERT INTO posting_latest (board, job_code, posting) SELECT board, job_code, "
                              "max(id) FROM posting GROUP BY board, job_code";

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
    delivery_class TEXT,
    host TEXT NOT NULL DEFAULT ''
);
CREATE INDEX posting_by_listing ON posting (board, action, job_code, start_ms);
CREATE INDEX posting_by_job_code ON posting (job_code, start_ms);
CREATE INDEX posting_by_time ON posting (start_ms);
CREATE INDEX posting_by_call ON posting (pid, object, start_ms);
)sql" ORVEX_LATEST_TABLE;
// The row a start's claim stops at: any "S" since the rerun's time (?5, the largest integer when there is
// none), or a start without an end since the in-flight window (?4).
constexpr char Blocking[] = "SELECT " ORVEX_POSTING_COLUMNS_EARLY ", host FROM posting WHERE board = ?1 AND "
                            "action = ?2 AND job_code = ?3 AND ((end_ms IS NULL AND start_ms >= ?4) OR "
                            "(substr(result, 1, 1) = 'S' AND start_ms >= ?5)) ORDER BY start_ms DESC";
constexpr char LockListing[] = "SELECT pg_advisory_xact_lock(?1)";
// Only one server makes the tables of an empty database.
constexpr char LockSchema[] = "SELECT pg_advisory_xact_lock(1330335818)";

constexpr char AddHost[] = "ALTER TABLE posting ADD COLUMN host TEXT NOT NULL DEFAULT ''";

#define ORVEX_POSTING_COLUMNS ORVEX_POSTING_COLUMNS_EARLY
// The same, named by their table where another table joins it.
#define ORVEX_POSTING_COLUMNS_OF_POSTING                                                                     \
    "posting.board, start_ms, utc_offset_s, pid, object, call, action, posting.job_code, end_ms, result, "   \
    "job_id, http_status, error_number, error_description, reply_bytes, duration_ms, delivery_class"

constexpr char InsertStart[] =
    "INSERT INTO posting (board, start_ms, utc_offset_s, pid, object, call, action, "
    "job_code, host) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?18) RETURNING id";
constexpr char UpdateLatest[] = "INSERT INTO posting_latest (board, job_code, posting) VALUES (?1, ?2, ?3) "
                                "ON CONFLICT (board, job_code) DO UPDATE SET posting = excluded.posting";
constexpr char InsertWhole[] =
    "INSERT INTO posting (" ORVEX_POSTING_COLUMNS
    ", host) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, "
    "?16, ?17, ?18)";
constexpr char CompleteRow[] =
    "UPDATE posting SET end_ms = ?2, result = ?3, job_id = ?4, http_status = ?5, "
    "error_number = ?6, error_description = ?7, reply_bytes = ?8, duration_ms = ?9, "
    "delivery_class = ?10 WHERE id = ?1 AND end_ms IS NULL";
// The oldest rows first, the same rows in both statements of a step; a listing whose last posting goes
// leaves --latest with it.
#define ORVEX_OLDEST_ROWS "(SELECT id FROM posting WHERE start_ms < ?1 ORDER BY start_ms, id LIMIT ?2)"
constexpr char PruneLatest[] = "DELETE FROM posting_latest WHERE posting IN " ORVEX_OLDEST_ROWS;
constexpr char PruneRows[] = "DELETE FROM posting WHERE id IN " ORVEX_OLDEST_ROWS;
constexpr char SucceededSince[] = "SELECT 1 FROM posting WHERE board = ?1 AND action = ?2 AND job_code = ?3 "
                                  "AND start_ms >= ?4 AND substr(result, 1, 1) = 'S' LIMIT 1";

// The parts of a filter as SQL, each naming the parameter bindFilter() gives it.
// A journal of a version before hosts were kept names none: every row is this machine's.
QByteArray hostColumn(qint64 version) {
    return version >= 3 ? "host" : "''";
}

QByteArray listingCondition(const JournalFilter &filter, qint64 version,
                            const QByteArray &table = "posting") {
    QByteArray sql;
    if (!filter.jobCode.isNull())
        sql += " AND " + table + ".job_code = ?3";
    if (!filter.board.isNull())
        sql += " AND " + table + ".board = ?4";
    if (!filter.host.isNull())
        sql += " AND " + hostColumn(version) + " = ?5";
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
        return " AND end_ms IS NOT NULL AND (result IS NULL OR substr(result, 1, 1) <> 'S')";
    case JournalFilter::Result::Unknown:
        return " AND end_ms IS NULL";
    }
    return QByteArray();
}

bool bindFilter(JournalStatement &statement, const JournalFilter &filter) {
    return (!filter.from || statement.bind(1, filter.from->toMSecsSinceEpoch())) &&
           (!filter.to || statement.bind(2, filter.to->toMSecsSinceEpoch())) &&
           (filter.jobCode.isNull() || statement.bind(3, filter.jobCode)) &&
           (filter.board.isNull() || statement.bind(4, filter.board)) &&
           (filter.host.isNull() || statement.bind(5, filter.host));
}

JournalPosting rowOf(const JournalStatement &row) {
    JournalPosting posting;
    posting.board = row.text(0);
    posting.time = QDateTime::fromMSecsSinceEpoch(row.integer(1), Qt::OffsetFromUTC, int(row.integer(2)));
    posting.processId = row.integer(3);
    posting.objectPath = row.text(4);
    posting.callSerial = row.integer(5);
    posting.action = row.text(6);
    posting.jobCode = row.text(7);
    posting.host = row.text(17);
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

QString boardOf(const JournalPosting &posting) {
    return posting.board.isEmpty() ? ListingRules::DefaultBoardName.toString() : posting.board;
}

bool bindStart(JournalStatement &statement, const JournalPosting &start) {
    return statement.bind(1, boardOf(start)) && statement.bind(2, start.time.toMSecsSinceEpoch()) &&
           statement.bind(3, qint64(start.time.offsetFromUtc())) && statement.bind(4, start.processId) &&
           statement.bind(5, start.objectPath) && statement.bind(6, start.callSerial) &&
           statement.bind(7, start.action) && statement.bind(8, start.jobCode) &&
           statement.bind(18, start.host);
}

bool bindEnd(JournalStatement &statement, const JournalPosting &posting) {
    // The end line's own time was not kept by the reader; the duration gives it back.
    return statement.bind(9, posting.time.toMSecsSinceEpoch() + posting.durationMs) &&
           statement.bind(10, posting.resultCode) && statement.bind(11, posting.jobId) &&
           statement.bind(12, qint64(posting.httpStatus)) &&
           statement.bind(13, qint64(posting.errorNumber)) && statement.bind(14, posting.errorDescription) &&
           statement.bind(15, posting.replyBytes) && statement.bind(16, posting.durationMs) &&
           (posting.deliveryClass.isEmpty() || statement.bind(17, posting.deliveryClass));
}

QString jobIdOf(const QString &resultCode) {
    return resultCode.startsWith(u'S') ? resultCode.mid(1) : QString();
}

// Resets a statement when its use ends, whichever way it ends, so no read stays open behind it.
class StatementInUse {
public:
    explicit StatementInUse(JournalStatement &statement)
        : m_statement(statement) {
        m_statement.reset();
    }
    ~StatementInUse() { m_statement.reset(); }
    StatementInUse(const StatementInUse &) = delete;
    StatementInUse &operator=(const StatementInUse &) = delete;

private:
    JournalStatement &m_statement;
};

// A start row of this machine (rows from before hosts were kept are its own) whose server process is gone:
// a lost call, whose outcome stays unknown, not a posting in flight. Another machine's processes cannot be
// seen from here: its rows count as in flight for as long as a call can last.
bool isLostHere(const JournalPosting &posting, const JournalPosting &start) {
    if (!posting.host.isEmpty() && posting.host != start.host)
        return false;
    if (posting.processId == start.processId)
        return false;
    return hasProcessEnded(posting.processId);
}

// The listing's key for PostgreSQL's advisory lock: the same on every machine and in every version.
qint64 listingKey(const JournalPosting &start) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString &part : {boardOf(start), start.action, start.jobCode}) {
        hash.addData(part.toUtf8());
        hash.addData(QByteArrayView("\0", 1));
    }
    return qFromBigEndian<qint64>(hash.result().constData());
}

} // namespace

JournalStore::JournalStore() = default;
JournalStore::~JournalStore() = default;

bool JournalStore::failed(QString *why) const {
    if (why)
        *why = m_database.errorText();
    return false;
}

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

bool JournalStore::openSetting(const QString &journal, const QString &folder, Access access, QString *why) {
    return journal.isEmpty() ? open(folder, access, why) : openUri(journal, access, why);
}

bool JournalStore::openUri(const QString &uri, Access access, QString *why) {
    close();
    m_path = postgresDisplayText(uri);
    if (!m_database.openPostgres(uri) || !m_database.exec(PostgresSession)) {
        failed(why);
        close();
        return false;
    }
    if (!preparePostgresSchema(access, why) || (access == Access::Write && !prepareWrites(why))) {
        close();
        return false;
    }
    qCDebug(lcJournal) << "opened" << m_path;
    return true;
}

bool JournalStore::preparePostgresSchema(Access access, QString *why) {
    const std::optional<qint64> made =
        m_database.integerOf("SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema() "
                             "AND tablename = 'journal_meta'");
    const std::optional<qint64> tables =
        m_database.integerOf("SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema()");
    if (!made || !tables)
        return failed(why);
    if (*made == 0 && *tables > 0) {
        *why = QStringLiteral("its database holds tables but no journal: it is another program's");
        return false;
    }
    if (*made == 0) {
        if (access == Access::Read)
            return *why = QLatin1StringView(NoJournalYet), false;
        if (!createPostgresSchema(why))
            return false;
    }
    const QByteArray query =
        "SELECT schema_version FROM journal_meta WHERE application_id = " + QByteArray::number(ApplicationId);
    const std::optional<qint64> version = m_database.integerOf(query.constData());
    if (!version) {
        *why = m_database.errorText().isEmpty()
                   ? QStringLiteral("its journal_meta table names another program")
                   : m_database.errorText();
        return false;
    }
    if (*version > SchemaVersion) {
        *why = QStringLiteral("it was written by a newer version (schema %1; this one knows %2)")
                   .arg(*version)
                   .arg(SchemaVersion);
        return false;
    }
    // The first version in PostgreSQL is the current one: nothing to upgrade yet.
    m_schemaVersion = *version;
    return true;
}

bool JournalStore::createPostgresSchema(QString *why) {
    JournalTransaction transaction(m_database);
    if (!transaction.begin() || !m_database.exec(LockSchema))
        return failed(why);
    // Another server may have made it while this one waited for the lock.
    const std::optional<qint64> made = m_database.integerOf(
        "SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema() AND tablename = "
        "'journal_meta'");
    if (!made)
        return failed(why);
    if (*made > 0)
        return transaction.commit() || failed(why);
    const QByteArray schema = postgresSchema(QByteArray(CreateSchema) + PostgresMeta) +
                              "INSERT INTO journal_meta VALUES (" + QByteArray::number(ApplicationId) + ", " +
                              QByteArray::number(SchemaVersion) + ")";
    return (m_database.exec(schema.constData()) && transaction.commit()) || failed(why);
}

bool JournalStore::openJsonLines(const QString &path, QString *why) {
    close();
    if (!m_database.openSqlite(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX) || !writeSchema(why))
        return failed(why);
    JournalStatement insert = m_database.prepare(InsertWhole);
    if (!insert.isValid())
        return failed(why);
    m_path = path;
    m_schemaVersion = SchemaVersion;
    if (importFile(insert, path, why) == Import::Done && m_database.exec(FillLatest))
        return true;
    if (why->isEmpty())
        failed(why);
    m_database.close();
    return false;
}

bool JournalStore::openChecked(const QByteArray &folder, const QByteArray &name, Access access,
                               QString *why) {
    close();
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
    // One thread uses a store, so SQLite's own locking of the connection would only cost.
    const int openFlags = SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX |
                          (access == Access::Write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
    if (!m_database.openSqlite(path, openFlags))
        return failed(why);
    // The file SQLite opened must be the file checked: the name may have been swapped in between.
    if (!JournalFiles::isSameFile(m_folder.get(), name, m_file.get())) {
        *why = QStringLiteral("the file changed while it was opened");
        m_database.close();
        return false;
    }
    m_folderPath = resolved;
    m_name = name;
    m_path = QFile::decodeName(path);
    sqlite3_busy_timeout(m_database.sqlite().handle(), BusyTimeoutMs);
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

bool JournalStore::isStillAtItsName(QString *why) const {
    if (isShared() && isOpen())
        return true;
    if (!isOpen() || !m_file.isValid()) {
        *why = QStringLiteral("it is not open");
        return false;
    }
    if (JournalFiles::resolvedPath(m_folder.get()) != m_folderPath) {
        *why = QStringLiteral("its folder %1 was deleted or replaced since it was opened")
                   .arg(QFile::decodeName(m_folderPath));
        return false;
    }
    if (!JournalFiles::isSameFile(m_folder.get(), m_name, m_file.get())) {
        *why = QStringLiteral("it was deleted or replaced since it was opened");
        return false;
    }
    return true;
}

void JournalStore::restoreAtItsName(QString *why) {
    const QString reason = *why;
    const QByteArray path = m_folderPath + '/' + m_name;
    struct stat status {};
    QString refusal;
    if (::lstat(path.constData(), &status) == 0 || errno != ENOENT ||
        !PrivateFiles::makeFolders(m_folderPath, &refusal)) {
        return;
    }
    // The connection still reads the deleted file and its WAL: every committed row goes into the copy.
    SqliteStatement copy = m_database.sqlite().prepare("VACUUM INTO ?1");
    if (!copy.isValid() || !copy.bind(1, QFile::decodeName(path)) || !copy.run()) {
        *why = reason + QStringLiteral("; writing its rows back failed: ") + m_database.errorText();
        return;
    }
    ::chmod(path.constData(), PrivateFiles::FileMode);
    *why = reason + QStringLiteral("; its rows were written back to %1").arg(QFile::decodeName(path));
}

void JournalStore::close() {
    if (m_insert.isValid() && !isShared())
        truncateLargeWal();
    m_insert = {};
    m_latest = {};
    m_complete = {};
    m_prune = {};
    m_pruneLatest = {};
    m_succeeded = {};
    m_blocking = {};
    m_lock = {};
    m_database.close();
    m_file = FileDescriptor();
    m_folder = FileDescriptor();
}

void JournalStore::truncateLargeWal() {
    struct stat status {};
    const QByteArray wal = m_folderPath + '/' + m_name + "-wal";
    if (::stat(wal.constData(), &status) != 0 || status.st_size <= WalKeptBytes)
        return;
    // Closing waits for no other process: with a reader still in the WAL, a later writer truncates it.
    sqlite3_busy_timeout(m_database.sqlite().handle(), 0);
    m_database.exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

bool JournalStore::prepareSchema(Access access, QString *why) {
    // The first read tells a corrupt file or another format (SQLITE_NOTADB) without writing anything. One
    // statement, so one snapshot: read apart, another process's first commit could fall between the
    // reads and show its tables without its application id.
    JournalStatement header = m_database.prepare(
        "SELECT (SELECT user_version FROM pragma_user_version), "
        "(SELECT application_id FROM pragma_application_id), (SELECT count(*) FROM sqlite_schema)");
    if (!header.isValid() || header.step() != JournalStatement::Step::Row) {
        *why = QStringLiteral("it is not a database or is damaged: ") + m_database.errorText();
        return false;
    }
    const qint64 version = header.integer(0);
    const qint64 application = header.integer(1);
    const qint64 objects = header.integer(2);
    header = {};
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
    m_schemaVersion = version;
    if (access == Access::Read)
        return version > 0 || (*why = QLatin1StringView(NoJournalYet), false);
    // Commits are not synced unless asked (beginDurably): a lost end row reads as unknown, which is safe.
    // A checkpoint syncs twice; every 16 MiB of WAL keeps that a small part of a posting's one sync.
    if (!m_database.exec("PRAGMA journal_mode = WAL") || !m_database.exec("PRAGMA synchronous = NORMAL") ||
        !m_database.exec("PRAGMA wal_autocheckpoint = 4000"))
        return failed(why);
    // No checkpoint as the connection closes, which would sync the WAL and the file and delete the WAL at
    // the end of every tool run: the rows are safe in the WAL, which the next writer goes on with, until
    // it outgrows WalKeptBytes.
    sqlite3_db_config(m_database.sqlite().handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (version == 0)
        return createSchema(why);
    return version == SchemaVersion || upgradeSchema(version, why);
}

bool JournalStore::createSchema(QString *why) {
    JournalTransaction transaction(m_database);
    if (!transaction.begin())
        return failed(why);
    // Another server may have made it while this one waited for the lock.
    const std::optional<qint64> version = m_database.integerOf("PRAGMA user_version");
    if (!version)
        return failed(why);
    if (*version != 0) {
        transaction.commit();
        return *version == SchemaVersion || upgradeSchema(*version, why);
    }
    if (!writeSchema(why) || !importJsonLines(why) || !m_database.exec(FillLatest) || !transaction.commit())
        return why->isEmpty() ? failed(why) : false;
    m_schemaVersion = SchemaVersion;
    return true;
}

bool JournalStore::upgradeSchema(qint64 version, QString *why) {
    JournalTransaction transaction(m_database);
    if (!transaction.begin())
        return failed(why);
    const std::optional<qint64> current = m_database.integerOf("PRAGMA user_version");
    if (!current)
        return failed(why);
    // Version 1 had every posting but not the last of each listing; 2, not the host of each.
    if (*current == 1 && !(m_database.exec(ORVEX_LATEST_TABLE) && m_database.exec(FillLatest)))
        return failed(why);
    if (*current <= 2 && !m_database.exec(AddHost))
        return failed(why);
    const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(SchemaVersion);
    if (!m_database.exec(setVersion.constData()) || !transaction.commit())
        return failed(why);
    qCDebug(lcJournal) << "schema" << version << "upgraded to" << SchemaVersion;
    m_schemaVersion = SchemaVersion;
    return true;
}

bool JournalStore::writeSchema(QString *why) {
    const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(SchemaVersion) +
                                  "; PRAGMA application_id = " + QByteArray::number(ApplicationId);
    return (m_database.exec(CreateSchema) && m_database.exec(setVersion.constData())) || failed(why);
}

bool JournalStore::importJsonLines(QString *why) {
    // The journals of the days before the database, left where they are: older tools still read them.
    const QString folder = m_path.left(m_path.lastIndexOf(u'/'));
    const QStringList names =
        QDir(folder).entryList({QString(JournalDayName::Pattern)}, QDir::Files, QDir::Name);
    JournalStatement insert = m_database.prepare(InsertWhole);
    if (!insert.isValid())
        return failed(why);
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

JournalStore::Import JournalStore::importFile(JournalStatement &insert, const QString &path, QString *why) {
    bool written = true;
    const auto store = [&](JournalPosting &&posting) {
        if (!written)
            return;
        StatementInUse use(insert);
        written = bindStart(insert, posting) && (!posting.ended || bindEnd(insert, posting)) && insert.run();
    };
    const JournalReader::ReadResult result = JournalReader::read(path, store, why);
    if (!written) {
        failed(why);
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
    m_insert = m_database.prepare(InsertStart);
    m_latest = m_database.prepare(UpdateLatest);
    m_complete = m_database.prepare(CompleteRow);
    m_prune = m_database.prepare(PruneRows);
    m_pruneLatest = m_database.prepare(PruneLatest);
    return (m_insert.isValid() && m_latest.isValid() && m_complete.isValid() && m_prune.isValid() &&
            m_pruneLatest.isValid()) ||
           failed(why);
}

bool JournalStore::writeStart(const JournalPosting &start, QString *why) {
    StatementInUse use(m_insert);
    if (!bindStart(m_insert, start) || m_insert.step() != JournalStatement::Step::Row)
        return failed(why);
    const qint64 row = m_insert.integer(0);
    // RETURNING hands the row over before the insert is done: step it to its end.
    if (!m_insert.run())
        return failed(why);
    StatementInUse latest(m_latest);
    if (!(m_latest.bind(1, boardOf(start)) && m_latest.bind(2, start.jobCode) && m_latest.bind(3, row) &&
          m_latest.run()))
        return failed(why);
    m_lastRow = row;
    return true;
}

std::optional<QList<qint64>> JournalStore::beginDurably(const QList<JournalPosting> &starts, QString *why) {
    return beginDurably(starts, {}, nullptr, why);
}

std::optional<QList<qint64>> JournalStore::beginDurably(const QList<JournalPosting> &starts,
                                                        const QList<JournalClaim> &claims,
                                                        QList<JournalBlock> *blocks, QString *why,
                                                        const QList<JournalEnd> &endsFirst) {
    if (!m_insert.isValid()) {
        if (why)
            *why = QStringLiteral("it is not open for writing");
        return std::nullopt;
    }
    const bool sqlite = !isShared();
    // FULL syncs the WAL at this commit; the ends commit under NORMAL. PostgreSQL's session keeps
    // synchronous_commit on.
    if (sqlite && !m_database.exec("PRAGMA synchronous = FULL")) {
        failed(why);
        return std::nullopt;
    }
    const auto normalAgain = qScopeGuard([this, sqlite] {
        if (sqlite)
            m_database.exec("PRAGMA synchronous = NORMAL");
    });
    // SQLite's transaction holds the whole file from its start: the checks below and the rows are one step.
    JournalTransaction transaction(m_database);
    if (!transaction.begin() || !lockListings(starts, claims, why)) {
        failed(why);
        return std::nullopt;
    }
    for (const JournalEnd &end : endsFirst) {
        if (!writeEnd(end, why))
            return std::nullopt;
    }
    QList<qint64> rows;
    rows.reserve(starts.size());
    if (blocks)
        blocks->clear();
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const JournalPosting &start = starts[i];
        std::optional<JournalBlock> block = JournalBlock();
        if (i < claims.size() && claims[i].exclusive)
            block = blockOf(start, claims[i], why);
        if (!block)
            return std::nullopt;
        const bool refused = block->reason != JournalBlock::Reason::None;
        if (blocks)
            blocks->append(std::move(*block));
        if (refused) {
            rows.append(0);
            continue;
        }
        if (!writeStart(start, why))
            return std::nullopt;
        rows.append(m_lastRow);
    }
    if (!transaction.commit()) {
        failed(why);
        return std::nullopt;
    }
    return rows;
}

bool JournalStore::lockListings(const QList<JournalPosting> &starts, const QList<JournalClaim> &claims,
                                QString *why) {
    if (!isShared())
        return true;
    // In one order for every server, so that two groups never wait for each other.
    QList<qint64> keys;
    for (qsizetype i = 0; i < starts.size() && i < claims.size(); ++i)
        if (claims[i].exclusive)
            keys.append(listingKey(starts[i]));
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    if (!keys.isEmpty() && !m_lock.isValid())
        m_lock = m_database.prepare(LockListing);
    for (const qint64 key : std::as_const(keys)) {
        StatementInUse use(m_lock);
        if (!m_lock.bind(1, key) || m_lock.step() != JournalStatement::Step::Row)
            return failed(why);
    }
    return true;
}

std::optional<JournalBlock> JournalStore::blockOf(const JournalPosting &start, const JournalClaim &claim,
                                                  QString *why) {
    if (!m_blocking.isValid())
        m_blocking = m_database.prepare(Blocking);
    StatementInUse use(m_blocking);
    const qint64 settledSince =
        claim.settledSince ? claim.settledSince->toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
    if (!m_blocking.bind(1, boardOf(start)) || !m_blocking.bind(2, start.action) ||
        !m_blocking.bind(3, start.jobCode) ||
        !m_blocking.bind(4, start.time.toMSecsSinceEpoch() - InFlightMs) ||
        !m_blocking.bind(5, settledSince)) {
        failed(why);
        return std::nullopt;
    }
    JournalBlock block;
    for (;;) {
        switch (m_blocking.step()) {
        case JournalStatement::Step::Row: {
            JournalPosting posting = rowOf(m_blocking);
            // An "S" settles it whatever is in flight beside it.
            if (posting.succeeded())
                return JournalBlock{JournalBlock::Reason::Settled, std::move(posting)};
            if (isLostHere(posting, start))
                break;
            if (block.reason == JournalBlock::Reason::None)
                block = {JournalBlock::Reason::InFlight, std::move(posting)};
            break;
        }
        case JournalStatement::Step::Done:
            return block;
        case JournalStatement::Step::Failed:
            failed(why);
            return std::nullopt;
        }
    }
}

std::optional<qint64> JournalStore::beginDurably(const JournalPosting &start, QString *why) {
    const std::optional<QList<qint64>> rows = beginDurably(QList<JournalPosting>{start}, why);
    return rows ? std::optional<qint64>(rows->first()) : std::nullopt;
}

bool JournalStore::writeEnd(const JournalEnd &end, QString *why) {
    const PostingOutcome &outcome = end.outcome;
    StatementInUse use(m_complete);
    return (m_complete.bind(1, end.row) && m_complete.bind(2, end.end.toMSecsSinceEpoch()) &&
            m_complete.bind(3, outcome.resultCode) && m_complete.bind(4, jobIdOf(outcome.resultCode)) &&
            m_complete.bind(5, qint64(outcome.httpStatus)) &&
            m_complete.bind(6, qint64(outcome.errorNumber)) && m_complete.bind(7, outcome.errorDescription) &&
            m_complete.bind(8, end.replyBytes) && m_complete.bind(9, end.durationMs) &&
            m_complete.bind(10, deliveryClassName(outcome.deliveryClass)) && m_complete.run()) ||
           failed(why);
}

bool JournalStore::complete(const QList<JournalEnd> &ends, QString *why) {
    if (!m_complete.isValid()) {
        if (why)
            *why = QStringLiteral("it is not open for writing");
        return false;
    }
    JournalTransaction transaction(m_database);
    // An end lost with the server reads as unknown, which holds the listing back: it need not wait for a
    // sync, as in SQLite.
    if (!transaction.begin() || (isShared() && !m_database.exec("SET LOCAL synchronous_commit = off")))
        return failed(why);
    for (const JournalEnd &end : ends) {
        if (!writeEnd(end, why))
            return false;
    }
    return transaction.commit() || failed(why);
}

bool JournalStore::complete(const JournalEnd &end, QString *why) {
    return complete(QList<JournalEnd>{end}, why);
}

void JournalStore::pruneStep(const QDateTime &now) {
    if (m_retentionDays <= 0 || !m_prune.isValid() || m_prunedUntil == now.date())
        return;
    const qint64 before = now.addDays(-m_retentionDays).toMSecsSinceEpoch();
    JournalTransaction transaction(m_database);
    StatementInUse latestUse(m_pruneLatest);
    StatementInUse use(m_prune);
    const bool pruned = transaction.begin() && m_pruneLatest.bind(1, before) &&
                        m_pruneLatest.bind(2, qint64(PruneRowsPerStep)) && m_pruneLatest.run() &&
                        m_prune.bind(1, before) && m_prune.bind(2, qint64(PruneRowsPerStep)) && m_prune.run();
    const qint64 deleted = m_prune.affectedRows();
    if (!pruned || !transaction.commit()) {
        qCDebug(lcJournal) << "pruning failed:" << m_database.errorText();
        return;
    }
    if (deleted < PruneRowsPerStep)
        m_prunedUntil = now.date();
}

bool JournalStore::readRows(JournalStatement &statement, const std::function<bool(JournalPosting &&)> &each,
                            QString *why) {
    for (;;) {
        switch (statement.step()) {
        case JournalStatement::Step::Row:
            if (!each(rowOf(statement)))
                return true;
            break;
        case JournalStatement::Step::Done:
            return true;
        case JournalStatement::Step::Failed:
            return failed(why);
        }
    }
}

bool JournalStore::read(const JournalFilter &filter, const std::function<bool(JournalPosting &&)> &each,
                        QString *why) {
    const QByteArray sql = "SELECT " ORVEX_POSTING_COLUMNS ", " + hostColumn(m_schemaVersion) +
                           " FROM posting WHERE 1 = 1" + listingCondition(filter, m_schemaVersion) +
                           timeCondition(filter) + resultCondition(filter.result) + " ORDER BY start_ms, id";
    JournalStatement statement = m_database.prepare(sql, JournalConnection::Rows::Streamed);
    if (!statement.isValid() || !bindFilter(statement, filter))
        return failed(why);
    return readRows(statement, each, why);
}

bool JournalStore::readLatest(const JournalFilter &filter, const std::function<bool(JournalPosting &&)> &each,
                              QString *why) {
    // A journal no server of this version has opened yet has no table of the last postings: its query
    // reads every posting once.
    const QByteArray sql =
        m_schemaVersion >= 2
            ? "SELECT " ORVEX_POSTING_COLUMNS_OF_POSTING ", " + hostColumn(m_schemaVersion) +
                  " FROM posting_latest JOIN posting ON posting.id = posting_latest.posting WHERE 1 = "
                  "1" +
                  listingCondition(filter, m_schemaVersion, "posting_latest") +
                  resultCondition(filter.result) + " ORDER BY posting_latest.board, posting_latest.job_code"
            : "SELECT " ORVEX_POSTING_COLUMNS ", '' FROM (SELECT *, max(id) FROM posting WHERE 1 = 1" +
                  listingCondition(filter, m_schemaVersion) + " GROUP BY board, job_code) WHERE 1 = 1" +
                  resultCondition(filter.result) + " ORDER BY board, job_code";
    // Its times are not used, so not bound: a parameter the text lacks fails the read.
    JournalFilter pairs = filter;
    pairs.from.reset();
    pairs.to.reset();
    JournalStatement statement = m_database.prepare(sql, JournalConnection::Rows::Streamed);
    if (!statement.isValid() || !bindFilter(statement, pairs))
        return failed(why);
    return readRows(statement, each, why);
}

bool JournalStore::readCallsOf(qint64 processId, const QString &objectPath, const QDateTime &since,
                               const std::function<bool(JournalPosting &&)> &each, QString *why) {
    const QByteArray sql = "SELECT " ORVEX_POSTING_COLUMNS ", " + hostColumn(m_schemaVersion) +
                           " FROM posting WHERE pid = ?1 AND object = ?2 AND start_ms >= ?3 ORDER BY id";
    JournalStatement statement = m_database.prepare(sql);
    if (!statement.isValid() || !statement.bind(1, processId) || !statement.bind(2, objectPath) ||
        !statement.bind(3, since.toMSecsSinceEpoch()))
        return failed(why);
    return readRows(statement, each, why);
}

std::optional<bool> JournalStore::succeededSince(const QString &board, const QString &action,
                                                 const QString &jobCode, const QDateTime &since) {
    if (!m_succeeded.isValid())
        m_succeeded = m_database.prepare(SucceededSince);
    if (!m_succeeded.isValid())
        return std::nullopt;
    StatementInUse use(m_succeeded);
    if (!m_succeeded.bind(1, board) || !m_succeeded.bind(2, action) || !m_succeeded.bind(3, jobCode) ||
        !m_succeeded.bind(4, since.toMSecsSinceEpoch()))
        return std::nullopt;
    switch (m_succeeded.step()) {
    case JournalStatement::Step::Row:
        return true;
    case JournalStatement::Step::Done:
        return false;
    case JournalStatement::Step::Failed:
        break;
    }
    return std::nullopt;
}

} // namespace Orvex
