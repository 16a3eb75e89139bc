#include "sqlitedatabase.h"

#include <QtGlobal>

#include <sqlite3.h>

#include <utility>

namespace Orvex {

namespace {

// Opens a WAL that is already there without O_CREAT, so SQLite does not sync its folder at the first commit
// of every connection: the run that made the file synced its folder entry then. A WAL that is missing, or
// went between the look and the open, is made as SQLite makes it.
int openWalKeepingFolder(sqlite3_vfs *vfs, const char *name, sqlite3_file *file, int flags, int *outFlags) {
    auto *system = static_cast<sqlite3_vfs *>(vfs->pAppData);
    if ((flags & SQLITE_OPEN_WAL) && (flags & SQLITE_OPEN_CREATE) && name &&
        system->xOpen(system, name, file, flags & ~SQLITE_OPEN_CREATE, outFlags) == SQLITE_OK)
        return SQLITE_OK;
    return system->xOpen(system, name, file, flags, outFlags);
}

// The system's VFS with that one change, registered once; nullptr (the system's) if it cannot be. Every
// other call is the system's own, which reads no state of its VFS object but in xOpen.
const char *journalVfs() {
    static sqlite3_vfs vfs = [] {
        sqlite3_vfs *system = sqlite3_vfs_find(nullptr);
        sqlite3_vfs made = *system;
        made.pNext = nullptr;
        made.zName = "orvex-journal";
        made.pAppData = system;
        made.xOpen = openWalKeepingFolder;
        return made;
    }();
    static const bool registered = sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    return registered ? vfs.zName : nullptr;
}

} // namespace

SqliteDatabase::~SqliteDatabase() {
    close();
}

bool SqliteDatabase::open(const QByteArray &path, int flags) {
    close();
    m_thread = std::this_thread::get_id();
    sqlite3 *db = nullptr;
    const int result = sqlite3_open_v2(path.constData(), &db, flags, journalVfs());
    // A handle comes back even on failure, carrying the message.
    m_db = db;
    if (result != SQLITE_OK) {
        failed(result,
               db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(result)));
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    m_error = {};
    return true;
}

void SqliteDatabase::close() {
    // _v2: statements still prepared are finalized by their owners later without touching a freed handle.
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void SqliteDatabase::checkThread() const {
    // Statements are never shared across threads: a second thread here is a fault of the caller.
    Q_ASSERT_X(m_thread == std::this_thread::get_id(), "SqliteDatabase",
               "used by a thread that did not open it");
}

bool SqliteDatabase::failed() {
    if (!m_db)
        return failed(SQLITE_MISUSE, QStringLiteral("no database"));
    return failed(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
}

bool SqliteDatabase::failed(int code, const QString &message) {
    m_error = {code, message};
    return false;
}

bool SqliteDatabase::exec(const char *sql) {
    if (!m_db)
        return failed();
    checkThread();
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || failed();
}

SqliteStatement SqliteDatabase::prepare(const char *sql) {
    if (!m_db) {
        failed();
        return SqliteStatement();
    }
    checkThread();
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
        failed();
        return SqliteStatement();
    }
    return SqliteStatement(*this, statement);
}

std::optional<qint64> SqliteDatabase::integerOf(const char *sql) {
    SqliteStatement statement = prepare(sql);
    if (!statement.isValid() || statement.step() != SqliteStatement::Step::Row)
        return std::nullopt;
    return statement.integer(0);
}

qint64 SqliteDatabase::changes() const {
    return m_db ? sqlite3_changes64(m_db) : 0;
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_statement);
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_database(std::exchange(other.m_database, nullptr))
    , m_statement(std::exchange(other.m_statement, nullptr))
    , m_bindFailed(std::exchange(other.m_bindFailed, false))
    , m_lastTexts(std::move(other.m_lastTexts)) {}

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept {
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_database = std::exchange(other.m_database, nullptr);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_bindFailed = std::exchange(other.m_bindFailed, false);
        m_lastTexts = std::move(other.m_lastTexts);
    }
    return *this;
}

bool SqliteStatement::bound(int result) {
    if (result == SQLITE_OK)
        return true;
    m_bindFailed = true;
    if (m_database)
        m_database->failed();
    return false;
}

bool SqliteStatement::bind(int index, qint64 value) {
    return m_statement ? bound(sqlite3_bind_int64(m_statement, index, value)) : bound(SQLITE_MISUSE);
}

bool SqliteStatement::bind(int index, const QString &text) {
    if (!m_statement)
        return bound(SQLITE_MISUSE);
    const QByteArray utf8 = text.toUtf8();
    return bound(sqlite3_bind_text64(m_statement, index, utf8.constData(), sqlite3_uint64(utf8.size()),
                                     SQLITE_TRANSIENT, SQLITE_UTF8));
}

bool SqliteStatement::bindNull(int index) {
    return m_statement ? bound(sqlite3_bind_null(m_statement, index)) : bound(SQLITE_MISUSE);
}

SqliteStatement::Step SqliteStatement::step() {
    if (!m_statement || !m_database)
        return Step::Failed;
    // The error of the failed bind is already the connection's.
    if (m_bindFailed)
        return Step::Failed;
    m_database->checkThread();
    switch (sqlite3_step(m_statement)) {
    case SQLITE_ROW:
        return Step::Row;
    case SQLITE_DONE:
        return Step::Done;
    default:
        m_database->failed();
        return Step::Failed;
    }
}

void SqliteStatement::reset() {
    if (!m_statement)
        return;
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    m_bindFailed = false;
}

qint64 SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

QString SqliteStatement::text(int column) const {
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    const std::string_view text(bytes ? bytes : "", size_t(sqlite3_column_bytes(m_statement, column)));
    if (text.empty() || column < 0)
        return QString::fromUtf8(bytes, qsizetype(text.size()));
    if (size_t(column) >= m_lastTexts.size())
        m_lastTexts.resize(size_t(column) + 1);
    LastText &last = m_lastTexts[size_t(column)];
    if (last.bytes != text) {
        last.bytes.assign(text);
        last.text = QString::fromUtf8(text.data(), qsizetype(text.size()));
    }
    return last.text;
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

SqliteTransaction::~SqliteTransaction() {
    if (!m_active)
        return;
    // The error that ended the transaction early stays the one the caller reads.
    const DatabaseError cause = m_database.error();
    m_database.exec("ROLLBACK");
    m_database.failed(cause.code, cause.message);
}

bool SqliteTransaction::begin(Mode mode) {
    m_active = m_database.exec(mode == Mode::Immediate ? "BEGIN IMMEDIATE" : "BEGIN");
    return m_active;
}

bool SqliteTransaction::commit() {
    if (!m_active)
        return false;
    if (!m_database.exec("COMMIT"))
        return false; // the destructor rolls back what COMMIT left open
    m_active = false;
    return true;
}

} // namespace Orvex
