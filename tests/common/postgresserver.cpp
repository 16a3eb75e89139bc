#include "postgresserver.h"

#include <QCollator>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <libpq-fe.h>

#include <algorithm>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int InitTimeoutMilliseconds = 120000;
constexpr int StartTimeoutMilliseconds = 60000;
constexpr int StopTimeoutMilliseconds = 20000;
// The account a root test runs the server as: every Debian system has it.
constexpr char UnprivilegedUser[] = "nobody";

// The bin folder of the newest server installed the Debian way, else the one on PATH.
QString binFolder() {
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList entries = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(entries.begin(), entries.end(),
              [&](const QString &a, const QString &b) { return numeric.compare(a, b) > 0; });
    for (const QString &version : std::as_const(entries)) {
        const QString bin = versions.filePath(version + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/postgres")) &&
            QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    const QString postgres = QStandardPaths::findExecutable(QStringLiteral("postgres"));
    return postgres.isEmpty() ? QString() : QFileInfo(postgres).absolutePath();
}

QList<pid_t> childrenOf(pid_t parent) {
    QList<pid_t> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isProcess = false;
        const pid_t pid = pid_t(entry.toInt(&isProcess));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!isProcess || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces and parentheses, the last ')' ends it.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == parent)
            children.append(pid);
    }
    return children;
}

QString userName(uid_t uid) {
    const passwd *entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

} // namespace

PostgresServer::PostgresServer()
    : m_folder(QDir::tempPath() + QStringLiteral("/orvex-pg-XXXXXX")) {}

PostgresServer::~PostgresServer() {
    stop();
}

QString PostgresServer::program(const QString &name) {
    const QString folder = binFolder();
    const QString path = folder + u'/' + name;
    return !folder.isEmpty() && QFileInfo(path).isExecutable() ? path : QString();
}

QString PostgresServer::unavailableReason() {
    if (program(QStringLiteral("initdb")).isEmpty() || program(QStringLiteral("postgres")).isEmpty())
        return QStringLiteral("no PostgreSQL server here (scripts/setup installs postgresql-15)");
    if (::geteuid() == 0 && !::getpwnam(UnprivilegedUser))
        return QStringLiteral("running as root without a user %1 to run PostgreSQL as")
            .arg(QLatin1StringView(UnprivilegedUser));
    return {};
}

bool PostgresServer::start() {
    m_error.clear();
    if (isRunning())
        return true;
    if (const QString why = unavailableReason(); !why.isEmpty()) {
        m_error = why;
        return false;
    }
    if (!m_initialized && !initialize())
        return false;
    prepareChild(m_process);
    m_process.setStandardOutputFile(m_folder.filePath(QStringLiteral("server.log")), QIODevice::Append);
    m_process.setStandardErrorFile(m_folder.filePath(QStringLiteral("server.log")), QIODevice::Append);
    m_process.setProgram(program(QStringLiteral("postgres")));
    m_process.setArguments({QStringLiteral("-D"), dataFolder()});
    m_process.start();
    if (!m_process.waitForStarted(StartTimeoutMilliseconds)) {
        m_error = QStringLiteral("cannot start postgres: %1").arg(m_process.errorString());
        return false;
    }
    return waitUntilAnswering();
}

bool PostgresServer::initialize() {
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_folder.errorString());
        return false;
    }
    if (::geteuid() == 0) {
        const passwd *user = ::getpwnam(UnprivilegedUser);
        m_uid = user->pw_uid;
        m_gid = user->pw_gid;
        if (::chown(QFile::encodeName(m_folder.path()).constData(), m_uid, m_gid) != 0) {
            m_error = QStringLiteral("cannot hand %1 to %2")
                          .arg(m_folder.path(), QLatin1StringView(UnprivilegedUser));
            return false;
        }
    }
    // The role is named after the test's own user, so that a URI without a user name reaches it.
    QProcess initdb;
    prepareChild(initdb);
    if (!runInitdb(initdb,
                   {QStringLiteral("-D"), dataFolder(), QStringLiteral("-U"), userName(::geteuid()),
                    QStringLiteral("--auth=trust"), QStringLiteral("--encoding=UTF8"),
                    QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
                   InitTimeoutMilliseconds))
        return false;
    QFile configuration(dataFolder() + QStringLiteral("/postgresql.conf"));
    if (!configuration.open(QIODevice::Append)) {
        m_error =
            QStringLiteral("cannot write %1: %2").arg(configuration.fileName(), configuration.errorString());
        return false;
    }
    // No TCP at all: the socket in the test's folder is the only way in.
    configuration.write(QStringLiteral("listen_addresses = ''\nunix_socket_directories = '%1'\n"
                                       "logging_collector = off\n")
                            .arg(m_folder.path())
                            .toUtf8());
    m_initialized = true;
    return true;
}

bool PostgresServer::runInitdb(QProcess &process, const QStringList &arguments, int timeoutMs) {
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program(QStringLiteral("initdb")), arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = QStringLiteral("initdb failed (%1): %2")
                      .arg(process.errorString(), QString::fromLocal8Bit(process.readAll()).right(2000));
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        return false;
    }
    return true;
}

void PostgresServer::prepareChild(QProcess &process) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.remove(QStringLiteral("PGDATA"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(m_folder.path());
    const uid_t uid = m_uid;
    const gid_t gid = m_gid;
    process.setChildProcessModifier([uid, gid] {
        // A group of its own, so that its backends go down with it; the new user before the parent's death
        // signal, which a change of user clears.
        ::setsid();
        if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
}

bool PostgresServer::waitUntilAnswering() {
    const QByteArray conninfo =
        QStringLiteral("host='%1' dbname=postgres connect_timeout=5").arg(m_folder.path()).toUtf8();
    const QDeadlineTimer deadline(StartTimeoutMilliseconds);
    while (!deadline.hasExpired()) {
        if (PQping(conninfo.constData()) == PQPING_OK)
            return true;
        // Returns at once when the server has ended: no waiting out the deadline for a server that failed.
        if (m_process.waitForFinished(50) || m_process.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("postgres ended at start: %1").arg(logTail());
            return false;
        }
    }
    m_error = QStringLiteral("postgres did not answer: %1").arg(logTail());
    kill();
    return false;
}

void PostgresServer::stop() {
    if (!isRunning())
        return;
    // SIGINT is the fast shutdown: clients are disconnected instead of waited for.
    ::kill(pid_t(m_process.processId()), SIGINT);
    if (!m_process.waitForFinished(StopTimeoutMilliseconds))
        kill();
}

void PostgresServer::kill() {
    if (!isRunning())
        return;
    // Each backend leads a process group of its own, so they are found as the postmaster's children while
    // it is stopped (no new ones, none handed to init yet), then all die together.
    const pid_t postmaster = pid_t(m_process.processId());
    ::kill(postmaster, SIGSTOP);
    for (const pid_t child : childrenOf(postmaster))
        ::kill(child, SIGKILL);
    ::kill(postmaster, SIGKILL);
    m_process.waitForFinished(StopTimeoutMilliseconds);
}

bool PostgresServer::createDatabase(const QString &name) {
    const QByteArray conninfo = QStringLiteral("host='%1' dbname=postgres").arg(m_folder.path()).toUtf8();
    PGconn *connection = PQconnectdb(conninfo.constData());
    bool created = false;
    if (PQstatus(connection) == CONNECTION_OK) {
        char *quoted =
            PQescapeIdentifier(connection, name.toUtf8().constData(), size_t(name.toUtf8().size()));
        PGresult *result = PQexec(connection, (QByteArray("CREATE DATABASE ") + quoted).constData());
        created = PQresultStatus(result) == PGRES_COMMAND_OK;
        if (!created)
            m_error = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
        PQclear(result);
        PQfreemem(quoted);
    } else {
        m_error = QString::fromUtf8(PQerrorMessage(connection)).trimmed();
    }
    PQfinish(connection);
    return created;
}

QString PostgresServer::uri(const QString &database) const {
    return QStringLiteral("postgresql:///%1?host=%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(database)),
             QString::fromLatin1(QUrl::toPercentEncoding(m_folder.path(), "/")));
}

QString PostgresServer::logTail() const {
    QFile log(m_folder.filePath(QStringLiteral("server.log")));
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no server log)");
    return QString::fromLocal8Bit(log.readAll()).right(2000);
}
