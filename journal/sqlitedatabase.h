#pragma once

#include "databaseerror.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace Orvex {

class SqliteStatement;

// One SQLite connection, closed on every way out. Every call that fails keeps SQLite's extended result
// code and message in error(), so no failure is dropped on its way to the caller. A connection and its
// statements belong to the thread that opened it.
class SqliteDatabase {
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase &) = delete;
    SqliteDatabase &operator=(const SqliteDatabase &) = delete;

    // Opens path (native) with SQLITE_OPEN_* flags and extended result codes.
    bool open(const QByteArray &path, int flags);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    sqlite3 *handle() const { return m_db; }

    // Runs statements that return no rows.
    bool exec(const char *sql);
    // A statement kept for the connection's life, so a posting's writes cost no parsing; invalid on failure.
    SqliteStatement prepare(const char *sql);
    // The first column of the first row of sql; nothing when it cannot be read.
    std::optional<qint64> integerOf(const char *sql);
    qint64 changes() const;

    // The last failure of this connection or of one of its statements.
    const DatabaseError &error() const { return m_error; }
    // Keeps the connection's current error; returns false, for the caller's return.
    bool failed();
    bool failed(int code, const QString &message);

private:
    friend class SqliteStatement;
    void checkThread() const;

    sqlite3 *m_db = nullptr;
    DatabaseError m_error;
    std::thread::id m_thread;
};

// One prepared statement, finalized on every way out. A bind that fails poisons the statement: its next
// step fails with the bind's error instead of running with a parameter missing.
class SqliteStatement {
public:
    enum class Step { Row, Done, Failed };

    SqliteStatement() = default;
    SqliteStatement(SqliteDatabase &database, sqlite3_stmt *statement)
        : m_database(&database)
        , m_statement(statement) {}
    ~SqliteStatement();
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return m_statement != nullptr; }

    // Parameters count from 1, as SQLite counts them; each returns whether it bound.
    bool bind(int index, qint64 value);
    bool bind(int index, const QString &text);
    bool bindNull(int index);

    Step step();
    // Steps a statement that returns no rows; false when it failed.
    bool run() { return step() == Step::Done; }
    // Back to its start with no parameters bound, which also ends the read it held.
    void reset();

    // Columns count from 0.
    qint64 integer(int column) const;
    QString text(int column) const;
    bool isNull(int column) const;

private:
    bool bound(int result);

    // The text last read from a column, kept with its bytes.
    struct LastText {
        std::string bytes;
        QString text;
    };

    SqliteDatabase *m_database = nullptr;
    sqlite3_stmt *m_statement = nullptr;
    bool m_bindFailed = false;
    // Rows of a long read repeat most of their texts (a board, an action, an object path): each column's
    // last one is shared rather than made again.
    mutable std::vector<LastText> m_lastTexts;
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

private:
    SqliteStatement &m_statement;
};

// A transaction begun explicitly and rolled back unless commit() succeeded. Immediate takes the write lock
// at the start (within the busy timeout), so a writer never fails midway for want of it.
class SqliteTransaction {
public:
    enum class Mode { Deferred, Immediate };

    explicit SqliteTransaction(SqliteDatabase &database)
        : m_database(database) {}
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction &) = delete;
    SqliteTransaction &operator=(const SqliteTransaction &) = delete;

    bool begin(Mode mode = Mode::Immediate);
    bool commit();

private:
    SqliteDatabase &m_database;
    bool m_active = false;
};

} // namespace Orvex
