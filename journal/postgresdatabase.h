#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>
#include <utility>
#include <vector>

struct pg_conn;
struct pg_result;

namespace Orvex {

// One parameter's text as libpq takes it; null is SQL's NULL, which an empty text is not.
struct PostgresValue {
    QByteArray text;
    bool null = true;

    static PostgresValue of(QByteArray bytes) { return {std::move(bytes), false}; }
    const char *data() const { return null ? nullptr : text.constData(); }
};

// A failure as the server or libpq reported it: the SQLSTATE (class 08 when the connection is gone, empty
// when libpq gave none) and the words. Never holds a password.
struct PostgresError {
    QString sqlState;
    QString message;

    bool isConnectionLost() const { return sqlState.startsWith(QLatin1StringView("08")); }
    // "message (SQLSTATE 42P01)", or the message alone.
    QString text() const;
};

// A libpq connection URI (postgresql:// or postgres://), as Journal= takes it.
bool isPostgresUri(QStringView text);
// Why libpq would not take uri, in words that do not show its password; nothing when it parses.
std::optional<QString> postgresUriProblem(const QString &uri);
// uri as every message, record and listing shows it: without its user-info, by the rule for every URL we
// show, and without a password= or sslpassword= parameter.
QString postgresDisplayText(const QString &uri);

// Parameters of one statement, sent as text, $1 first.
class PostgresParameters {
public:
    PostgresParameters &add(qint64 value);
    PostgresParameters &add(const QString &value);
    PostgresParameters &addNull();

    int count() const { return int(m_values.size()); }
    // Pointers into this object, valid while it lives unchanged.
    std::vector<const char *> values() const;

private:
    QList<PostgresValue> m_values;
};

// One result, cleared on every way out. Only results that succeeded are ever handed out.
class PostgresResult {
public:
    explicit PostgresResult(pg_result *result = nullptr)
        : m_result(result) {}
    ~PostgresResult();
    PostgresResult(PostgresResult &&other) noexcept;
    PostgresResult &operator=(PostgresResult &&other) noexcept;
    PostgresResult(const PostgresResult &) = delete;
    PostgresResult &operator=(const PostgresResult &) = delete;

    int rows() const;
    int columns() const;
    // Rows and columns count from 0.
    QString text(int row, int column) const;
    // The column's integer; nullopt when it is NULL or not an integer.
    std::optional<qint64> integer(int row, int column) const;
    bool isNull(int row, int column) const;
    // Rows an INSERT, UPDATE or DELETE touched.
    qint64 affectedRows() const;
    // "INSERT 0 1", "COMMIT", "ROLLBACK", ...
    QString commandTag() const;

private:
    pg_result *m_result = nullptr;
};

// sql with SQLite's parameters (?1, ?2, or a bare ? counted on from the last) written as PostgreSQL's ($1,
// $2), outside quoted text and names, so that one statement text serves both engines. PostgreSQL wants
// them without gaps, so they are numbered in the order of their first use: parameters[k] is the SQLite
// number that $k+1 stands for.
struct PostgresSql {
    QByteArray text;
    QList<int> parameters;
};
PostgresSql postgresPlaceholders(const QByteArray &sql);

// A schema written for SQLite as PostgreSQL takes it: INTEGER is 64 bits in SQLite, so BIGINT here, and
// an INTEGER PRIMARY KEY, SQLite's row number, an identity column. Outside quoted text and names.
QByteArray postgresSchema(const QByteArray &sqliteSchema);

class PostgresDatabase;

// A cursor over one run of a streamed statement, so that its rows come a batch at a time and memory does
// not grow with them. It lives in the transaction that was open, else in one of its own; closed, and its
// own transaction ended, on every way out.
class PostgresCursor {
public:
    // Rows a fetch brings: a few MiB at most.
    static constexpr int FetchRows = 10'000;

    PostgresCursor() = default;
    ~PostgresCursor() { close(); }
    PostgresCursor(PostgresCursor &&other) noexcept;
    PostgresCursor &operator=(PostgresCursor &&other) noexcept;
    PostgresCursor(const PostgresCursor &) = delete;
    PostgresCursor &operator=(const PostgresCursor &) = delete;

    // Declares the cursor name for sql, which has PostgreSQL's parameters, with values.
    bool open(PostgresDatabase &database, const QByteArray &name, const QByteArray &sql,
              const std::vector<const char *> &values, PostgresError *error);
    bool isOpen() const { return m_database != nullptr; }
    // The next FetchRows rows at most; fewer when the last were reached.
    std::optional<PostgresResult> fetch(PostgresError *error);
    void close();

private:
    PostgresDatabase *m_database = nullptr;
    QByteArray m_name;
    bool m_ownTransaction = false;
};

// A statement prepared on one connection, used as an SQLite statement is: bind, then step through the rows.
// The first step sends it; a failure is kept with its SQLSTATE. A streamed statement reads its rows
// through a cursor, a batch at a time, rather than all at once.
class PostgresStatement {
public:
    enum class Step { Row, Done, Failed };

    PostgresStatement() = default;
    PostgresStatement(PostgresDatabase *database, QByteArray name, PostgresSql sql, bool streamed)
        : m_database(database)
        , m_name(std::move(name))
        , m_parameters(std::move(sql.parameters))
        , m_sql(streamed ? std::move(sql.text) : QByteArray()) {}

    bool isValid() const { return m_database != nullptr; }

    // Parameters count from 1, as SQLite numbers them; false for one the statement does not have.
    bool bind(int index, qint64 value);
    bool bind(int index, const QString &text);
    bool bindNull(int index);

    Step step();
    // Steps a statement that returns no rows; false when it failed.
    bool run() { return step() == Step::Done; }
    // Back to its start with no parameters bound.
    void reset();
    PostgresError error() const { return m_error; }
    // Rows the last run touched (INSERT, UPDATE, DELETE).
    qint64 affectedRows() const { return m_result ? m_result->affectedRows() : 0; }

    // Columns count from 0, in the row the last step reached.
    qint64 integer(int column) const;
    QString text(int column) const;
    bool isNull(int column) const;

private:
    bool bindValue(int index, PostgresValue value);
    bool fetchNext();

    PostgresDatabase *m_database = nullptr;
    QByteArray m_name;
    QList<int> m_parameters;
    QByteArray m_sql; // a streamed statement's text, which its cursor is declared for
    QList<PostgresValue> m_values;
    std::optional<PostgresResult> m_result;
    PostgresCursor m_cursor;
    int m_row = -1;
    PostgresError m_error;
};

// One connection to a PostgreSQL server, closed on every way out. Every call checks its result and hands
// back SQLSTATE and message; the server's notices go to the journal's log category, never to stderr.
class PostgresDatabase {
public:
    PostgresDatabase() = default;
    ~PostgresDatabase();
    PostgresDatabase(const PostgresDatabase &) = delete;
    PostgresDatabase &operator=(const PostgresDatabase &) = delete;

    // Connects to uri (which must be a PostgreSQL URI); false with why.
    bool open(const QString &uri, PostgresError *error);
    void close();
    bool isOpen() const { return m_connection != nullptr; }
    // The URI as it may be shown.
    QString displayText() const { return m_displayText; }

    // Runs sql, which may hold several statements and returns no rows we read; false with why.
    bool exec(const char *sql, PostgresError *error = nullptr);
    // Prepares sql under name for this connection's life.
    bool prepare(const char *name, const char *sql, int parameterCount, PostgresError *error = nullptr);
    // Runs the statement prepared as name.
    std::optional<PostgresResult> run(const char *name, const PostgresParameters &parameters,
                                      PostgresError *error = nullptr);
    // sql, with SQLite's parameters or PostgreSQL's, prepared for this connection's life; invalid with why.
    // Streamed, its rows are read through a cursor.
    PostgresStatement statement(const QByteArray &sql, PostgresError *error = nullptr, bool streamed = false);
    // The first column of the first row of sql; nothing when it cannot be read.
    std::optional<qint64> integerOf(const char *sql, PostgresError *error = nullptr);
    // Runs sql once, unprepared.
    std::optional<PostgresResult> query(const char *sql, const PostgresParameters &parameters = {},
                                        PostgresError *error = nullptr);
    // Whether a transaction is open (or failed and not yet ended).
    bool inTransaction() const;

private:
    friend class PostgresStatement;
    friend class PostgresCursor;
    std::optional<PostgresResult> queryValues(const char *sql, const std::vector<const char *> &values,
                                              PostgresError *error);
    std::optional<PostgresResult> runValues(const char *name, const std::vector<const char *> &values,
                                            PostgresError *error);
    std::optional<PostgresResult> checked(pg_result *result, PostgresError *error) const;
    PostgresError connectionError() const;

    pg_conn *m_connection = nullptr;
    QString m_displayText;
    int m_statements = 0;
};

// BEGIN at construction, ROLLBACK at destruction unless commit() succeeded.
class PostgresTransaction {
public:
    explicit PostgresTransaction(PostgresDatabase &database, PostgresError *error = nullptr);
    ~PostgresTransaction();
    PostgresTransaction(const PostgresTransaction &) = delete;
    PostgresTransaction &operator=(const PostgresTransaction &) = delete;

    bool isActive() const { return m_active; }
    bool commit(PostgresError *error = nullptr);

private:
    PostgresDatabase &m_database;
    bool m_active = false;
};

} // namespace Orvex
