#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private PostgreSQL server for the life of the object: a cluster made by initdb in a temporary folder,
// listening on a Unix socket in that folder only. The server refuses to run as root, so a test running as
// root runs it as nobody. It is a child of the test that dies with it, and it is stopped, its backends with
// it, on every way out.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // Why no server can run on this machine (its binaries are missing), or empty. Developers may lack them;
    // CI installs them (scripts/setup).
    static QString unavailableReason();
    // A program of the server's installation ("psql", "postgres", ...), or empty.
    static QString program(const QString &name);

    // Makes the cluster on first use, then starts the server and waits until it answers; on failure
    // errorString() says why.
    bool start();
    // A fast shutdown; the process group is killed if it does not end.
    void stop();
    // Kills the server and its backends at once, as a lost machine would.
    void kill();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    QString errorString() const { return m_error; }

    QString socketFolder() const { return m_folder.path(); }
    // Creates an empty database.
    bool createDatabase(const QString &name);
    // The libpq URI of database on this server, e.g. "postgresql:///journal?host=/tmp/orvex-pg-XYZ".
    QString uri(const QString &database) const;
    // The server's own log so far, for a failure message.
    QString logTail() const;

private:
    bool initialize();
    bool runInitdb(QProcess &process, const QStringList &arguments, int timeoutMs);
    void prepareChild(QProcess &process) const;
    bool waitUntilAnswering();
    QString dataFolder() const { return m_folder.filePath(QStringLiteral("data")); }

    QTemporaryDir m_folder;
    QProcess m_process;
    bool m_initialized = false;
    uint m_uid = 0;
    uint m_gid = 0;
    QString m_error;
};

// Skips the test when no PostgreSQL server can run here, failing instead under CI, which must have one.
#define ORVEX_REQUIRE_POSTGRES()                                                                             \
    do {                                                                                                     \
        if (const QString why = PostgresServer::unavailableReason(); !why.isEmpty()) {                       \
            if (qEnvironmentVariableIsSet("CI"))                                                             \
                QFAIL(qPrintable(why));                                                                      \
            QSKIP(qPrintable(why));                                                                          \
        }                                                                                                    \
    } while (false)
