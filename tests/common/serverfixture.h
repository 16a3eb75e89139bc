#pragma once

#include "journalreader.h"

#include <QDBusMessage>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

// The server of this build tree as the test bus starts it on demand: run from a program folder of its own
// in a temporary folder, so its log, INI file and debug copies lie there, with XDG state and configuration
// folders of its own beside it.
class ServerFixture {
public:
    static constexpr char ServiceName[] = "OrvexKelPostJob.PostJob";
    static constexpr char FactoryPath[] = "/OrvexKelPostJob/PostJob";
    static constexpr char PostJobInterface[] = "OrvexKelPostJob._PostJob";

    ServerFixture();

    // What the next server the bus starts inherits; an empty proxyUrl sends postings nowhere reachable.
    bool prepare(const QString &proxyUrl = QString(), QString *error = nullptr);
    // One more variable for the next server, after prepare().
    static bool setActivationVariable(const QString &name, const QString &value, QString *error = nullptr);
    // Starts the server, then takes its program folder away, which the server then treats as a folder its
    // user may not write to.
    bool startWithoutProgramFolder(QString *error = nullptr);
    QString programFolder() const { return m_folder.filePath(QStringLiteral("program")); }
    // $XDG_STATE_HOME/OrvexKelPostJob of the server.
    QString userFilesFolder() const;
    // Where the server keeps its log and debug copies: the program folder, or the user's once it is gone.
    QString filesFolder() const;
    bool writeIni(const QByteArray &content) const;
    // The INI file in $XDG_CONFIG_HOME/OrvexKelPostJob of the server.
    bool writeUserIni(const QByteArray &content) const;
    // The records of every activity log in the files folder, in order, without their line ends.
    QStringList logRecords() const;
    QStringList debugCopies() const;
    // Every activity log file in the files folder, concatenated.
    QByteArray logText() const;
    // The rows of the posting journal in the files folder, in the order the exchanges started.
    QList<Orvex::JournalPosting> journalEntries() const;

    // A blocking call to the server; autoStart false leaves a missing server missing.
    static QDBusMessage call(const QString &path, const QString &interface, const QString &member,
                             const QVariantList &arguments = {}, bool autoStart = true);
    // The path of a new object, or the empty text with the error in *error.
    static QString createInstance(QDBusMessage *error = nullptr);

    static bool isRunning();
    static uint serverPid();
    // Sends signal to the running server; false when none runs, so that no test signals pid 0, its own
    // process group.
    static bool signalServer(int signal);
    static bool waitUntilGone(int timeoutMs = 15000);
    // Ends whatever server is running through a release, as a client would; true when none is left.
    static bool endServer();
    // Ends a server a test left behind (SIGTERM counts as the system closing its window); false if one was
    // running.
    static bool endLeftover();

private:
    QTemporaryDir m_folder;
};

// Puts the server of this build tree into folder, a hard link where it can and a copy elsewhere, for the
// test bus to start as ORVEX_TEST_SERVER of its activation environment. Its path, or empty on failure.
QString placeServerIn(const QString &folder);

// The record's fields after the time stamp, e.g. "\"Sub\",\"Msg\",\"\"".
QString withoutTimeStamp(const QString &record);
