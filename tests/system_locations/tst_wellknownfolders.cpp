#include "regfuncs.h"

#include "locationfixture.h"

#include <QTest>

namespace {

const QString ProfileListSection =
    QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList]\r\n");
const QString AppPathsSection = QStringLiteral(
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OrvexOne.exe]\r\n");

} // namespace

class TestWellKnownFolders : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsShellFolders_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");

        QTest::newRow("separator added") << "C:\\Users\\ann\\Documents"
                                         << "C:\\Users\\ann\\Documents\\";
        QTest::newRow("backslash kept") << "C:\\Docs\\"
                                        << "C:\\Docs\\";
        QTest::newRow("slash kept") << "/home/ann/Documents/"
                                    << "/home/ann/Documents/";
        QTest::newRow("spaces trimmed") << "  D:\\Docs  "
                                        << "D:\\Docs\\";
        QTest::newRow("empty value gives empty text") << ""
                                                      << "";
        QTest::newRow("missing value gives empty text") << "<missing>"
                                                        << "";
    }

    void readsShellFolders() {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        const bool missing = stored == u"<missing>";
        // Each folder in its own root; the other two roots hold a decoy under the other names.
        const QString user = regFile(QStringLiteral("[HKEY_CURRENT_USER\\") + ShellFoldersSection +
                                     (missing ? QString()
                                              : regString(QStringLiteral("Personal"), stored) +
                                                    regString(QStringLiteral("AppData"), stored)) +
                                     regString(QStringLiteral("Common AppData"), QStringLiteral("decoy")));
        const QString machine =
            regFile(QStringLiteral("[HKEY_LOCAL_MACHINE\\") + ShellFoldersSection +
                    (missing ? QString() : regString(QStringLiteral("Common AppData"), stored)) +
                    regString(QStringLiteral("Personal"), QStringLiteral("decoy")));
        LocationFixture fixture(user, machine, std::nullopt);
        QCOMPARE(RegFuncs::GetMyDocumentsPath(), expected);
        QCOMPARE(RegFuncs::GetAppDataPath(), expected);
        QCOMPARE(RegFuncs::GetCommonAppDataPath(), expected);
        QCOMPARE(fixture.registry.openHandleCount(), 0);
    }

    void missingShellFoldersKeyGivesEmptyText() {
        LocationFixture fixture(QString(), QString(), std::nullopt);
        QCOMPARE(RegFuncs::GetMyDocumentsPath(), QString());
        QCOMPARE(RegFuncs::GetCommonAppDataPath(), QString());
    }

    void findsTheCommonDataRoot_data() {
        QTest::addColumn<Orvex::OsVersionInfo>("version");
        QTest::addColumn<QString>("publicLine");
        QTest::addColumn<QString>("systemDrive");
        QTest::addColumn<QString>("expected");

        const QString expandable =
            regExpandString(QStringLiteral("Public"), QStringLiteral("%SystemDrive%\\Users\\Public"));
        QTest::newRow("NT 6.1 expands Public") << versionRecord(2, 6, 1) << expandable << "C:"
                                               << "C:\\Users\\Public\\";
        QTest::newRow("NT 6.0 expands Public") << versionRecord(2, 6, 0) << expandable << "D:"
                                               << "D:\\Users\\Public\\";
        QTest::newRow("plain Public expanded in any letter case")
            << versionRecord(2, 6, 1)
            << regString(QStringLiteral("Public"), QStringLiteral("%SYSTEMdrive%\\Users\\Public")) << "C:"
            << "C:\\Users\\Public\\";
        QTest::newRow("undefined SystemDrive drops the reference")
            << versionRecord(2, 6, 1)
            << regString(QStringLiteral("Public"), QStringLiteral("%SystemDrive%\\Users\\Public"))
            << "<undefined>"
            << "\\Users\\Public\\";
        QTest::newRow("NT 6.1 without Public has no fall-back") << versionRecord(2, 6, 1) << QString() << "C:"
                                                                << "";
        QTest::newRow("NT 5.1 uses all users' application data")
            << versionRecord(2, 5, 1) << expandable << "C:"
            << "C:\\ProgramData\\";
        QTest::newRow("NT 6.2 uses all users' application data")
            << versionRecord(2, 6, 2) << expandable << "C:"
            << "C:\\ProgramData\\";
        QTest::newRow("6.1 of another family uses application data")
            << versionRecord(0, 6, 1) << expandable << "C:"
            << "C:\\ProgramData\\";
    }

    void findsTheCommonDataRoot() {
        QFETCH(Orvex::OsVersionInfo, version);
        QFETCH(QString, publicLine);
        QFETCH(QString, systemDrive);
        QFETCH(QString, expected);
        QHash<QString, QString> environment;
        if (systemDrive != u"<undefined>")
            environment.insert(QStringLiteral("SystemDrive"), systemDrive);
        const QString machine = regFile(
            ProfileListSection + publicLine + QStringLiteral("[HKEY_LOCAL_MACHINE\\") + ShellFoldersSection +
            regString(QStringLiteral("Common AppData"), QStringLiteral("C:\\ProgramData")));
        LocationFixture fixture(QString(), machine, version, environment);
        QCOMPARE(RegFuncs::GetCommonDataRoot(), expected);
        QCOMPARE(fixture.registry.openHandleCount(), 0);
    }

    void findsRegisteredProgramFolders_data() {
        QTest::addColumn<QString>("defaultLine");
        QTest::addColumn<QString>("expected");

        const auto value = [](const QString &text) { return QStringLiteral("@=\"%1\"\r\n").arg(text); };
        QTest::newRow("backslashes") << value(QStringLiteral("C:\\\\Program Files\\\\Suite\\\\OrvexOne.exe"))
                                     << "C:\\Program Files\\Suite\\";
        QTest::newRow("quoted") << value(
                                       QStringLiteral("\\\"C:\\\\Program Files\\\\Suite\\\\OrvexOne.exe\\\""))
                                << "C:\\Program Files\\Suite\\";
        QTest::newRow("slashes") << value(QStringLiteral("C:/Apps/OrvexOne.exe")) << "C:/Apps/";
        QTest::newRow("a backslash wins over later slashes")
            << value(QStringLiteral("C:\\\\Apps/Suite/OrvexOne.exe")) << "C:\\";
        QTest::newRow("no separator") << value(QStringLiteral("OrvexOne.exe")) << "";
        QTest::newRow("no default value")
            << regString(QStringLiteral("Path"), QStringLiteral("C:\\Apps")) << "";
        QTest::newRow("default value of another type") << QStringLiteral("@=dword:00000001\r\n") << "";
    }

    void findsRegisteredProgramFolders() {
        QFETCH(QString, defaultLine);
        QFETCH(QString, expected);
        LocationFixture fixture(QString(), regFile(AppPathsSection + defaultLine), std::nullopt);
        QCOMPARE(RegFuncs::GetAppPath(QStringLiteral("OrvexOne.exe")), expected);
        QCOMPARE(RegFuncs::GetAppPath(QStringLiteral("Other.exe")), QString());
        QCOMPARE(fixture.registry.openHandleCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWellKnownFolders)
#include "tst_wellknownfolders.moc"
