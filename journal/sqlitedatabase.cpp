#include "sqlitedatabase.h"

#include <sqlite3.h>

#include <utility>

namespace Orvex {

SqliteDatabase::~SqliteDatabase() {
    close();
}

bool SqliteDatabase::open(const QByteArray &path, int flags, QString *why) {
    close();
    sqlite3 *db = nullptr;
    const int result = sqlite3_open_v2(path.constData(), &db, flags, nullptr);
    // A handle comes back even on failure, carrying the message.
    m_db = db;
    if (result != SQLITE_OK) {
        if (why)
            *why = db ? errorText() : QString::fromUtf8(sqlite3_errstr(result));
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    return true;
}

void SqliteDatabase::close() {
    // _v2: statements still prepared are finalized by their owners later without touching a freed handle.
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool SqliteDatabase::exec(const char *sql, QString *why) {
    if (!m_db)
        return false;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (why)
        *why = errorText();
    return false;
}

SqliteStatement SqliteDatabase::prepare(const char *sql, QString *why) {
    sqlite3_stmt *statement = nullptr;
    if (!m_db ||
        sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
        if (why)
            *why = errorText();
        return SqliteStatement();
    }
    return SqliteStatement(statement);
}

qint64 SqliteDatabase::integerOf(const char *sql, qint64 fallback) {
    SqliteStatement statement = prepare(sql);
    if (!statement.isValid() || statement.step() != SqliteStatement::Step::Row)
        return fallback;
    return statement.integer(0);
}

QString SqliteDatabase::errorText() const {
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("no database");
}

int SqliteDatabase::errorCode() const {
    return m_db ? sqlite3_extended_errcode(m_db) : SQLITE_MISUSE;
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_statement);
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr)) {}

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept {
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
    }
    return *this;
}

void SqliteStatement::bind(int index, qint64 value) {
    sqlite3_bind_int64(m_statement, index, value);
}

void SqliteStatement::bind(int index, const QString &text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::bindNull(int index) {
    sqlite3_bind_null(m_statement, index);
}

SqliteStatement::Step SqliteStatement::step() {
    if (!m_statement)
        return Step::Failed;
    switch (sqlite3_step(m_statement)) {
    case SQLITE_ROW:
        return Step::Row;
    case SQLITE_DONE:
        return Step::Done;
    default:
        return Step::Failed;
    }
}

void SqliteStatement::reset() {
    if (!m_statement)
        return;
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

qint64 SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

QString SqliteStatement::text(int column) const {
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(m_statement, column));
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

SqliteTransaction::SqliteTransaction(SqliteDatabase &database)
    : m_database(database)
    , m_active(database.exec("BEGIN IMMEDIATE")) {}

SqliteTransaction::~SqliteTransaction() {
    if (m_active)
        m_database.exec("ROLLBACK");
}

bool SqliteTransaction::commit(QString *why) {
    if (!m_active)
        return false;
    m_active = false;
    if (m_database.exec("COMMIT", why))
        return true;
    m_database.exec("ROLLBACK");
    return false;
}

} // namespace Orvex
