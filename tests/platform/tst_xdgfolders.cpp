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
    void missingHome_data();
    void missingHome();
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

void TestXdgFolders::missingHome_data() {
    QTest::addColumn<QByteArray>("home"); // null: unset
    QTest::addColumn<QByteArray>("configHome");
    QTest::addColumn<QByteArray>("stateHome");
    QTest::addColumn<QByteArray>("dataHome");
    QTest::addColumn<bool>("registration");
    QTest::addColumn<QString>("missing"); // empty: the folders are known; else part of the message

    const QByteArray none;
    QTest::newRow("HOME alone") << QByteArray("/home/tester") << none << none << none << false << QString();
    QTest::newRow("HOME of the root folder") << QByteArray("/") << none << none << none << false << QString();
    QTest::newRow("no HOME, no XDG: cron's env -i")
        << none << none << none << none << false << u"nor is XDG_CONFIG_HOME or XDG_STATE_HOME,"_s;
    QTest::newRow("no HOME, a service account's settings and state stand in for it")
        << none << QByteArray("/srv/c") << QByteArray("/srv/s") << none << false << QString();
    QTest::newRow("no HOME, no state folder") << none << QByteArray("/srv/c") << none << QByteArray("/srv/d")
                                              << false << u"nor is XDG_STATE_HOME,"_s;
    QTest::newRow("an empty HOME") << QByteArray("") << QByteArray("/srv/c") << none << none << false
                                   << u"HOME is not set"_s;
    QTest::newRow("a relative HOME, a relative stand-in")
        << QByteArray("home") << QByteArray("/srv/c") << QByteArray("s") << QByteArray("/srv/d") << false
        << u"nor is XDG_STATE_HOME,"_s;
    // Registering writes the service file into the data folder, and only there.
    QTest::newRow("registering without HOME nor a data folder")
        << none << QByteArray("/srv/c") << QByteArray("/srv/s") << none << true << u"nor is XDG_DATA_HOME,"_s;
    QTest::newRow("registering with a data folder alone")
        << none << none << none << QByteArray("/srv/d") << true << QString();
}

void TestXdgFolders::missingHome() {
    QFETCH(QByteArray, home);
    QFETCH(QByteArray, configHome);
    QFETCH(QByteArray, stateHome);
    QFETCH(QByteArray, dataHome);
    QFETCH(bool, registration);
    QFETCH(QString, missing);

    const ScopedEnvironment environment{{"HOME", home},
                                        {"XDG_CONFIG_HOME", configHome},
                                        {"XDG_STATE_HOME", stateHome},
                                        {"XDG_DATA_HOME", dataHome}};
    using Use = Orvex::XdgFolders::HomeUse;
    const std::optional<QString> problem =
        Orvex::XdgFolders::missingHome(registration ? Use::Registration : Use::SettingsAndState);
    QVERIFY2(missing.isEmpty() ? !problem : problem && problem->contains(missing),
             qPrintable(problem.value_or(u"nothing missing"_s)));
    // Whatever is missing, no folder is made a path of the form //x, which names another file system.
    const Orvex::XdgFolders folders = Orvex::XdgFolders::fromEnvironment();
    for (const QString &folder : {folders.configHome, folders.stateHome, folders.dataHome})
        QVERIFY2(!folder.startsWith(u"//"_s), qPrintable(folder));
}

QTEST_GUILESS_MAIN(TestXdgFolders)
#include "tst_xdgfolders.moc"
