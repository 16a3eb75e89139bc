#include "scopedenvironment.h"
#include "xdgfolders.h"

#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestXdgFolders : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void homeFolders_data();
    void homeFolders();
    void configDirs_data();
    void configDirs();
};

void TestXdgFolders::homeFolders_data() {
    QTest::addColumn<QByteArray>("stateHome"); // null: unset
    QTest::addColumn<QByteArray>("configHome");
    QTest::addColumn<QString>("expectedState"); // "~" stands for $HOME
    QTest::addColumn<QString>("expectedConfig");

    QTest::newRow("unset: the defaults below HOME")
        << QByteArray() << QByteArray() << u"~/.local/state"_s << u"~/.config"_s;
    QTest::newRow("absolute paths are taken, cleaned")
        << QByteArray("/srv/state//me/") << QByteArray("/srv/config") << u"/srv/state/me"_s
        << u"/srv/config"_s;
    // A relative path would put the files wherever the server happens to be started.
    QTest::newRow("relative state home falls back")
        << QByteArray("state") << QByteArray("/srv/config") << u"~/.local/state"_s << u"/srv/config"_s;
    QTest::newRow("relative config home falls back")
        << QByteArray("/srv/state") << QByteArray("./config") << u"/srv/state"_s << u"~/.config"_s;
    QTest::newRow("empty values fall back")
        << QByteArray("") << QByteArray("") << u"~/.local/state"_s << u"~/.config"_s;
}

void TestXdgFolders::homeFolders() {
    QFETCH(QByteArray, stateHome);
    QFETCH(QByteArray, configHome);
    QFETCH(QString, expectedState);
    QFETCH(QString, expectedConfig);

    const ScopedEnvironment environment{
        {"HOME", "/home/tester"}, {"XDG_STATE_HOME", stateHome}, {"XDG_CONFIG_HOME", configHome}};
    const Orvex::XdgFolders folders = Orvex::XdgFolders::fromEnvironment();
    QCOMPARE(folders.stateHome, expectedState.replace(u'~', u"/home/tester"_s));
    QCOMPARE(folders.configHome, expectedConfig.replace(u'~', u"/home/tester"_s));
}

void TestXdgFolders::configDirs_data() {
    QTest::addColumn<QByteArray>("configDirs");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("unset: /etc/xdg") << QByteArray() << QStringList{u"/etc/xdg"_s};
    QTest::newRow("in order, relative entries dropped")
        << QByteArray("/opt/xdg:relative::/etc/xdg/") << QStringList{u"/opt/xdg"_s, u"/etc/xdg"_s};
    QTest::newRow("only relative entries: /etc/xdg") << QByteArray("a:b") << QStringList{u"/etc/xdg"_s};
}

void TestXdgFolders::configDirs() {
    QFETCH(QByteArray, configDirs);
    QFETCH(QStringList, expected);

    const ScopedEnvironment environment{{"XDG_CONFIG_DIRS", configDirs}};
    QCOMPARE(Orvex::XdgFolders::fromEnvironment().configDirs, expected);
}

QTEST_GUILESS_MAIN(TestXdgFolders)
#include "tst_xdgfolders.moc"
