#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

namespace Orvex {

class SqliteStatement;

// One SQLite connection, closed on every way out. Statements are prepared once and kept for the
// connection's life, so a posting's writes cost no parsing.
class SqliteDatabase {
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase &) = delete;
    SqliteDatabase &operator=(const SqliteDatabase &) = delete;

    // Opens path (native) with SQLITE_OPEN_* flags and extended result codes; false with why.
    bool open(const QByteArray &path, int flags, QString *why);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    sqlite3 *handle() const { return m_db; }

    // Runs statements that return no rows; false with why.
    bool exec(const char *sql, QString *why = nullptr);
    // A statement kept for the connection's life; invalid with why.
    SqliteStatement prepare(const char *sql, QString *why = nullptr);
    // The first column of the first row of sql, or fallback.
    qint64 integerOf(const char *sql, qint64 fallback);

    QString errorText() const;
    int errorCode() const;

private:
    sqlite3 *m_db = nullptr;
};

// One prepared statement, finalized on every way out.
class SqliteStatement {
public:
    enum class Step { Row, Done, Failed };

    SqliteStatement() = default;
    explicit SqliteStatement(sqlite3_stmt *statement)
        : m_statement(statement) {}
    ~SqliteStatement();
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return m_statement != nullptr; }

    // Parameters count from 1, as SQLite counts them.
    void bind(int index, qint64 value);
    void bind(int index, const QString &text);
    void bindNull(int index);

    Step step();
    // Back to its start with no parameters bound, which also ends the read it held.
    void reset();

    // Columns count from 0.
    qint64 integer(int column) const;
    QString text(int column) const;
    bool isNull(int column) const;

private:
    sqlite3_stmt *m_statement = nullptr;
};

// Resets a statement when its use ends, whichever way it ends, so no read stays open behind it.
class StatementUse {
public:
    explicit StatementUse(SqliteStatement &statement)
        : m_statement(statement) {
        m_statement.reset();
    }
    ~StatementUse() { m_statement.reset(); }
    StatementUse(const StatementUse &) = delete;
    StatementUse &operator=(const StatementUse &) = delete;

    SqliteStatement *operator->() { return &m_statement; }

private:
    SqliteStatement &m_statement;
};

// BEGIN IMMEDIATE, so a writer waits for the lock at the start (within the busy timeout), never midway;
// rolled back unless committed.
class SqliteTransaction {
public:
    explicit SqliteTransaction(SqliteDatabase &database);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction &) = delete;
    SqliteTransaction &operator=(const SqliteTransaction &) = delete;

    bool isActive() const { return m_active; }
    bool commit(QString *why = nullptr);

private:
    SqliteDatabase &m_database;
    bool m_active = false;
};

} // namespace Orvex
