#include "inisettings.h"

#include "registrystore.h"
#include "systemcontext.h"
#include "systeminfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString ShellFoldersKey =
    QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
const QString Documents = QStringLiteral("C:\\Users\\Ann\\Documents");

// A "Name"="text" line of a registry file.
QString regString(const QString &name, QString text) {
    text.replace(u'\\', QStringLiteral("\\\\"));
    return QStringLiteral("\"%1\"=\"%2\"\r\n").arg(name, text);
}

QString regFile(const QString &root, const QString &values) {
    return QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n[%1\\%2]\r\n%3")
        .arg(root, ShellFoldersKey, values);
}

} // namespace

class TestIniSettings : public QObject {
    Q_OBJECT

private:
    // Each test works in a fresh folder: <root>/Common holds the suite folder Orvex, <root>/cwd is the
    // current folder.
    QString root() const { return m_dir->path(); }

    // The Windows form of a path below the test's folder: "<root>\a\b".
    QString windowsPath(const QString &relative) const {
        return root() + u'\\' + QString(relative).replace(u'/', u'\\');
    }

    void writeFile(const QString &relative, const QByteArray &content) {
        const QString path = root() + u'/' + relative;
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(content), content.size());
    }

    // The documents folder (none when empty), the user's application data, and <root>\Common as the
    // common data root of a system that reports NT 5.1.
    void installSystem(const QString &documents) {
        QString user =
            regString(QStringLiteral("AppData"), QStringLiteral("C:\\Users\\Ann\\AppData\\Roaming\\"));
        if (!documents.isEmpty())
            user += regString(QStringLiteral("Personal"), documents);
        const QString machine =
            regString(QStringLiteral("Common AppData"), windowsPath(QStringLiteral("Common")));
        m_scope.reset();
        m_registry = std::make_unique<Orvex::RegistryStore>(
            Orvex::RegistryStore::fromText(regFile(QStringLiteral("HKEY_CURRENT_USER"), user),
                                           regFile(QStringLiteral("HKEY_LOCAL_MACHINE"), machine)));
        m_scope = std::make_unique<Orvex::ScopedSystemContext>(*m_registry, m_system);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousFolder;
    const Orvex::FixedSystemInfo m_system{Orvex::FixedSystemInfo::version(2, 5, 1), {}};
    std::unique_ptr<Orvex::RegistryStore> m_registry;
    std::unique_ptr<Orvex::ScopedSystemContext> m_scope;

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        writeFile(QStringLiteral("Common/Orvex/OrvexOne.ini"), "[General]\nValue=suite\nEmpty=\n");
        writeFile(QStringLiteral("SettingsOrvexOne.ini"), "[General]\nValue=settings\n");
        writeFile(QStringLiteral("Docs/Suite/OrvexOne.ini"), "[General]\nValue=documents\n");
        writeFile(QStringLiteral("Data/ORVEXONE.INI"), "[General]\nValue=data\n");
        writeFile(QStringLiteral("Old/OrvexOne.ini.bak"), "[General]\nValue=bak\n");
        writeFile(QStringLiteral("cwd/OrvexOne.ini"), "[General]\nValue=cwd\n");
        m_previousFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root() + QStringLiteral("/cwd")));
        installSystem(Documents);
    }

    void cleanup() {
        m_scope.reset();
        m_registry.reset();
        QVERIFY(QDir::setCurrent(m_previousFolder));
        m_dir.reset();
    }

    void redirectsTheSuiteSettingsFile_data() {
        QTest::addColumn<QByteArray>("pathsFile");
        QTest::addColumn<QString>("iniFile");
        QTest::addColumn<bool>("keepPath");
        QTest::addColumn<QString>("expected");

        QTest::newRow("suite file instead of the named one")
            << QByteArray() << "Data\\ORVEXONE.INI" << false << "suite";
        QTest::newRow("KeepPath reads the named file")
            << QByteArray() << "Data\\ORVEXONE.INI" << true << "data";
        QTest::newRow("redirection is a substring test")
            << QByteArray() << "Old\\OrvexOne.ini.bak" << false << "suite";
        QTest::newRow("KeepPath on a backup file")
            << QByteArray() << "Old\\OrvexOne.ini.bak" << true << "bak";
        QTest::newRow("bare file name is not redirected") << QByteArray() << "<bare>" << false << "cwd";
        QTest::newRow("settings folder without separator")
            << QByteArray("[General]\nIniPath=<root>\\Settings\n") << "Data\\ORVEXONE.INI" << false
            << "settings";
        QTest::newRow("settings folder from the documents macro")
            << QByteArray("[General]\nIniPath=$(MyDocuments)\\Suite\n") << "Data\\ORVEXONE.INI" << false
            << "documents";
    }

    void redirectsTheSuiteSettingsFile() {
        QFETCH(QByteArray, pathsFile);
        QFETCH(QString, iniFile);
        QFETCH(bool, keepPath);
        QFETCH(QString, expected);
        if (!pathsFile.isEmpty())
            writeFile(QStringLiteral("Common/Orvex/OrvexOnePaths.ini"),
                      pathsFile.replace("<root>", windowsPath(QString()).chopped(1).toUtf8()));
        // Here the documents folder lies in the test's tree.
        if (pathsFile.contains("MyDocuments"))
            installSystem(windowsPath(QStringLiteral("Docs")));
        const QString path = iniFile == u"<bare>" ? QStringLiteral("OrvexOne.ini") : windowsPath(iniFile);
        QCOMPARE(FuncLib::GetIniString(path, QStringLiteral("General"), QStringLiteral("Value"),
                                       QStringLiteral("dflt"), keepPath),
                 expected);
    }

    void distinguishesMissingFromEmpty() {
        const QString redirected = windowsPath(QStringLiteral("Data\\OrvexOne.ini"));
        QCOMPARE(FuncLib::GetIniString(redirected, QStringLiteral("General"), QStringLiteral("Missing"),
                                       QStringLiteral("dflt")),
                 QStringLiteral("dflt"));
        QCOMPARE(FuncLib::GetIniString(redirected, QStringLiteral("General"), QStringLiteral("Empty"),
                                       QStringLiteral("dflt")),
                 QString());
        QCOMPARE(FuncLib::GetIniString(redirected, QStringLiteral("Nowhere"), QStringLiteral("Value"),
                                       QStringLiteral("dflt")),
                 QStringLiteral("dflt"));
    }

    void readsTheComponentFileInPlace() {
        const QString componentFile = windowsPath(QStringLiteral("OrvexKelPostJob.ini"));
        QCOMPARE(FuncLib::GetIniString(componentFile, QStringLiteral("General"), QStringLiteral("DebugMode"),
                                       QStringLiteral("0")),
                 QStringLiteral("0"));
        writeFile(QStringLiteral("OrvexKelPostJob.ini"), "[General]\r\nDebugMode=-1\r\n");
        QCOMPARE(FuncLib::GetIniString(componentFile, QStringLiteral("General"), QStringLiteral("DebugMode"),
                                       QStringLiteral("0")),
                 QStringLiteral("-1"));
    }

    void resolvesSuiteFolders_data() {
        QTest::addColumn<QString>("baseFolder");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("pathsFile");
        QTest::addColumn<bool>("documentsKnown");
        QTest::addColumn<QString>("expected");

        QTest::newRow("outbox default") << "C:\\Suite"
                                        << "OutboxPath" << QByteArray() << true << "C:\\Suite\\Outbox\\";
        QTest::newRow("keys in any letter case") << "C:\\Suite"
                                                 << "INIPATH" << QByteArray() << true << "C:\\Suite\\";
        QTest::newRow("data default") << "C:\\Suite"
                                      << "datapath" << QByteArray() << true << "C:\\Suite\\Data\\";
        QTest::newRow("temp default") << "C:\\Suite"
                                      << "TempPath" << QByteArray() << true << "C:\\Suite\\Temp\\";
        QTest::newRow("other key has no default") << "C:\\Suite"
                                                  << "LogPath" << QByteArray() << true << "";
        QTest::newRow("base trimmed") << "  C:\\Suite  "
                                      << "OutboxPath" << QByteArray() << true << "C:\\Suite\\Outbox\\";
        QTest::newRow("base ending in slash keeps it")
            << "C:/Suite/"
            << "OutboxPath" << QByteArray() << true << "C:/Suite/Outbox\\";
        QTest::newRow("blank base") << "   "
                                    << "OutboxPath" << QByteArray() << true << "Outbox\\";

        const QString base = QStringLiteral("<root>\\Suite");
        const QString documents = Documents;
        QTest::newRow("value without macro as stored")
            << base << "DataPath" << QByteArray("[General]\nDataPath=D:\\Settings\n") << true
            << "D:\\Settings";
        QTest::newRow("file keys in any letter case")
            << base << "DataPath" << QByteArray("[general]\ndatapath=D:\\X\\\n") << true << "D:\\X\\";
        QTest::newRow("present empty value is empty")
            << base << "DataPath" << QByteArray("[General]\nDataPath=\n") << true << "";
        QTest::newRow("missing key falls back to the default")
            << base << "DataPath" << QByteArray("[General]\nOutboxPath=D:\\Out\n") << true
            << "<root>\\Suite\\Data\\";
        QTest::newRow("macro in any letter case")
            << base << "DataPath" << QByteArray("[General]\nDataPath=$(mydocuments)\\Suite\\Data\n") << true
            << documents + QStringLiteral("\\Suite\\Data\\");
        QTest::newRow("application data macro")
            << base << "TempPath" << QByteArray("[General]\nTempPath=$(WinAppDataPath)\\Orvex\n") << true
            << "C:\\Users\\Ann\\AppData\\Roaming\\Orvex\\";
        QTest::newRow("common application data macro")
            << base << "TempPath" << QByteArray("[General]\nTempPath=$(WinCommonAppDataPath)\\Orvex\\\n")
            << true << "<root>\\Common\\Orvex\\";
        QTest::newRow("only the first kind of macro")
            << base << "DataPath"
            << QByteArray("[General]\nDataPath=$(WinAppDataPath)\\a;$(MyDocuments)\\b\n") << true
            << QStringLiteral("$(WinAppDataPath)\\a;") + documents + QStringLiteral("\\b\\");
        QTest::newRow("macro twice")
            << base << "DataPath" << QByteArray("[General]\nDataPath=$(MyDocuments)\\a;$(MYDOCUMENTS)\\b\n")
            << true << documents + QStringLiteral("\\a;") + documents + QStringLiteral("\\b\\");
        QTest::newRow("missing documents folder")
            << base << "DataPath" << QByteArray("[General]\nDataPath=$(MyDocuments)\\Data\n") << false
            << "\\Data\\";
        QTest::newRow("value cut to 254 characters") << base << "DataPath"
                                                     << "[General]\nDataPath=" + QByteArray(300, 'x') + "\n"
                                                     << true << QString(254, u'x');
    }

    void resolvesSuiteFolders() {
        QFETCH(QString, baseFolder);
        QFETCH(QString, key);
        QFETCH(QByteArray, pathsFile);
        QFETCH(bool, documentsKnown);
        QFETCH(QString, expected);
        const QString windowsRoot = windowsPath(QString()).chopped(1);
        if (!pathsFile.isEmpty())
            writeFile(QStringLiteral("Suite/OrvexOnePaths.ini"), pathsFile);
        installSystem(documentsKnown ? Documents : QString());
        baseFolder.replace(QStringLiteral("<root>"), windowsRoot);
        expected.replace(QStringLiteral("<root>"), windowsRoot);
        QCOMPARE(FuncLib::GetSuitePath(baseFolder, key), expected);
        QCOMPARE(m_registry->openHandleCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestIniSettings)
#include "tst_inisettings.moc"
