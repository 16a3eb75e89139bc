#include "buswire.h"
#include "identity.h"
#include "registration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runServer(const QStringList &arguments, const QString &dataHome, const QString &home = QString()) {
    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    if (!home.isEmpty()) {
        environment.insert(QStringLiteral("HOME"), home);
        server.setWorkingDirectory(home);
    }
    server.setProcessEnvironment(environment);
    server.start(QStringLiteral(ORVEX_SERVER_EXECUTABLE), arguments);
    if (!server.waitForFinished(30000))
        return {};
    return {server.exitCode(), server.readAllStandardOutput(), server.readAllStandardError()};
}

mode_t modeOf(const QString &path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : mode_t(-1);
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The 16 bytes of a GUID as the platform lays it out: three little-endian fields, then eight bytes.
QByteArray guidBytes(const char *text) {
    const QUuid id(QLatin1StringView{text});
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(char(id.data1 >> shift));
    bytes.append(char(id.data2)).append(char(id.data2 >> 8));
    bytes.append(char(id.data3)).append(char(id.data3 >> 8));
    bytes.append(reinterpret_cast<const char *>(id.data4), 8);
    return bytes;
}

} // namespace

class TestRegistration : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void registersAndUnregistersWithEverySpelling_data();
    void registersAndUnregistersWithEverySpelling();
    void writesOnlyWhatIsTheUsers_data();
    void writesOnlyWhatIsTheUsers();
    void relativeDataHomeFallsBackToHome();
    void refusesWithoutAHome_data();
    void refusesWithoutAHome();
    void unregisteringWhatIsNotThereSucceeds();
    void printsItsVersion();
    void refusesUnknownArguments_data();
    void refusesUnknownArguments();
    void quotesAnExecutablePathWithSpaces();
    void carriesTheInterfaceIdentifierRecord();
    void carriesTheVersionStrings();
    void readsErrorMessagesBack_data();
    void readsErrorMessagesBack();
};

void TestRegistration::registersAndUnregistersWithEverySpelling_data() {
    QTest::addColumn<QString>("registerSwitch");
    QTest::addColumn<QString>("unregisterSwitch");

    QTest::newRow("long options") << QStringLiteral("--regserver") << QStringLiteral("--unregserver");
    QTest::newRow("slash, mixed case") << QStringLiteral("/RegServer") << QStringLiteral("/UnregServer");
    QTest::newRow("dash, capitals") << QStringLiteral("-REGSERVER") << QStringLiteral("-unRegServer");
}

void TestRegistration::registersAndUnregistersWithEverySpelling() {
    QFETCH(QString, registerSwitch);
    QFETCH(QString, unregisterSwitch);

    QTemporaryDir dataHome;
    const Orvex::RegistrationFiles files(dataHome.path());
    const Run registered = runServer({registerSwitch}, dataHome.path());
    QVERIFY2(registered.exitCode == 0, registered.err.constData());

    QCOMPARE(readFile(files.serviceFile),
             QByteArray("[D-BUS Service]\nName=OrvexKelPostJob.PostJob\nExec=" ORVEX_SERVER_EXECUTABLE "\n"));
    QCOMPARE(readFile(files.typeLibrary), readFile(QStringLiteral(ORVEX_TYPE_LIBRARY_SOURCE)));
    const QByteArray record = readFile(files.record);
    for (const char *line :
         {"ClassId={512B22CC-7774-43C3-A9A8-E3AB492117C5}\n", "ProgId=OrvexKelPostJob.PostJob\n",
          "InterfaceIds={EB1BBC85-A2B0-4118-8D14-C898B471368F} {3A5B6F4F-E114-4C64-B772-50DBEDA3EFB5}\n",
          "TypeLibraryId={0517C8CE-AAB6-4719-B67B-F0CAE33828DB}\n", "TypeLibraryVersion=2.1\n",
          "LocalServer=" ORVEX_SERVER_EXECUTABLE "\n"})
        QVERIFY2(record.contains(line), line);
    // The user's alone, and so is every folder registration made.
    for (const QString &file : {files.serviceFile, files.typeLibrary, files.record})
        QCOMPARE(modeOf(file), mode_t(0600));
    for (const char *folder : {"dbus-1", "dbus-1/services", "dbus-1/interfaces", "OrvexKelPostJob"})
        QCOMPARE(modeOf(dataHome.filePath(QLatin1StringView(folder))), mode_t(0700));

    const Run unregistered = runServer({unregisterSwitch}, dataHome.path());
    QVERIFY2(unregistered.exitCode == 0, unregistered.err.constData());
    QVERIFY(!QFile::exists(files.serviceFile));
    QVERIFY(!QFile::exists(files.typeLibrary));
    QVERIFY(!QFile::exists(files.record));
}

void TestRegistration::writesOnlyWhatIsTheUsers_data() {
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("registered");
    QTest::addColumn<QString>("reason");

    QTest::newRow("link at the service file's name")
        << QStringLiteral("link") << false << QStringLiteral("symbolic link");
    QTest::newRow("services folder is a link")
        << QStringLiteral("folder link") << false << QStringLiteral("symbolic link");
    QTest::newRow("services folder others may write")
        << QStringLiteral("open folder") << false << QStringLiteral("group or by others");
    QTest::newRow("service file of another user")
        << QStringLiteral("their file") << false << QStringLiteral("another user");
    QTest::newRow("an earlier registration, readable by others, is replaced")
        << QStringLiteral("readable file") << true << QString();
}

void TestRegistration::writesOnlyWhatIsTheUsers() {
    QFETCH(QString, planted);
    QFETCH(bool, registered);
    QFETCH(QString, reason);
    if (planted.startsWith(u"their") && ::geteuid() != 0)
        QSKIP("only root can give a file to another user");

    QTemporaryDir dataHome;
    const Orvex::RegistrationFiles files(dataHome.path());
    const QString services = QFileInfo(files.serviceFile).path();
    const QString target = dataHome.filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(target));
    QFile targetFile(target + QStringLiteral("/file"));
    QVERIFY(targetFile.open(QIODevice::WriteOnly));
    targetFile.close();
    QVERIFY(QDir().mkpath(QFileInfo(services).path()));
    if (planted == u"folder link") {
        QVERIFY(QFile::link(target, services));
    } else {
        QVERIFY(QDir().mkpath(services));
        QVERIFY(::chmod(QFile::encodeName(services).constData(), planted == u"open folder" ? 0777 : 0700) ==
                0);
    }
    if (planted == u"link")
        QVERIFY(QFile::link(targetFile.fileName(), files.serviceFile));
    if (planted == u"their file" || planted == u"readable file") {
        QFile earlier(files.serviceFile);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.close();
        QVERIFY(::chmod(QFile::encodeName(files.serviceFile).constData(), 0644) == 0);
        if (planted == u"their file")
            QVERIFY(::chown(QFile::encodeName(files.serviceFile).constData(), 65534, 65534) == 0);
    }

    const Run run = runServer({QStringLiteral("--regserver")}, dataHome.path());
    QCOMPARE(run.exitCode == 0, registered);
    QVERIFY2(run.err.contains(reason.toUtf8()), run.err.constData());
    // Nothing reached through a link, and no stray temporary file left beside the service file.
    QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("file")});
    QCOMPARE(QFileInfo(targetFile).size(), 0);
    if (planted != u"folder link")
        QCOMPARE(QDir(services).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
                 planted == u"open folder" ? 0 : 1);
    if (registered) {
        QCOMPARE(modeOf(files.serviceFile), mode_t(0600));
        QVERIFY(readFile(files.serviceFile).startsWith("[D-BUS Service]\n"));
    }
}

void TestRegistration::relativeDataHomeFallsBackToHome() {
    // Relative, the files would land wherever the command happened to be run.
    QTemporaryDir home;
    const Run run = runServer({QStringLiteral("--regserver")}, QStringLiteral("data"), home.path());
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY(
        QFile::exists(Orvex::RegistrationFiles(home.filePath(QStringLiteral(".local/share"))).serviceFile));
    QVERIFY(!QFileInfo::exists(home.filePath(QStringLiteral("data"))));
}

void TestRegistration::refusesWithoutAHome_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("standIn"); // the variable named with HOME
    QTest::newRow("serving") << QStringList() << QByteArray("XDG_STATE_HOME");
    QTest::newRow("registering") << QStringList{QStringLiteral("--regserver")} << QByteArray("XDG_DATA_HOME");
}

void TestRegistration::refusesWithoutAHome() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, standIn);
    // What env -i leaves: no variable but the sanitizers' own. The server would otherwise post to the
    // built-in board and keep its journal below the root folder.
    QProcessEnvironment environment;
    const QProcessEnvironment own = QProcessEnvironment::systemEnvironment();
    for (const QString &name : own.keys()) {
        if (name.endsWith(QLatin1StringView("SAN_OPTIONS")))
            environment.insert(name, own.value(name));
    }
    QProcess server;
    server.setProcessEnvironment(environment);
    server.start(QStringLiteral(ORVEX_SERVER_EXECUTABLE), arguments);
    QVERIFY(server.waitForFinished(30000));
    QCOMPARE(server.exitCode(), 2);
    const QByteArray err = server.readAllStandardError();
    QVERIFY2(err.contains("HOME is not set") && err.contains(standIn), err.constData());
}

void TestRegistration::unregisteringWhatIsNotThereSucceeds() {
    QTemporaryDir dataHome;
    QCOMPARE(runServer({QStringLiteral("--unregserver")}, dataHome.path()).exitCode, 0);
}

void TestRegistration::printsItsVersion() {
    QTemporaryDir dataHome;
    const Run run = runServer({QStringLiteral("--version")}, dataHome.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray("1.00.0002\n"));
}

void TestRegistration::refusesUnknownArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("unknown switch") << QStringList{QStringLiteral("--register")};
    QTest::newRow("two switches") << QStringList{QStringLiteral("--regserver"),
                                                 QStringLiteral("--unregserver")};
    QTest::newRow("bare word") << QStringList{QStringLiteral("regserver")};
}

void TestRegistration::refusesUnknownArguments() {
    QFETCH(QStringList, arguments);
    QTemporaryDir dataHome;
    const Run run = runServer(arguments, dataHome.path());
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.err.contains("Usage"));
    QVERIFY(!QFile::exists(Orvex::RegistrationFiles(dataHome.path()).serviceFile));
}

void TestRegistration::quotesAnExecutablePathWithSpaces() {
    QCOMPARE(Orvex::serviceFileText(QStringLiteral("/opt/My Apps/Orvex\"Kel/OrvexKelPostJob")),
             QByteArray("[D-BUS Service]\nName=OrvexKelPostJob.PostJob\n"
                        "Exec=\"/opt/My Apps/Orvex\\\"Kel/OrvexKelPostJob\"\n"));
}

void TestRegistration::carriesTheInterfaceIdentifierRecord() {
    const QByteArray record = readFile(QStringLiteral(":/OrvexKelPostJob/_IID_POSTJOB/1"));
    QCOMPARE(record.size(), 36);
    QCOMPARE(record.left(4), QByteArray("\x20\x00\x00\x00", 4));
    QCOMPARE(record.mid(4, 16), guidBytes(Orvex::Identity::EarlierPostJobInterfaceId));
    QCOMPARE(record.mid(20, 16), guidBytes(Orvex::Identity::PostJobInterfaceId));
}

void TestRegistration::carriesTheVersionStrings() {
    const QByteArray version = readFile(QStringLiteral(":/OrvexKelPostJob/versioninfo.ini"));
    for (const char *line :
         {"[StringFileInfo\\040904B0]\n", "FileVersion=1.00.0002\n", "ProductVersion=1.00.0002\n",
          "InternalName=OrvexKelPostJob\n", "ProductName=OrvexKelPostJob\n",
          "OriginalFilename=OrvexKelPostJob\n", "OLESelfRegister=\n"})
        QVERIFY2(version.contains(line), line);
}

void TestRegistration::readsErrorMessagesBack_data() {
    QTest::addColumn<qint32>("number");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("name");

    QTest::newRow("type mismatch") << 13 << QStringLiteral("OrvexKelPostJob")
                                   << QStringLiteral("Type mismatch")
                                   << QStringLiteral("OrvexKelPostJob.Error.TypeMismatch");
    QTest::newRow("negative HRESULT") << qint32(0x80004002) << QStringLiteral("OrvexKelPostJob")
                                      << QStringLiteral("No such interface supported")
                                      << QStringLiteral("OrvexKelPostJob.Error.NoInterface");
    QTest::newRow("description with its own brackets")
        << 1004 << QStringLiteral("Other.Source") << QStringLiteral("Odd (1) [source: x] text")
        << QStringLiteral("OrvexKelPostJob.Error");
    QTest::newRow("source with the marker in it")
        << 5 << QStringLiteral("a [source: b") << QStringLiteral("Invalid procedure call or argument")
        << QStringLiteral("OrvexKelPostJob.Error.InvalidProcedureCall");
    QTest::newRow("texts with placeholders of their own")
        << 1668578925 << QStringLiteral("Src %1") << QStringLiteral("h (1%3) [source: O 100%2")
        << QStringLiteral("OrvexKelPostJob.Error");
    QTest::newRow("empty description") << 6 << QStringLiteral("OrvexKelPostJob") << QString()
                                       << QStringLiteral("OrvexKelPostJob.Error.Overflow");
}

void TestRegistration::readsErrorMessagesBack() {
    QFETCH(qint32, number);
    QFETCH(QString, source);
    QFETCH(QString, description);
    QFETCH(QString, name);

    const Orvex::AutomationError error(number, source, description);
    QCOMPARE(Orvex::BusWire::errorName(error), name);
    qint32 parsedNumber = 0;
    QString parsedSource;
    QString parsedDescription;
    QVERIFY(Orvex::BusWire::parseErrorMessage(Orvex::BusWire::errorMessage(error), &parsedNumber,
                                              &parsedSource, &parsedDescription));
    QCOMPARE(parsedNumber, number);
    QCOMPARE(parsedSource, source);
    QCOMPARE(parsedDescription, description);
}

QTEST_GUILESS_MAIN(TestRegistration)
#include "tst_registration.moc"
