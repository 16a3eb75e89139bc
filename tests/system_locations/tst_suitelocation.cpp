#include "suitelocation.h"

#include "locationfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class TestSuiteLocation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void namesTheVersion_data() {
        QTest::addColumn<std::optional<Orvex::OsVersionInfo>>("version");
        QTest::addColumn<QString>("expected");

        QTest::newRow("failed call") << std::optional<Orvex::OsVersionInfo>() << "Win0.0";
        QTest::newRow("NT family") << std::optional(versionRecord(2, 6, 1)) << "NT 6.1";
        QTest::newRow("95 family") << std::optional(versionRecord(1, 4, 10)) << "95 4.10";
        QTest::newRow("other family") << std::optional(versionRecord(0, 3, 10)) << "Win3.10";
        QTest::newRow("unknown family") << std::optional(versionRecord(3, 10, 0)) << "Win10.0";
    }

    void namesTheVersion() {
        QFETCH(std::optional<Orvex::OsVersionInfo>, version);
        QFETCH(QString, expected);
        LocationFixture fixture(QString(), QString(), version);
        QCOMPARE(FuncLib::GetWinVersion(), expected);
    }

    void thisSystemIsNeitherNtNor95() { QVERIFY(FuncLib::GetWinVersion().startsWith(QStringLiteral("Win"))); }

    void findsTheSuiteFolder_data() {
        QTest::addColumn<bool>("suiteFolderExists");
        QTest::addColumn<QString>("appPath");
        QTest::addColumn<QString>("expected");

        QTest::newRow("folder below the common data root") << true << "C:\\\\Suite\\\\OrvexOne.exe"
                                                           << "<root>\\Orvex\\";
        QTest::newRow("registered program folder") << false << "C:\\\\Suite\\\\OrvexOne.exe"
                                                   << "C:\\Suite\\";
        QTest::newRow("registered program folder with slashes") << false << "C:/Suite/OrvexOne.exe"
                                                                << "C:/Suite/";
        QTest::newRow("neither") << false << ""
                                 << "";
    }

    void findsTheSuiteFolder() {
        QFETCH(bool, suiteFolderExists);
        QFETCH(QString, appPath);
        QFETCH(QString, expected);
        QTemporaryDir root;
        if (suiteFolderExists)
            QVERIFY(QDir(root.path()).mkdir(QStringLiteral("Orvex")));
        QString machine = QStringLiteral("[HKEY_LOCAL_MACHINE\\") + ShellFoldersSection +
                          regString(QStringLiteral("Common AppData"), root.path());
        if (!appPath.isEmpty()) {
            machine +=
                QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App "
                               "Paths\\OrvexOne.exe]\r\n@=\"%1\"\r\n")
                    .arg(appPath);
        }
        LocationFixture fixture(QString(), regFile(machine), versionRecord(2, 5, 1));
        expected.replace(QStringLiteral("<root>"), root.path());
        QCOMPARE(FuncLib::GetSuiteFolder(), expected);
        QCOMPARE(fixture.registry.openHandleCount(), 0);
    }

    void withoutPublicLooksForARelativeFolder() {
        // On NT 6.1 without a Public value the root is empty, so "Orvex" is looked for in the current folder.
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Orvex")));
        LocationFixture fixture(QString(), QString(), versionRecord(2, 6, 1));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const QString found = FuncLib::GetSuiteFolder();
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(found, QStringLiteral("Orvex\\"));
        QCOMPARE(FuncLib::GetSuiteFolder(), QString());
    }

    void processDefaultFollowsTheMachineFile() {
        // add_orvex_test gives this process private XDG folders, so the real default context is safe here.
        QTemporaryDir shared;
        QVERIFY(QDir(shared.path()).mkdir(QStringLiteral("Orvex")));
        const QString machineFile = Orvex::RegistryStore::machineRegistryFile();
        QVERIFY(machineFile.contains(QStringLiteral(".home")));
        QVERIFY(QDir().mkpath(QFileInfo(machineFile).path()));
        QFile file(machineFile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(regFile(QStringLiteral("[HKEY_LOCAL_MACHINE\\") + ShellFoldersSection +
                           regString(QStringLiteral("Common AppData"), shared.path()))
                       .toUtf8());
        file.close();
        QCOMPARE(FuncLib::GetSuiteFolder(), shared.path() + QStringLiteral("\\Orvex\\"));
        QVERIFY(file.remove());
        QCOMPARE(FuncLib::GetSuiteFolder(), QString());
    }
};

QTEST_GUILESS_MAIN(TestSuiteLocation)
#include "tst_suitelocation.moc"
