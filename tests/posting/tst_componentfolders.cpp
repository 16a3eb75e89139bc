#include "componentfolders.h"
#include "files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestComponentFolders : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void filesFolder_data();
    void filesFolder();
    void iniFile_data();
    void iniFile();

private:
    QString path(const QString &name) const { return m_root->filePath(name); }
    Orvex::ComponentFolders folders(const QString &programFolder) const {
        return Orvex::ComponentFolders(
            programFolder,
            {path(u"state/deeper"_s), path(u"config-home"_s), {path(u"dir1"_s), path(u"dir2"_s)}, {}, {}});
    }

    std::optional<QTemporaryDir> m_root;
};

void TestComponentFolders::init() {
    m_root.emplace();
    QVERIFY(m_root->isValid());
    QVERIFY(QDir(m_root->path()).mkdir(u"program"_s));
    QFile plain(path(u"plain-file"_s));
    QVERIFY(plain.open(QIODevice::WriteOnly));
}

void TestComponentFolders::filesFolder_data() {
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<bool>("besideProgram");

    QTest::newRow("writable folder keeps them beside the program") << u"program"_s << true;
    QTest::newRow("missing folder") << u"missing"_s << false;
    QTest::newRow("a file is no folder") << u"plain-file"_s << false;
    QTest::newRow("read-only folder") << u"read-only"_s << false;
}

void TestComponentFolders::filesFolder() {
    QFETCH(QString, programFolder);
    QFETCH(bool, besideProgram);
    if (programFolder == u"read-only"_s) {
        if (::geteuid() == 0)
            QSKIP("root may write to any folder");
        QVERIFY(QDir(m_root->path()).mkdir(programFolder));
        QVERIFY(QFile::setPermissions(path(programFolder), QFile::ReadOwner | QFile::ExeOwner));
    }

    const QString result = folders(path(programFolder)).filesFolder();
    const QString stateFolder = path(u"state/deeper/OrvexKelPostJob"_s);
    QCOMPARE(result, besideProgram ? path(programFolder) : stateFolder);
    QCOMPARE(QFileInfo::exists(stateFolder), !besideProgram);
    if (!besideProgram) {
        // Made for the user alone, and so is every parent it needed.
        for (const QString &made : {u"state"_s, u"state/deeper"_s, u"state/deeper/OrvexKelPostJob"_s}) {
            struct stat status {};
            QCOMPARE(::stat(QFile::encodeName(path(made)).constData(), &status), 0);
            QCOMPARE(status.st_mode & 07777, mode_t(0700));
        }
    }
}

void TestComponentFolders::iniFile_data() {
    QTest::addColumn<QStringList>("holders");
    QTest::addColumn<QString>("found");

    const QString program = u"program"_s;
    const QString home = u"config-home"_s;
    QTest::newRow("program folder first") << QStringList{program, home, u"dir1"_s} << program;
    QTest::newRow("then the user's configuration") << QStringList{home, u"dir1"_s} << home;
    QTest::newRow("then the first configuration folder") << QStringList{u"dir1"_s, u"dir2"_s} << u"dir1"_s;
    QTest::newRow("a later configuration folder") << QStringList{u"dir2"_s} << u"dir2"_s;
    QTest::newRow("none: the user's, read as missing") << QStringList{} << home;
    QTest::newRow("a folder of that name is no file") << QStringList{u"program:folder"_s, home} << home;
}

void TestComponentFolders::iniFile() {
    QFETCH(QStringList, holders);
    QFETCH(QString, found);

    const auto fileIn = [this](const QString &holder) {
        return holder == u"program"_s ? path(u"program/OrvexKelPostJob.ini"_s)
                                      : path(holder + u"/OrvexKelPostJob/OrvexKelPostJob.ini"_s);
    };
    for (const QString &holder : holders) {
        const QString file = fileIn(holder.section(u':', 0, 0));
        if (holder.endsWith(u":folder"_s)) {
            QVERIFY(QDir().mkpath(file));
            continue;
        }
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QFile ini(file);
        QVERIFY(ini.open(QIODevice::WriteOnly));
    }

    QCOMPARE(Orvex::Files::nativePath(folders(path(u"program"_s)).iniFile()), fileIn(found));
}

QTEST_GUILESS_MAIN(TestComponentFolders)
#include "tst_componentfolders.moc"
