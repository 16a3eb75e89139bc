#pragma once

#include <QDBusMessage>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

// The server of this build tree as the test bus starts it on demand, with its program folder (log, INI
// file, debug copies) in a temporary folder.
class ServerFixture {
public:
    static constexpr char ServiceName[] = "OrvexKelPostJob.PostJob";
    static constexpr char FactoryPath[] = "/OrvexKelPostJob/PostJob";
    static constexpr char PostJobInterface[] = "OrvexKelPostJob._PostJob";

    ServerFixture();

    // What the next server the bus starts inherits; an empty proxyUrl sends postings nowhere reachable.
    bool prepare(const QString &proxyUrl = QString(), QString *error = nullptr);
    QString programFolder() const { return m_folder.path(); }
    bool writeIni(const QByteArray &content) const;
    // The records of every activity log in the program folder, in order, without their line ends.
    QStringList logRecords() const;
    QStringList debugCopies() const;
    // Every activity log file in the program folder, concatenated.
    QByteArray logText() const;

    // A blocking call to the server; autoStart false leaves a missing server missing.
    static QDBusMessage call(const QString &path, const QString &interface, const QString &member,
                             const QVariantList &arguments = {}, bool autoStart = true);
    // The path of a new object, or the empty text with the error in *error.
    static QString createInstance(QDBusMessage *error = nullptr);

    static bool isRunning();
    static uint serverPid();
    static bool waitUntilGone(int timeoutMs = 15000);
    // Ends whatever server is running through a release, as a client would; true when none is left.
    static bool endServer();
    // Ends a server a test left behind (SIGTERM counts as the system closing its window); false if one was
    // running.
    static bool endLeftover();

private:
    QTemporaryDir m_folder;
};

// The record's fields after the time stamp, e.g. "\"Sub\",\"Msg\",\"\"".
QString withoutTimeStamp(const QString &record);
