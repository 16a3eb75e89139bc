#pragma once

#include "postgresdatabase.h"
#include "sqlitedatabase.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>

namespace Orvex {

class JournalConnection;

// One prepared statement of the journal on either engine, used as SQLite's is: bind, then step.
class JournalStatement {
public:
    enum class Step { Row, Done, Failed };

    JournalStatement() = default;
    JournalStatement(JournalConnection &connection, SqliteStatement statement);
    JournalStatement(JournalConnection &connection, PostgresStatement statement);

    bool isValid() const;
    // Parameters count from 1, as SQLite numbers them.
    bool bind(int index, qint64 value);
    bool bind(int index, const QString &text);
    bool bindNull(int index);
    Step step();
    bool run() { return step() == Step::Done; }
    void reset();
    // Rows the last run touched (INSERT, UPDATE, DELETE).
    qint64 affectedRows() const;

    // Columns count from 0.
    qint64 integer(int column) const;
    QString text(int column) const;
    bool isNull(int column) const;

private:
    bool kept(bool succeeded);

    JournalConnection *m_connection = nullptr;
    std::variant<std::monostate, SqliteStatement, PostgresStatement> m_statement;
};

// The journal's one connection, to an SQLite file or a PostgreSQL database, behind the few calls the
// journal makes, so that every question is asked in one SQL text for both. Keeps the last failure's words.
class JournalConnection {
public:
    enum class Engine { None, Sqlite, Postgres };
    // Whether a statement's rows may all be held at once (PostgreSQL's way), or come as they are read
    // (SQLite's): for reads as long as the journal.
    enum class Rows { Whole, Streamed };

    bool openSqlite(const QByteArray &path, int flags);
    bool openPostgres(const QString &uri);
    void close();
    bool isOpen() const;
    Engine engine() const { return m_engine; }
    SqliteDatabase &sqlite() { return m_sqlite; }
    PostgresDatabase &postgres() { return m_postgres; }

    bool exec(const char *sql);
    JournalStatement prepare(const QByteArray &sql, Rows rows = Rows::Whole);
    std::optional<qint64> integerOf(const char *sql);

    // Why the last call failed, in the engine's words; never a password.
    QString errorText() const;
    // Whether the last failure was the server lost (PostgreSQL's SQLSTATE class 08): reconnect to go on.
    bool isConnectionLost() const;
    // Kept by statements as they fail.
    void keep(const PostgresError &error) { m_postgresError = error; }

private:
    Engine m_engine = Engine::None;
    SqliteDatabase m_sqlite;
    PostgresDatabase m_postgres;
    PostgresError m_postgresError;
};

// A transaction that holds the journal's write lock from its start (SQLite's BEGIN IMMEDIATE; PostgreSQL
// takes its locks as it goes), rolled back unless commit() succeeded.
class JournalTransaction {
public:
    explicit JournalTransaction(JournalConnection &connection)
        : m_connection(connection) {}
    ~JournalTransaction();
    JournalTransaction(const JournalTransaction &) = delete;
    JournalTransaction &operator=(const JournalTransaction &) = delete;

    bool begin();
    bool commit();

private:
    JournalConnection &m_connection;
    bool m_active = false;
};

} // namespace Orvex
