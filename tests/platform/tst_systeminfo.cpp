#include "systeminfo.h"

#include <QTest>

#include <sys/utsname.h>

using namespace Orvex;

class TestSystemInfo : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void expandsEnvironmentReferences_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expected");

        QTest::newRow("defined variable replaced") << "%SystemDrive%\\Users"
                                                   << "C:\\Users";
        QTest::newRow("names ignore letter case") << "%SYSTEMDRIVE%\\x"
                                                  << "C:\\x";
        QTest::newRow("undefined reference stays") << "%Nowhere%\\x"
                                                   << "%Nowhere%\\x";
        QTest::newRow("two references") << "%SystemDrive%%Home%"
                                        << "C:\\Users\\ann";
        QTest::newRow("empty name stays") << "100%%"
                                          << "100%%";
        QTest::newRow("unclosed percent stays") << "50% off"
                                                << "50% off";
        QTest::newRow("undefined then defined") << "%No%%Home%"
                                                << "%No%\\Users\\ann";
        QTest::newRow("value is not expanded again") << "%Loop%"
                                                     << "%Loop%x";
        QTest::newRow("no references") << "plain"
                                       << "plain";
        QTest::newRow("empty") << ""
                               << "";
    }

    void expandsEnvironmentReferences() {
        QFETCH(QString, source);
        QFETCH(QString, expected);
        const FixedSystemInfo system(std::nullopt, {{QStringLiteral("SystemDrive"), QStringLiteral("C:")},
                                                    {QStringLiteral("Home"), QStringLiteral("\\Users\\ann")},
                                                    {QStringLiteral("Loop"), QStringLiteral("%Loop%x")}});
        QString destination(1024, QChar(u'\0'));
        const quint32 count = system.expandEnvironmentStrings(source, destination, 1024);
        QCOMPARE(count, quint32(expected.size() + 1));
        QCOMPARE(destination.left(expected.size()), expected);
        QCOMPARE(destination.at(expected.size()), QChar(u'\0'));
    }

    void overlongExpansionLeavesTheBufferAlone() {
        const FixedSystemInfo system(std::nullopt, {{QStringLiteral("Long"), QString(1020, u'x')}});
        QString destination(1024, QChar(u'\0'));
        QCOMPARE(system.expandEnvironmentStrings(QStringLiteral("%Long%\\ab"), destination, 1024), 1024u);
        QCOMPARE(destination.left(1023), QString(1020, u'x') + QStringLiteral("\\ab"));

        QString untouched(1024, QChar(u'\0'));
        QCOMPARE(system.expandEnvironmentStrings(QStringLiteral("%Long%\\abc"), untouched, 1024), 1025u);
        QCOMPARE(untouched, QString(1024, QChar(u'\0')));
    }

    void fixedVersionRecordAnswersAsGiven() {
        const FixedSystemInfo failing(std::nullopt, {});
        OsVersionInfo info;
        info.osVersionInfoSize = OsVersionInfo::RecordSize;
        QVERIFY(!failing.getVersionEx(info));

        const FixedSystemInfo seven(FixedSystemInfo::version(2, 6, 1, 7601), {});
        QVERIFY(seven.getVersionEx(info));
        QCOMPARE(info.platformId, 2u);
        QCOMPARE(info.minorVersion, 1u);
        QCOMPARE(info.buildNumber, 7601u);

        OsVersionInfo unsized;
        QVERIFY(!seven.getVersionEx(unsized));
    }

    void hostVersionComesFromUname() {
        utsname system{};
        QCOMPARE(uname(&system), 0);
        const QStringList release = QString::fromLatin1(system.release).split(u'.');

        OsVersionInfo info;
        info.osVersionInfoSize = OsVersionInfo::RecordSize;
        QVERIFY(HostSystemInfo().getVersionEx(info));
        QCOMPARE(QString::number(info.majorVersion), release.value(0));
        QVERIFY(release.value(1).startsWith(QString::number(info.minorVersion)));
        QVERIFY(info.platformId != 1 && info.platformId != 2);
        QCOMPARE(info.csdVersion.back(), '\0');

        OsVersionInfo unsized;
        QVERIFY(!HostSystemInfo().getVersionEx(unsized));
    }

    void hostEnvironmentIgnoresLetterCase() {
        qputenv("ORVEX_TEST_SYSTEMDRIVE", "Z:");
        const HostSystemInfo system;
        QCOMPARE(system.environmentVariable(QStringLiteral("Orvex_Test_SystemDrive")), QStringLiteral("Z:"));
        QVERIFY(!system.environmentVariable(QStringLiteral("ORVEX_TEST_UNDEFINED")));
        qunsetenv("ORVEX_TEST_SYSTEMDRIVE");
        QVERIFY(!system.environmentVariable(QStringLiteral("ORVEX_TEST_SYSTEMDRIVE")));
    }
};

QTEST_GUILESS_MAIN(TestSystemInfo)
#include "tst_systeminfo.moc"
