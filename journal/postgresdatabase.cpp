#include "postgresdatabase.h"

#include "journallogging.h"
#include "libpq.h"
#include "urltext.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

#include <array>
#include <charconv>
#include <utility>

namespace Orvex {

namespace {

// Loaded by the first PostgreSQL URI looked at, which every connection and so every result comes after.
const LibPq &pq() {
    return LibPq::loaded();
}

constexpr QLatin1StringView ConnectionLostState("08006");
// A server that does not answer holds a batch only this long before it is named; the URI may say otherwise.
constexpr char DefaultConnectTimeoutSeconds[] = "10";
constexpr std::array<QLatin1StringView, 2> SecretParameters{QLatin1StringView("password"),
                                                            QLatin1StringView("sslpassword")};

bool isSecretParameter(QStringView name) {
    for (QLatin1StringView secret : SecretParameters)
        if (name.compare(secret, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// The passwords written in uri, as written and percent-decoded, read the way libpq reads a URI: the
// user-info ends at the authority's last '@', the query's parameters are split at '&'.
QStringList secretsOf(const QString &uri) {
    QStringList secrets;
    const qsizetype schemeEnd = uri.indexOf(QLatin1StringView("://"));
    if (schemeEnd < 0)
        return secrets;
    const qsizetype authorityStart = schemeEnd + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < uri.size() && uri[authorityEnd] != u'/' && uri[authorityEnd] != u'?')
        ++authorityEnd;
    const QStringView authority = QStringView(uri).sliced(authorityStart, authorityEnd - authorityStart);
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        const QStringView userInfo = authority.first(at);
        if (const qsizetype colon = userInfo.indexOf(u':'); colon >= 0)
            secrets.append(userInfo.sliced(colon + 1).toString());
    }
    if (const qsizetype question = uri.indexOf(u'?', authorityEnd); question >= 0) {
        for (QStringView parameter : QStringView(uri).sliced(question + 1).split(u'&')) {
            const qsizetype equals = parameter.indexOf(u'=');
            if (equals > 0 && isSecretParameter(parameter.first(equals)))
                secrets.append(parameter.sliced(equals + 1).toString());
        }
    }
    QStringList all;
    for (const QString &secret : std::as_const(secrets)) {
        if (secret.isEmpty())
            continue;
        all.append(secret);
        all.append(QUrl::fromPercentEncoding(secret.toUtf8()));
    }
    return all;
}

// text with every password of uri in it replaced: libpq quotes the token it could not decode.
QString withoutSecretsOf(const QString &uri, QString text) {
    for (const QString &secret : secretsOf(uri))
        if (!secret.isEmpty())
            text.replace(secret, QStringLiteral("***"));
    return text;
}

QString trimmedMessage(const char *message) {
    return QString::fromUtf8(message).trimmed();
}

void logNotice(void *, const char *message) {
    qCDebug(lcJournal) << "PostgreSQL:" << trimmedMessage(message);
}

} // namespace

QString PostgresError::text() const {
    if (sqlState.isEmpty())
        return message;
    return QStringLiteral("%1 (SQLSTATE %2)").arg(message, sqlState);
}

bool isPostgresUri(QStringView text) {
    return text.startsWith(QLatin1StringView("postgresql://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1StringView("postgres://"), Qt::CaseInsensitive);
}

std::optional<QString> postgresUriProblem(const QString &uri) {
    if (!isPostgresUri(uri))
        return QStringLiteral("it is not a PostgreSQL URI (postgresql://...)");
    QString why;
    if (!LibPq::load(&why))
        return why;
    char *message = nullptr;
    PQconninfoOption *options = pq().PQconninfoParse(uri.toUtf8().constData(), &message);
    if (options) {
        pq().PQconninfoFree(options);
        return std::nullopt;
    }
    why = message ? trimmedMessage(message) : QStringLiteral("out of memory");
    pq().PQfreemem(message);
    return withoutSecretsOf(uri, why);
}

QString postgresDisplayText(const QString &uri) {
    QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid()) {
        // Nothing of a query we cannot read is shown: it may hold a password.
        const qsizetype question = uri.indexOf(u'?');
        return withoutSecretsOf(uri, withoutUserInfo(question < 0 ? uri : uri.first(question)));
    }
    const QUrlQuery query(url);
    QUrlQuery shown;
    for (const auto &[name, value] : query.queryItems(QUrl::FullyEncoded))
        if (!isSecretParameter(QUrl::fromPercentEncoding(name.toUtf8())))
            shown.addQueryItem(name, value);
    url.setQuery(shown);
    return withoutUserInfo(url.toString());
}

PostgresSql postgresPlaceholders(const QByteArray &sql) {
    PostgresSql result;
    result.text.reserve(sql.size() + 8);
    int last = 0;
    char quote = 0;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            // A doubled quote stays inside: it reads as the quote and the quote again.
            if (c == quote)
                quote = 0;
            result.text += c;
            continue;
        }
        if (c == '\'' || c == '"')
            quote = c;
        if (c != '?') {
            result.text += c;
            continue;
        }
        qsizetype end = i + 1;
        while (end < sql.size() && sql[end] >= '0' && sql[end] <= '9')
            ++end;
        last = end > i + 1 ? sql.mid(i + 1, end - i - 1).toInt() : last + 1;
        qsizetype position = result.parameters.indexOf(last);
        if (position < 0) {
            result.parameters.append(last);
            position = result.parameters.size() - 1;
        }
        result.text += '$' + QByteArray::number(position + 1);
        i = end - 1;
    }
    return result;
}

QByteArray postgresSchema(const QByteArray &sqliteSchema) {
    static const QRegularExpression rowNumber(QStringLiteral("\\bINTEGER\\s+PRIMARY\\s+KEY\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression integer(QStringLiteral("\\bINTEGER\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString result;
    const QString text = QString::fromUtf8(sqliteSchema);
    // Only the parts between quotes are rewritten.
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype quote = start;
        while (quote < text.size() && text[quote] != u'\'' && text[quote] != u'"')
            ++quote;
        QString plain = text.mid(start, quote - start);
        plain.replace(rowNumber, QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"));
        plain.replace(integer, QStringLiteral("BIGINT"));
        result += plain;
        if (quote >= text.size())
            break;
        const qsizetype closing = text.indexOf(text[quote], quote + 1);
        const qsizetype end = closing < 0 ? text.size() : closing + 1;
        result += text.mid(quote, end - quote);
        start = end;
    }
    return result.toUtf8();
}

PostgresParameters &PostgresParameters::add(qint64 value) {
    m_values.append(PostgresValue::of(QByteArray::number(value)));
    return *this;
}

PostgresParameters &PostgresParameters::add(const QString &value) {
    m_values.append(PostgresValue::of(value.toUtf8()));
    return *this;
}

PostgresParameters &PostgresParameters::addNull() {
    m_values.append(PostgresValue());
    return *this;
}

std::vector<const char *> PostgresParameters::values() const {
    std::vector<const char *> pointers;
    pointers.reserve(size_t(m_values.size()));
    for (const PostgresValue &value : m_values)
        pointers.push_back(value.data());
    return pointers;
}

PostgresResult::~PostgresResult() {
    if (m_result)
        pq().PQclear(m_result);
}

PostgresResult::PostgresResult(PostgresResult &&other) noexcept
    : m_result(std::exchange(other.m_result, nullptr)) {}

PostgresResult &PostgresResult::operator=(PostgresResult &&other) noexcept {
    if (this != &other) {
        if (m_result)
            pq().PQclear(m_result);
        m_result = std::exchange(other.m_result, nullptr);
    }
    return *this;
}

int PostgresResult::rows() const {
    return m_result ? pq().PQntuples(m_result) : 0;
}

int PostgresResult::columns() const {
    return m_result ? pq().PQnfields(m_result) : 0;
}

QString PostgresResult::text(int row, int column) const {
    if (row < 0 || row >= rows() || column < 0 || column >= columns())
        return {};
    return QString::fromUtf8(pq().PQgetvalue(m_result, row, column), pq().PQgetlength(m_result, row, column));
}

std::optional<qint64> PostgresResult::integer(int row, int column) const {
    if (row < 0 || row >= rows() || column < 0 || column >= columns() || isNull(row, column))
        return std::nullopt;
    // Read in place: a history reads hundreds of thousands of these.
    const char *text = pq().PQgetvalue(m_result, row, column);
    const char *end = text + pq().PQgetlength(m_result, row, column);
    qint64 value = 0;
    const auto [stop, failure] = std::from_chars(text, end, value);
    return failure == std::errc() && stop == end ? std::optional<qint64>(value) : std::nullopt;
}

bool PostgresResult::isNull(int row, int column) const {
    return !m_result || pq().PQgetisnull(m_result, row, column) != 0;
}

qint64 PostgresResult::affectedRows() const {
    return m_result ? QByteArray(pq().PQcmdTuples(m_result)).toLongLong() : 0;
}

QString PostgresResult::commandTag() const {
    return m_result ? QString::fromUtf8(pq().PQcmdStatus(m_result)) : QString();
}

PostgresDatabase::~PostgresDatabase() {
    close();
}

bool PostgresDatabase::open(const QString &uri, PostgresError *error) {
    close();
    m_displayText = postgresDisplayText(uri);
    if (const std::optional<QString> problem = postgresUriProblem(uri)) {
        if (error)
            *error = PostgresError{QString(), *problem};
        return false;
    }
    const QByteArray uriBytes = uri.toUtf8();
    // Earlier keywords are defaults the URI may override (expand_dbname).
    const char *const keywords[] = {"connect_timeout", "client_encoding", "fallback_application_name",
                                    "dbname", nullptr};
    const char *const values[] = {DefaultConnectTimeoutSeconds, "UTF8", "OrvexKelPostJob",
                                  uriBytes.constData(), nullptr};
    m_connection = pq().PQconnectdbParams(keywords, values, 1);
    if (!m_connection || pq().PQstatus(m_connection) != CONNECTION_OK) {
        if (error) {
            *error = connectionError();
            error->message = withoutSecretsOf(uri, error->message);
        }
        close();
        return false;
    }
    pq().PQsetNoticeProcessor(m_connection, logNotice, nullptr);
    return true;
}

void PostgresDatabase::close() {
    if (m_connection)
        pq().PQfinish(m_connection);
    m_connection = nullptr;
}

bool PostgresDatabase::exec(const char *sql, PostgresError *error) {
    if (!m_connection) {
        if (error)
            *error = connectionError();
        return false;
    }
    return checked(pq().PQexec(m_connection, sql), error).has_value();
}

bool PostgresDatabase::prepare(const char *name, const char *sql, int parameterCount, PostgresError *error) {
    if (!m_connection) {
        if (error)
            *error = connectionError();
        return false;
    }
    return checked(pq().PQprepare(m_connection, name, sql, parameterCount, nullptr), error).has_value();
}

std::optional<PostgresResult> PostgresDatabase::run(const char *name, const PostgresParameters &parameters,
                                                    PostgresError *error) {
    return runValues(name, parameters.values(), error);
}

PostgresStatement PostgresDatabase::statement(const QByteArray &sql, PostgresError *error, bool streamed) {
    const QByteArray name = "orvex_" + QByteArray::number(++m_statements);
    PostgresSql translated = postgresPlaceholders(sql);
    // A streamed statement is prepared too, so that its mistakes show here, as every other's do.
    if (!prepare(name.constData(), translated.text.constData(), int(translated.parameters.size()), error))
        return PostgresStatement();
    return PostgresStatement(this, name, std::move(translated), streamed);
}

std::optional<PostgresResult>
PostgresDatabase::runValues(const char *name, const std::vector<const char *> &values, PostgresError *error) {
    if (!m_connection) {
        if (error)
            *error = connectionError();
        return std::nullopt;
    }
    return checked(
        pq().PQexecPrepared(m_connection, name, int(values.size()), values.data(), nullptr, nullptr, 0),
        error);
}

std::optional<qint64> PostgresDatabase::integerOf(const char *sql, PostgresError *error) {
    const std::optional<PostgresResult> result = query(sql, {}, error);
    if (!result)
        return std::nullopt;
    return result->integer(0, 0);
}

std::optional<PostgresResult> PostgresDatabase::query(const char *sql, const PostgresParameters &parameters,
                                                      PostgresError *error) {
    return queryValues(sql, parameters.values(), error);
}

std::optional<PostgresResult> PostgresDatabase::queryValues(const char *sql,
                                                            const std::vector<const char *> &values,
                                                            PostgresError *error) {
    if (!m_connection) {
        if (error)
            *error = connectionError();
        return std::nullopt;
    }
    return checked(
        pq().PQexecParams(m_connection, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0),
        error);
}

bool PostgresDatabase::inTransaction() const {
    if (!m_connection)
        return false;
    const PGTransactionStatusType status = pq().PQtransactionStatus(m_connection);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR;
}

std::optional<PostgresResult> PostgresDatabase::checked(pg_result *raw, PostgresError *error) const {
    PostgresResult result(raw);
    if (!raw) {
        // No result at all: out of memory, or the server is gone.
        if (error)
            *error = connectionError();
        return std::nullopt;
    }
    const ExecStatusType status = pq().PQresultStatus(raw);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return result;
    if (error) {
        const char *state = pq().PQresultErrorField(raw, PG_DIAG_SQLSTATE);
        const char *primary = pq().PQresultErrorField(raw, PG_DIAG_MESSAGE_PRIMARY);
        *error =
            PostgresError{QString::fromLatin1(state ? state : ""),
                          primary ? trimmedMessage(primary) : trimmedMessage(pq().PQresultErrorMessage(raw))};
        if (error->message.isEmpty())
            error->message = trimmedMessage(pq().PQresStatus(status));
        if (error->sqlState.isEmpty() && m_connection && pq().PQstatus(m_connection) == CONNECTION_BAD)
            error->sqlState = ConnectionLostState;
    }
    return std::nullopt;
}

PostgresError PostgresDatabase::connectionError() const {
    if (!m_connection)
        return PostgresError{ConnectionLostState, QStringLiteral("not connected to %1").arg(m_displayText)};
    QString message = trimmedMessage(pq().PQerrorMessage(m_connection));
    if (message.isEmpty())
        message = QStringLiteral("the connection to %1 failed").arg(m_displayText);
    return PostgresError{
        pq().PQstatus(m_connection) == CONNECTION_BAD ? QString(ConnectionLostState) : QString(), message};
}

bool PostgresStatement::bind(int index, qint64 value) {
    return bindValue(index, PostgresValue::of(QByteArray::number(value)));
}

bool PostgresStatement::bind(int index, const QString &text) {
    return bindValue(index, PostgresValue::of(text.toUtf8()));
}

bool PostgresStatement::bindNull(int index) {
    return bindValue(index, PostgresValue());
}

bool PostgresStatement::bindValue(int index, PostgresValue value) {
    const qsizetype position = m_parameters.indexOf(index);
    if (!m_database || position < 0 || m_result) {
        m_error =
            PostgresError{QStringLiteral("42P02"), QStringLiteral("no parameter %1 to bind").arg(index)};
        return false;
    }
    m_values.resize(m_parameters.size());
    m_values[position] = std::move(value);
    return true;
}

PostgresStatement::Step PostgresStatement::step() {
    if (!m_database)
        return Step::Failed;
    if (!m_result) {
        m_values.resize(m_parameters.size());
        std::vector<const char *> pointers;
        for (const PostgresValue &value : std::as_const(m_values))
            pointers.push_back(value.data());
        if (m_sql.isEmpty())
            m_result = m_database->runValues(m_name.constData(), pointers, &m_error);
        else if (m_cursor.open(*m_database, m_name + "_rows", m_sql, pointers, &m_error))
            m_result = m_cursor.fetch(&m_error);
        m_row = -1;
        if (!m_result)
            return Step::Failed;
    }
    if (m_row + 1 < m_result->rows() || (m_result->rows() == PostgresCursor::FetchRows && fetchNext())) {
        ++m_row;
        return Step::Row;
    }
    m_cursor.close();
    if (!m_result)
        return Step::Failed;
    m_row = m_result->rows();
    return Step::Done;
}

// The cursor's next batch in place of the last; false when there is none or it failed (m_result empty).
bool PostgresStatement::fetchNext() {
    if (!m_cursor.isOpen())
        return false;
    m_result = m_cursor.fetch(&m_error);
    m_row = -1;
    return m_result && m_result->rows() > 0;
}

void PostgresStatement::reset() {
    // Unbound parameters are NULL, as in SQLite.
    m_values.fill(PostgresValue());
    m_cursor.close();
    m_result.reset();
    m_row = -1;
}

PostgresCursor::PostgresCursor(PostgresCursor &&other) noexcept
    : m_database(std::exchange(other.m_database, nullptr))
    , m_name(std::move(other.m_name))
    , m_ownTransaction(other.m_ownTransaction) {}

PostgresCursor &PostgresCursor::operator=(PostgresCursor &&other) noexcept {
    if (this != &other) {
        close();
        m_database = std::exchange(other.m_database, nullptr);
        m_name = std::move(other.m_name);
        m_ownTransaction = other.m_ownTransaction;
    }
    return *this;
}

bool PostgresCursor::open(PostgresDatabase &database, const QByteArray &name, const QByteArray &sql,
                          const std::vector<const char *> &values, PostgresError *error) {
    close();
    // A cursor lives in a transaction; one that holds no lock is cheap to keep open while rows are printed.
    const bool own = !database.inTransaction();
    if (own && !database.exec("BEGIN READ ONLY", error))
        return false;
    const QByteArray declare = "DECLARE " + name + " NO SCROLL CURSOR FOR " + sql;
    if (!database.queryValues(declare.constData(), values, error)) {
        if (own)
            database.exec("ROLLBACK");
        return false;
    }
    m_database = &database;
    m_name = name;
    m_ownTransaction = own;
    return true;
}

std::optional<PostgresResult> PostgresCursor::fetch(PostgresError *error) {
    if (!m_database)
        return std::nullopt;
    const QByteArray sql = "FETCH FORWARD " + QByteArray::number(FetchRows) + " FROM " + m_name;
    return m_database->queryValues(sql.constData(), {}, error);
}

void PostgresCursor::close() {
    if (!m_database)
        return;
    // Ending its own transaction closes it; inside another, it goes alone (a failed one is rolled back
    // whole).
    if (m_ownTransaction)
        m_database->exec("COMMIT");
    else
        m_database->exec(("CLOSE " + m_name).constData());
    m_database = nullptr;
}

qint64 PostgresStatement::integer(int column) const {
    return m_result ? m_result->integer(m_row, column).value_or(0) : 0;
}

QString PostgresStatement::text(int column) const {
    return m_result ? m_result->text(m_row, column) : QString();
}

bool PostgresStatement::isNull(int column) const {
    return !m_result || m_row < 0 || m_row >= m_result->rows() || m_result->isNull(m_row, column);
}

PostgresTransaction::PostgresTransaction(PostgresDatabase &database, PostgresError *error)
    : m_database(database)
    , m_active(database.exec("BEGIN", error)) {}

PostgresTransaction::~PostgresTransaction() {
    if (m_active)
        m_database.exec("ROLLBACK");
}

bool PostgresTransaction::commit(PostgresError *error) {
    if (!m_active)
        return false;
    m_active = false;
    // A COMMIT the server turns into a ROLLBACK (a failed statement inside) succeeds with tag ROLLBACK.
    const std::optional<PostgresResult> result = m_database.query("COMMIT", {}, error);
    if (!result)
        return false;
    if (result->commandTag() == QLatin1StringView("COMMIT"))
        return true;
    if (error)
        *error =
            PostgresError{QStringLiteral("40000"), QStringLiteral("the server rolled the transaction back")};
    return false;
}

} // namespace Orvex
