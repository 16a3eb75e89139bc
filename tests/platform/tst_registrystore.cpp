#include "registrystore.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Orvex;

namespace {

const QString Reg5Header = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n");
const QString Reg4Header = QStringLiteral("REGEDIT4\r\n\r\n");

struct Read {
    qint32 status = ERROR_FILE_NOT_FOUND;
    quint32 type = REG_NONE;
    QByteArray data;
};

// Opens subKey below root, runs the size query and the data query, closes the key.
Read readValue(RegistryStore &store, quint32 root, const QString &subKey, const QString &valueName) {
    Read result;
    quint32 handle = 0;
    result.status = store.openKey(root, subKey, &handle);
    if (result.status != ERROR_SUCCESS)
        return result;
    quint32 size = 0;
    result.status = store.queryValue(handle, valueName, &result.type, nullptr, &size);
    if (result.status == ERROR_SUCCESS) {
        result.data.fill('?', size);
        result.status = store.queryValue(handle, valueName, nullptr, result.data.data(), &size);
    }
    store.closeKey(handle);
    return result;
}

QByteArray utf16Hex(const QString &text) {
    QStringList bytes;
    for (const QChar c : text) {
        bytes << QStringLiteral("%1").arg(c.unicode() & 0xFF, 2, 16, QLatin1Char('0'))
              << QStringLiteral("%1").arg(c.unicode() >> 8, 2, 16, QLatin1Char('0'));
    }
    return bytes.join(u',').toLatin1();
}

} // namespace

class TestRegistryStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parsesValueForms_data() {
        QTest::addColumn<QString>("regText");
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");

        const QString key = QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n");
        QTest::newRow("text with escapes")
            << Reg5Header + key + QStringLiteral("\"Path\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n")
            << "Path" << REG_SZ << QByteArray("C:\\Program Files\\\"x\"\0", 21);
        QTest::newRow("escaped name") << Reg5Header + key + QStringLiteral("\"a\\\"b\"=\"v\"\r\n") << "a\"b"
                                      << REG_SZ << QByteArray("v\0", 2);
        QTest::newRow("empty text") << Reg5Header + key + QStringLiteral("\"Empty\"=\"\"\r\n") << "Empty"
                                    << REG_SZ << QByteArray("\0", 1);
        QTest::newRow("non-ASCII text as UTF-8")
            << Reg5Header + key + QStringLiteral("\"Name\"=\"Gr\u00F6\u00DFe\"\r\n") << "Name" << REG_SZ
            << QByteArray("Gr\xC3\xB6\xC3\x9F"
                          "e\0",
                          8);
        QTest::newRow("default value")
            << Reg5Header + key + QStringLiteral("@=\"dflt\"\r\n") << "" << REG_SZ << QByteArray("dflt\0", 5);
        QTest::newRow("value names ignore letter case")
            << Reg5Header + key + QStringLiteral("\"MixedCase\"=\"v\"\r\n") << "mIXEDcASE" << REG_SZ
            << QByteArray("v\0", 2);
        QTest::newRow("later definition wins")
            << Reg5Header + key + QStringLiteral("\"V\"=\"1\"\r\n") + key + QStringLiteral("\"V\"=\"2\"\r\n")
            << "V" << REG_SZ << QByteArray("2\0", 2);
        QTest::newRow("dword") << Reg5Header + key + QStringLiteral("\"N\"=dword:0000012a\r\n") << "N"
                               << REG_DWORD << QByteArray("\x2a\x01\0\0", 4);
        QTest::newRow("binary") << Reg5Header + key + QStringLiteral("\"B\"=hex:01,ff,0A\r\n") << "B"
                                << REG_BINARY << QByteArray("\x01\xff\x0a", 3);
        QTest::newRow("expandable text in 5.00 is UTF-16LE")
            << Reg5Header + key + QStringLiteral("\"E\"=hex(2):") +
                   QString::fromLatin1(utf16Hex(QStringLiteral("%A%\u00E9"))) + QStringLiteral(",00,00\r\n")
            << "E" << REG_EXPAND_SZ << QByteArray("%A%\xC3\xA9\0", 6);
        QTest::newRow("expandable text in REGEDIT4 is 8-bit")
            << Reg4Header + key + QStringLiteral("\"E\"=hex(2):25,41,25,00\r\n") << "E" << REG_EXPAND_SZ
            << QByteArray("%A%\0", 4);
        QTest::newRow("multi text in 5.00")
            << Reg5Header + key + QStringLiteral("\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n") << "M"
            << REG_MULTI_SZ << QByteArray("a\0b\0\0", 5);
        QTest::newRow("multi text in REGEDIT4")
            << Reg4Header + key + QStringLiteral("\"M\"=hex(7):61,00,62,00,00\r\n") << "M" << REG_MULTI_SZ
            << QByteArray("a\0b\0\0", 5);
        QTest::newRow("continuation lines")
            << Reg5Header + key +
                   QStringLiteral(
                       "\"E\"=hex(2):43,00,3a,00,\\\r\n  5c,00,\\\r\n  00,00\r\n\"After\"=\"x\"\r\n")
            << "E" << REG_EXPAND_SZ << QByteArray("C:\\\0", 4);
        QTest::newRow("text without terminating NUL")
            << Reg5Header + key + QStringLiteral("\"S\"=hex(1):41,00,42,00\r\n") << "S" << REG_SZ
            << QByteArray("AB");
        QTest::newRow("short root names")
            << Reg5Header + QStringLiteral("[HKLM\\SOFTWARE\\Test]\r\n\"V\"=\"s\"\r\n") << "V" << REG_SZ
            << QByteArray("s\0", 2);
        QTest::newRow("LF only and blanks")
            << QStringLiteral("REGEDIT4\n\n  [HKEY_LOCAL_MACHINE\\SOFTWARE\\Test] \n  \"V\" = \"s\"\n") << "V"
            << REG_SZ << QByteArray("s\0", 2);
        QTest::newRow("UTF-16 BOM character before the header")
            << QStringLiteral("\uFEFF") + Reg5Header + key + QStringLiteral("\"V\"=\"s\"\r\n") << "V"
            << REG_SZ << QByteArray("s\0", 2);
    }

    void parsesValueForms() {
        QFETCH(QString, regText);
        QFETCH(QString, valueName);
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        RegistryStore store = RegistryStore::fromText(QString(), regText);
        const Read read = readValue(store, HKEY_LOCAL_MACHINE, QStringLiteral("software\\test"), valueName);
        QCOMPARE(read.status, ERROR_SUCCESS);
        QCOMPARE(read.type, type);
        QCOMPARE(read.data, data);
        QCOMPARE(store.openHandleCount(), 0);
    }

    void skipsWhatCannotBeRead_data() {
        QTest::addColumn<QString>("regText");
        QTest::addColumn<QString>("valueName");

        const QString key = QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n");
        QTest::newRow("invalid hex") << Reg5Header + key + QStringLiteral("\"Bad\"=hex:0g,1\r\n") << "Bad";
        QTest::newRow("three-digit byte")
            << Reg5Header + key + QStringLiteral("\"Bad\"=hex:100\r\n") << "Bad";
        QTest::newRow("invalid dword")
            << Reg5Header + key + QStringLiteral("\"Bad\"=dword:123456789\r\n") << "Bad";
        QTest::newRow("unterminated text")
            << Reg5Header + key + QStringLiteral("\"Bad\"=\"open\r\n") << "Bad";
        QTest::newRow("unterminated name") << Reg5Header + key + QStringLiteral("\"Bad=\"v\"\r\n") << "Bad";
        QTest::newRow("unknown form") << Reg5Header + key + QStringLiteral("\"Bad\"=str:x\r\n") << "Bad";
        QTest::newRow("no header") << key + QStringLiteral("\"Good\"=\"v\"\r\n") << "Good";
        QTest::newRow("section without close")
            << Reg5Header + key + QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\r\n\"Bad\"=\"v\"\r\n")
            << "Bad";
        QTest::newRow("value before any section")
            << Reg5Header + QStringLiteral("\"Bad\"=\"v\"\r\n") + key << "Bad";
        QTest::newRow("binary garbage")
            << Reg5Header + key + QString::fromLatin1(QByteArrayLiteral("\x00\x01\xff\xfe[\"=\\\\\\"))
            << "Bad";
    }

    void skipsWhatCannotBeRead() {
        QFETCH(QString, regText);
        QFETCH(QString, valueName);
        const QString good = QStringLiteral("\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n\"Good\"=\"v\"\r\n");
        RegistryStore store = RegistryStore::fromText(QString(), regText + good);
        QCOMPARE(readValue(store, HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Test"), valueName).status,
                 ERROR_FILE_NOT_FOUND);
        const bool hasHeader = regText.contains(QStringLiteral("Version 5.00"));
        QCOMPARE(
            readValue(store, HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Test"), QStringLiteral("Good"))
                .status,
            hasHeader ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    }

    void opensKeysByPath() {
        RegistryStore store = RegistryStore::fromText(
            Reg5Header + QStringLiteral("[HKEY_CURRENT_USER\\Software\\Orvex\\Deep]\r\n\"V\"=\"user\"\r\n"
                                        "[HKEY_LOCAL_MACHINE\\Software\\Hidden]\r\n"),
            Reg5Header + QStringLiteral("[HKEY_LOCAL_MACHINE\\Software\\Machine]\r\n"));
        quint32 handle = 0;
        QCOMPARE(store.openKey(HKEY_CURRENT_USER, QStringLiteral("SOFTWARE\\ORVEX\\deep"), &handle),
                 ERROR_SUCCESS);
        QCOMPARE(store.closeKey(handle), ERROR_SUCCESS);
        QCOMPARE(store.closeKey(handle), ERROR_INVALID_HANDLE);

        // Ancestors of a key exist; siblings and roots of the other file do not.
        QCOMPARE(store.openKey(HKEY_CURRENT_USER, QStringLiteral("Software"), &handle), ERROR_SUCCESS);
        quint32 child = 0;
        QCOMPARE(store.openKey(handle, QStringLiteral("Orvex\\Deep"), &child), ERROR_SUCCESS);
        QCOMPARE(readValue(store, child, QString(), QStringLiteral("V")).data, QByteArray("user\0", 5));
        store.closeKey(child);
        store.closeKey(handle);
        QCOMPARE(store.openKey(HKEY_CURRENT_USER, QStringLiteral("Software\\Orv"), &handle),
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(store.openKey(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Hidden"), &handle),
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(store.openKey(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Machine"), &handle),
                 ERROR_SUCCESS);
        store.closeKey(handle);
        QCOMPARE(store.openKey(HKEY_USERS, QString(), &handle), ERROR_SUCCESS);
        store.closeKey(handle);
        QCOMPARE(store.openKey(HKEY_LOCAL_MACHINE, QStringLiteral("\\Software"), &handle),
                 ERROR_BAD_PATHNAME);
        QCOMPARE(store.openKey(0x1234, QStringLiteral("Software"), &handle), ERROR_INVALID_HANDLE);
        QCOMPARE(store.openHandleCount(), 0);
    }

    void removalsApplyInOrder() {
        const QString text =
            Reg5Header + QStringLiteral("[HKEY_LOCAL_MACHINE\\A\\B\\C]\r\n\"V\"=\"old\"\r\n\"W\"=\"w\"\r\n"
                                        "[-HKEY_LOCAL_MACHINE\\A\\B]\r\n"
                                        "[HKEY_LOCAL_MACHINE\\A\\B\\C]\r\n\"V\"=\"new\"\r\n"
                                        "[HKEY_LOCAL_MACHINE\\X]\r\n\"Gone\"=\"g\"\r\n\"Gone\"=-\r\n"
                                        "[HKEY_LOCAL_MACHINE\\Y\\Z]\r\n[-HKEY_LOCAL_MACHINE\\Y]\r\n");
        RegistryStore store = RegistryStore::fromText(QString(), text);
        QCOMPARE(readValue(store, HKEY_LOCAL_MACHINE, QStringLiteral("A\\B\\C"), QStringLiteral("V")).data,
                 QByteArray("new\0", 4));
        QCOMPARE(readValue(store, HKEY_LOCAL_MACHINE, QStringLiteral("A\\B\\C"), QStringLiteral("W")).status,
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(readValue(store, HKEY_LOCAL_MACHINE, QStringLiteral("X"), QStringLiteral("Gone")).status,
                 ERROR_FILE_NOT_FOUND);
        quint32 handle = 0;
        QCOMPARE(store.openKey(HKEY_LOCAL_MACHINE, QStringLiteral("Y\\Z"), &handle), ERROR_FILE_NOT_FOUND);
    }

    void answersTheTwoStepQuery() {
        RegistryStore store = RegistryStore::fromText(
            QString(), Reg5Header + QStringLiteral("[HKEY_LOCAL_MACHINE\\K]\r\n\"V\"=\"12345\"\r\n"));
        quint32 handle = 0;
        QCOMPARE(store.openKey(HKEY_LOCAL_MACHINE, QStringLiteral("K"), &handle), ERROR_SUCCESS);
        quint32 type = REG_NONE;
        quint32 size = 0;
        QCOMPARE(store.queryValue(handle, QStringLiteral("V"), &type, nullptr, &size), ERROR_SUCCESS);
        QCOMPARE(type, REG_SZ);
        QCOMPARE(size, 6u);
        char small[3] = {'#', '#', '#'};
        size = 3;
        QCOMPARE(store.queryValue(handle, QStringLiteral("V"), &type, small, &size), ERROR_MORE_DATA);
        QCOMPARE(size, 6u);
        QCOMPARE(small[0], '#');
        QCOMPARE(store.queryValue(handle, QStringLiteral("Missing"), &type, nullptr, &size),
                 ERROR_FILE_NOT_FOUND);
        QCOMPARE(store.queryValue(handle, QString(), &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
        store.closeKey(handle);
        QCOMPARE(store.queryValue(handle, QStringLiteral("V"), &type, nullptr, &size), ERROR_INVALID_HANDLE);
    }

    void shellFoldersFallBackToDefaults() {
        const QString shellFolders =
            QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
        const ShellFolderDefaults defaults{QStringLiteral("/home/ann/Documents"),
                                           QStringLiteral("/home/ann/.config"), QStringLiteral("/etc/xdg")};
        RegistryStore store = RegistryStore::fromText(
            Reg5Header + QStringLiteral("[HKEY_CURRENT_USER\\") + shellFolders +
                QStringLiteral("]\r\n\"Personal\"=\"D:\\\\Docs\"\r\n\"AppData\"=-\r\n"),
            QString(), defaults);
        QCOMPARE(readValue(store, HKEY_CURRENT_USER, shellFolders, QStringLiteral("Personal")).data,
                 QByteArray("D:\\Docs\0", 8));
        QCOMPARE(readValue(store, HKEY_CURRENT_USER, shellFolders, QStringLiteral("AppData")).data,
                 QByteArray("/home/ann/.config\0", 18));
        QCOMPARE(readValue(store, HKEY_LOCAL_MACHINE, shellFolders, QStringLiteral("Common AppData")).data,
                 QByteArray("/etc/xdg\0", 9));
        QCOMPARE(readValue(store, HKEY_LOCAL_MACHINE, shellFolders, QStringLiteral("Personal")).status,
                 ERROR_FILE_NOT_FOUND);
        quint32 handle = 0;
        QCOMPARE(store.openKey(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Microsoft"), &handle),
                 ERROR_SUCCESS);
        store.closeKey(handle);

        RegistryStore bare = RegistryStore::fromText(QString(), QString());
        QCOMPARE(bare.openKey(HKEY_CURRENT_USER, shellFolders, &handle), ERROR_FILE_NOT_FOUND);
    }

    void readsFilesAnewOnEveryOpen() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("machine.reg"));
        RegistryStore store = RegistryStore::fromFiles(QString(), path);
        QCOMPARE(readValue(store, HKEY_LOCAL_MACHINE, QStringLiteral("K"), QStringLiteral("V")).status,
                 ERROR_FILE_NOT_FOUND);

        // Regedit writes 5.00 files as UTF-16LE with a byte order mark.
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QString text =
            Reg5Header + QStringLiteral("[HKEY_LOCAL_MACHINE\\K]\r\n\"V\"=\"caf\u00E9\"\r\n");
        QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
        file.write(encoder.encode(text));
        file.close();
        QCOMPARE(readValue(store, HKEY_LOCAL_MACHINE, QStringLiteral("K"), QStringLiteral("V")).data,
                 QByteArray("caf\xC3\xA9\0", 6));
    }

    void hostStoreUsesTheXdgFolders() {
        // add_orvex_test gives this process private XDG folders.
        const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY(configHome.contains(QStringLiteral(".home")));
        QCOMPARE(RegistryStore::userRegistryFile(), configHome + QStringLiteral("/OrvexKelPostJob/user.reg"));
        QCOMPARE(RegistryStore::machineRegistryFile(),
                 qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':').first() +
                     QStringLiteral("/OrvexKelPostJob/machine.reg"));

        QVERIFY(QDir().mkpath(configHome + QStringLiteral("/OrvexKelPostJob")));
        QFile file(RegistryStore::userRegistryFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArrayLiteral("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Orvex]\n\"V\"=\"user\"\n"));
        file.close();
        RegistryStore store = RegistryStore::host();
        QCOMPARE(
            readValue(store, HKEY_CURRENT_USER, QStringLiteral("Software\\Orvex"), QStringLiteral("V")).data,
            QByteArray("user\0", 5));
        const Read appData =
            readValue(store, HKEY_CURRENT_USER,
                      QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"),
                      QStringLiteral("AppData"));
        QCOMPARE(appData.data, configHome.toUtf8().append('\0'));
        QVERIFY(QFile::remove(RegistryStore::userRegistryFile()));
    }
};

QTEST_GUILESS_MAIN(TestRegistryStore)
#include "tst_registrystore.moc"
