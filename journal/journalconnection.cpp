#include "journalconnection.h"

namespace Orvex {

JournalStatement::JournalStatement(JournalConnection &connection, SqliteStatement statement)
    : m_connection(&connection)
    , m_statement(std::move(statement)) {}

JournalStatement::JournalStatement(JournalConnection &connection, PostgresStatement statement)
    : m_connection(&connection)
    , m_statement(std::move(statement)) {}

bool JournalStatement::isValid() const {
    return std::visit(
        [](const auto &statement) {
            if constexpr (std::is_same_v<std::decay_t<decltype(statement)>, std::monostate>)
                return false;
            else
                return statement.isValid();
        },
        m_statement);
}

bool JournalStatement::kept(bool succeeded) {
    if (!succeeded)
        if (const auto *postgres = std::get_if<PostgresStatement>(&m_statement))
            m_connection->keep(postgres->error());
    return succeeded;
}

bool JournalStatement::bind(int index, qint64 value) {
    if (auto *sqlite = std::get_if<SqliteStatement>(&m_statement))
        return sqlite->bind(index, value);
    if (auto *postgres = std::get_if<PostgresStatement>(&m_statement))
        return kept(postgres->bind(index, value));
    return false;
}

bool JournalStatement::bind(int index, const QString &text) {
    if (auto *sqlite = std::get_if<SqliteStatement>(&m_statement))
        return sqlite->bind(index, text);
    if (auto *postgres = std::get_if<PostgresStatement>(&m_statement))
        return kept(postgres->bind(index, text));
    return false;
}

bool JournalStatement::bindNull(int index) {
    if (auto *sqlite = std::get_if<SqliteStatement>(&m_statement))
        return sqlite->bindNull(index);
    if (auto *postgres = std::get_if<PostgresStatement>(&m_statement))
        return kept(postgres->bindNull(index));
    return false;
}

JournalStatement::Step JournalStatement::step() {
    if (auto *sqlite = std::get_if<SqliteStatement>(&m_statement)) {
        switch (sqlite->step()) {
        case SqliteStatement::Step::Row:
            return Step::Row;
        case SqliteStatement::Step::Done:
            return Step::Done;
        case SqliteStatement::Step::Failed:
            break;
        }
        return Step::Failed;
    }
    if (auto *postgres = std::get_if<PostgresStatement>(&m_statement)) {
        switch (postgres->step()) {
        case PostgresStatement::Step::Row:
            return Step::Row;
        case PostgresStatement::Step::Done:
            return Step::Done;
        case PostgresStatement::Step::Failed:
            break;
        }
        kept(false);
    }
    return Step::Failed;
}

void JournalStatement::reset() {
    std::visit(
        [](auto &statement) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(statement)>, std::monostate>)
                statement.reset();
        },
        m_statement);
}

qint64 JournalStatement::affectedRows() const {
    if (const auto *postgres = std::get_if<PostgresStatement>(&m_statement))
        return postgres->affectedRows();
    return m_connection ? m_connection->sqlite().changes() : 0;
}

qint64 JournalStatement::integer(int column) const {
    return std::visit(
        [column](const auto &statement) -> qint64 {
            if constexpr (std::is_same_v<std::decay_t<decltype(statement)>, std::monostate>)
                return 0;
            else
                return statement.integer(column);
        },
        m_statement);
}

QString JournalStatement::text(int column) const {
    return std::visit(
        [column](const auto &statement) -> QString {
            if constexpr (std::is_same_v<std::decay_t<decltype(statement)>, std::monostate>)
                return QString();
            else
                return statement.text(column);
        },
        m_statement);
}

bool JournalStatement::isNull(int column) const {
    return std::visit(
        [column](const auto &statement) {
            if constexpr (std::is_same_v<std::decay_t<decltype(statement)>, std::monostate>)
                return true;
            else
                return statement.isNull(column);
        },
        m_statement);
}

bool JournalConnection::openSqlite(const QByteArray &path, int flags) {
    close();
    if (!m_sqlite.open(path, flags))
        return false;
    m_engine = Engine::Sqlite;
    return true;
}

bool JournalConnection::openPostgres(const QString &uri) {
    close();
    if (!m_postgres.open(uri, &m_postgresError))
        return false;
    m_engine = Engine::Postgres;
    return true;
}

void JournalConnection::close() {
    m_sqlite.close();
    m_postgres.close();
    m_engine = Engine::None;
}

bool JournalConnection::isOpen() const {
    switch (m_engine) {
    case Engine::Sqlite:
        return m_sqlite.isOpen();
    case Engine::Postgres:
        return m_postgres.isOpen();
    case Engine::None:
        break;
    }
    return false;
}

bool JournalConnection::exec(const char *sql) {
    if (m_engine == Engine::Postgres)
        return m_postgres.exec(sql, &m_postgresError);
    return m_sqlite.exec(sql);
}

JournalStatement JournalConnection::prepare(const QByteArray &sql, Rows rows) {
    if (m_engine == Engine::Postgres) {
        PostgresStatement statement = m_postgres.statement(sql, &m_postgresError, rows == Rows::Streamed);
        return statement.isValid() ? JournalStatement(*this, std::move(statement)) : JournalStatement();
    }
    SqliteStatement statement = m_sqlite.prepare(sql.constData());
    return statement.isValid() ? JournalStatement(*this, std::move(statement)) : JournalStatement();
}

std::optional<qint64> JournalConnection::integerOf(const char *sql) {
    if (m_engine == Engine::Postgres) {
        // No row is no failure of the server's: no earlier failure's words may stand for it.
        m_postgresError = {};
        return m_postgres.integerOf(sql, &m_postgresError);
    }
    return m_sqlite.integerOf(sql);
}

QString JournalConnection::errorText() const {
    if (m_engine == Engine::Sqlite)
        return m_sqlite.error().message;
    return m_postgresError.text();
}

bool JournalConnection::isConnectionLost() const {
    return m_engine != Engine::Sqlite && m_postgresError.isConnectionLost();
}

JournalTransaction::~JournalTransaction() {
    if (!m_active)
        return;
    if (m_connection.engine() == JournalConnection::Engine::Sqlite) {
        // The error that ended the transaction early stays the one the caller reads.
        const DatabaseError cause = m_connection.sqlite().error();
        m_connection.sqlite().exec("ROLLBACK");
        m_connection.sqlite().failed(cause.code, cause.message);
    } else {
        m_connection.postgres().exec("ROLLBACK");
    }
}

bool JournalTransaction::begin() {
    m_active = m_connection.exec(
        m_connection.engine() == JournalConnection::Engine::Sqlite ? "BEGIN IMMEDIATE" : "BEGIN");
    return m_active;
}

bool JournalTransaction::commit() {
    if (!m_active)
        return false;
    if (m_connection.engine() == JournalConnection::Engine::Postgres) {
        // PostgresTransaction's rule: a COMMIT the server turned into a ROLLBACK is no commit.
        PostgresError error;
        const std::optional<PostgresResult> result = m_connection.postgres().query("COMMIT", {}, &error);
        m_active = false;
        if (result && result->commandTag() == QLatin1StringView("COMMIT"))
            return true;
        m_connection.keep(result ? PostgresError{QStringLiteral("40000"),
                                                 QStringLiteral("the server rolled the transaction back")}
                                 : error);
        return false;
    }
    if (!m_connection.exec("COMMIT"))
        return false; // the destructor rolls back what COMMIT left open
    m_active = false;
    return true;
}

} // namespace Orvex
