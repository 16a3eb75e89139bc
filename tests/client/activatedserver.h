#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// The server of this build tree as the test bus starts it on demand, with its program folder (log, INI
// file) in a temporary folder and its postings going to a board through http_proxy.
class ActivatedServer {
public:
    static constexpr char ServiceName[] = "OrvexKelPostJob.PostJob";

    ActivatedServer();

    // Sets what the next activated server inherits. An empty proxyUrl sends postings nowhere reachable.
    bool prepare(const QString &proxyUrl, QString *error);
    QString programFolder() const { return m_folder.path(); }
    bool writeIni(const QByteArray &content) const;
    // Every activity log file in the program folder, concatenated.
    QByteArray logText() const;

    static bool isRunning();
    // Waits until no process owns the service name; false after timeoutMs.
    static bool waitUntilGone(int timeoutMs = 10000);
    // Ends a server a test left behind (SIGTERM counts as the system closing its window); false if one was
    // running.
    static bool endLeftover();

private:
    QTemporaryDir m_folder;
};
