#include "regfuncs.h"

#include "locationfixture.h"

#include <QTest>

class TestRegFuncs : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsStringValues_data() {
        QTest::addColumn<QString>("valueLines");
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<bool>("expectedResult");
        QTest::addColumn<QString>("expectedValue");

        const QString unchanged = QStringLiteral("unchanged");
        QTest::newRow("plain text") << regString(QStringLiteral("V"), QStringLiteral("C:\\Data")) << "V"
                                    << true << "C:\\Data";
        QTest::newRow("plain text keeps references")
            << regString(QStringLiteral("V"), QStringLiteral("%SystemDrive%\\Users")) << "V" << true
            << "%SystemDrive%\\Users";
        QTest::newRow("expandable text is expanded")
            << regExpandString(QStringLiteral("V"), QStringLiteral("%SystemDrive%\\Users\\Public")) << "V"
            << true << "C:\\Users\\Public";
        QTest::newRow("expandable text keeps undefined references")
            << regExpandString(QStringLiteral("V"), QStringLiteral("%Undefined%\\x")) << "V" << true
            << "%Undefined%\\x";
        QTest::newRow("dword is not read")
            << QStringLiteral("\"V\"=dword:00000001\r\n") << "V" << false << unchanged;
        QTest::newRow("multi text is not read")
            << QStringLiteral("\"V\"=hex(7):61,00,00,00,00,00\r\n") << "V" << false << unchanged;
        QTest::newRow("binary is not read")
            << QStringLiteral("\"V\"=hex:41,00\r\n") << "V" << false << unchanged;
        QTest::newRow("stored NUL ends the text")
            << QStringLiteral("\"V\"=hex(1):41,00,00,00,42,00,00,00\r\n") << "V" << true << "A";
        QTest::newRow("text without terminating NUL returned whole")
            << QStringLiteral("\"V\"=hex(1):41,00,42,00\r\n") << "V" << true << "AB";
        QTest::newRow("empty text") << regString(QStringLiteral("V"), QString()) << "V" << true << "";
        QTest::newRow("missing value")
            << regString(QStringLiteral("W"), QStringLiteral("x")) << "V" << false << unchanged;
        QTest::newRow("missing name reads the default value")
            << QStringLiteral("@=\"default\"\r\n") << "" << true << "default";
        QTest::newRow("key without default value")
            << regString(QStringLiteral("V"), QStringLiteral("x")) << "" << false << unchanged;
        QTest::newRow("non-ASCII text") << regString(QStringLiteral("V"), QStringLiteral("C:\\Donn\u00E9es"))
                                        << "V" << true << QStringLiteral("C:\\Donn\u00E9es");
        QTest::newRow("expansion filling the buffer")
            << regExpandString(QStringLiteral("V"), QStringLiteral("%Long%\\ab")) << "V" << true
            << QString(1020, u'x') + QStringLiteral("\\ab");
        // A cut folder path would name the wrong place; the value counts as unreadable instead.
        QTest::newRow("expansion beyond the buffer is not read")
            << regExpandString(QStringLiteral("V"), QStringLiteral("%Long%\\abc")) << "V" << false
            << unchanged;
    }

    void readsStringValues() {
        QFETCH(QString, valueLines);
        QFETCH(QString, valueName);
        QFETCH(bool, expectedResult);
        QFETCH(QString, expectedValue);
        LocationFixture fixture(
            QString(), regFile(QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n") + valueLines),
            std::nullopt,
            {{QStringLiteral("SYSTEMDRIVE"), QStringLiteral("C:")},
             {QStringLiteral("Long"), QString(1020, u'x')}});
        quint32 handle = 0;
        QVERIFY(RegFuncs::RegOpen(RegFuncs::HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Test"), handle));
        QString value = QStringLiteral("unchanged");
        QCOMPARE(RegFuncs::RegQueryString(handle, valueName, value), expectedResult);
        QCOMPARE(value, expectedValue);
        QVERIFY(RegFuncs::RegClose(handle));
        QCOMPARE(fixture.registry.openHandleCount(), 0);
    }

    void opensAndClosesKeys() {
        LocationFixture fixture(regFile(QStringLiteral("[HKEY_CURRENT_USER\\Software\\Orvex]\r\n")),
                                QString(), std::nullopt);
        quint32 handle = 0;
        QVERIFY(!RegFuncs::RegOpen(RegFuncs::HKEY_CURRENT_USER, QStringLiteral("Software\\Missing"), handle));
        QVERIFY(!RegFuncs::RegOpen(RegFuncs::HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Orvex"), handle));
        QVERIFY(RegFuncs::RegOpen(RegFuncs::HKEY_CURRENT_USER, QStringLiteral("SOFTWARE\\orvex"), handle));
        QString value;
        QVERIFY(!RegFuncs::RegQueryString(handle, QStringLiteral("Anything"), value));
        QVERIFY(RegFuncs::RegClose(handle));
        QVERIFY(!RegFuncs::RegClose(handle));
        QVERIFY(!RegFuncs::RegQueryString(handle, QString(), value));
    }
};

QTEST_GUILESS_MAIN(TestRegFuncs)
#include "tst_regfuncs.moc"
