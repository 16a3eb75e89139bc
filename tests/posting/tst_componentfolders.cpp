#include "componentfolders.h"
#include "files.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Another user for the folders and files that must not count as the user's own.
constexpr uid_t OtherUser = 65534; // nobody

bool chmodPath(const QString &path, mode_t mode) {
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool chownToOtherUser(const QString &path) {
    return ::lchown(QFile::encodeName(path).constData(), OtherUser, OtherUser) == 0;
}

} // namespace

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
    Orvex::ComponentFolders folders(const QString &programFolder, const QString &installFolder = {}) const {
        return Orvex::ComponentFolders(
            programFolder,
            {path(u"state/deeper"_s), path(u"config-home"_s), {path(u"dir1"_s), path(u"dir2"_s)}, {}, {}},
            installFolder);
    }

    std::optional<QTemporaryDir> m_root;
};

void TestComponentFolders::init() {
    m_root.emplace();
    QVERIFY(m_root->isValid());
    QVERIFY(QDir(m_root->path()).mkdir(u"program"_s));
    QVERIFY(chmodPath(path(u"program"_s), 0755));
    QFile plain(path(u"plain-file"_s));
    QVERIFY(plain.open(QIODevice::WriteOnly));
}

void TestComponentFolders::filesFolder_data() {
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<int>("mode"); // given to the program folder when it is made; 0: none made
    QTest::addColumn<bool>("otherOwner");
    QTest::addColumn<QString>("installFolder");
    QTest::addColumn<bool>("besideProgram");

    const QString program = u"program"_s;
    QTest::newRow("the user's folder keeps them beside the program")
        << program << 0 << false << QString() << true;
    QTest::newRow("missing folder") << u"missing"_s << 0 << false << QString() << false;
    QTest::newRow("a file is no folder") << u"plain-file"_s << 0 << false << QString() << false;
    QTest::newRow("a file with execute bits is no folder")
        << u"tool"_s << 0755 << false << QString() << false;
    QTest::newRow("read-only folder") << u"read-only"_s << 0500 << false << QString() << false;
    QTest::newRow("a link to the user's folder") << u"link"_s << 0 << false << QString() << false;
    QTest::newRow("folder its group may write") << u"shared"_s << 0770 << false << QString() << false;
    QTest::newRow("folder others may write") << u"shared"_s << 0757 << false << QString() << false;
    QTest::newRow("sticky folder everyone may write") << u"shared"_s << 01777 << false << QString() << false;
    QTest::newRow("folder of another user") << u"theirs"_s << 0755 << true << QString() << false;
    QTest::newRow("installed: the state folder, root included") << program << 0 << false << program << false;
    QTest::newRow("installed, named through a link") << program << 0 << false << u"link"_s << false;
    QTest::newRow("beside another install folder") << program << 0 << false << u"plain-file"_s << true;
}

void TestComponentFolders::filesFolder() {
    QFETCH(QString, programFolder);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    QFETCH(QString, installFolder);
    QFETCH(bool, besideProgram);
    if (otherOwner && ::geteuid() != 0)
        QSKIP("only root can give a folder to another user");
    if (programFolder == u"read-only"_s && ::geteuid() == 0)
        QSKIP("root may write to any folder");

    QVERIFY(QFile::link(path(u"program"_s), path(u"link"_s)));
    if (programFolder == u"tool"_s) {
        QFile tool(path(programFolder));
        QVERIFY(tool.open(QIODevice::WriteOnly));
        QVERIFY(chmodPath(tool.fileName(), mode_t(mode)));
    } else if (mode != 0) {
        QVERIFY(QDir(m_root->path()).mkdir(programFolder));
        QVERIFY(chmodPath(path(programFolder), mode_t(mode)));
        if (otherOwner)
            QVERIFY(chownToOtherUser(path(programFolder)));
    }

    const QString result =
        folders(path(programFolder), installFolder.isEmpty() ? QString() : path(installFolder)).filesFolder();
    const QString stateFolder = path(u"state/deeper/OrvexKelPostJob"_s);
    QCOMPARE(result, besideProgram ? path(programFolder) : stateFolder);
    QCOMPARE(QFileInfo::exists(stateFolder), !besideProgram);
    QCOMPARE(Orvex::ComponentFolders::folderRefusal(path(programFolder)).isEmpty(),
             besideProgram || !installFolder.isEmpty());
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
    QTest::addColumn<QStringList>("holders"); // holder[:how its file or folder is spoiled]
    QTest::addColumn<QString>("found");

    const QString program = u"program"_s;
    const QString home = u"config-home"_s;
    QTest::newRow("program folder first") << QStringList{program, home, u"dir1"_s} << program;
    QTest::newRow("then the user's configuration") << QStringList{home, u"dir1"_s} << home;
    QTest::newRow("then the first configuration folder") << QStringList{u"dir1"_s, u"dir2"_s} << u"dir1"_s;
    QTest::newRow("a later configuration folder") << QStringList{u"dir2"_s} << u"dir2"_s;
    QTest::newRow("none: the user's, read as missing") << QStringList{} << home;
    QTest::newRow("a folder of that name is no file") << QStringList{u"program:folder"_s, home} << home;

    // Another user's INI could send the user's postings, and their passwords, to a board of theirs.
    QTest::newRow("program folder others may write") << QStringList{u"program:open-folder"_s, home} << home;
    QTest::newRow("program folder its group may write")
        << QStringList{u"program:group-folder"_s, u"dir1"_s} << u"dir1"_s;
    QTest::newRow("program folder of another user") << QStringList{u"program:their-folder"_s, home} << home;
    QTest::newRow("file of another user") << QStringList{u"program:their-file"_s, home} << home;
    QTest::newRow("file others may write") << QStringList{u"program:open-file"_s, home} << home;
    QTest::newRow("a link planted as the file") << QStringList{u"program:link"_s, home} << home;
    QTest::newRow("refused with nothing else: the user's, read as missing")
        << QStringList{u"program:open-file"_s} << home;
    QTest::newRow("the user's own read-only file counts")
        << QStringList{u"program:read-only"_s, home} << program;
}

void TestComponentFolders::iniFile() {
    QFETCH(QStringList, holders);
    QFETCH(QString, found);

    const auto fileIn = [this](const QString &holder) {
        return holder == u"program"_s ? path(u"program/OrvexKelPostJob.ini"_s)
                                      : path(holder + u"/OrvexKelPostJob/OrvexKelPostJob.ini"_s);
    };
    bool refused = false;
    for (const QString &holder : holders) {
        const QString file = fileIn(holder.section(u':', 0, 0));
        const QString spoiled = holder.section(u':', 1);
        if ((spoiled == u"their-folder"_s || spoiled == u"their-file"_s) && ::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        if (spoiled == u"folder"_s) {
            QVERIFY(QDir().mkpath(file));
            continue;
        }
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        if (spoiled == u"link"_s) {
            QFile target(path(u"planted.ini"_s));
            QVERIFY(target.open(QIODevice::WriteOnly));
            QVERIFY(QFile::link(target.fileName(), file));
        } else {
            QFile ini(file);
            QVERIFY(ini.open(QIODevice::WriteOnly));
        }
        const QString folder = QFileInfo(file).path();
        if (spoiled == u"open-folder"_s)
            QVERIFY(chmodPath(folder, 0777));
        if (spoiled == u"group-folder"_s)
            QVERIFY(chmodPath(folder, 0775));
        if (spoiled == u"their-folder"_s)
            QVERIFY(chownToOtherUser(folder));
        if (spoiled == u"their-file"_s)
            QVERIFY(chownToOtherUser(file));
        if (spoiled == u"open-file"_s)
            QVERIFY(chmodPath(file, 0666));
        if (spoiled == u"read-only"_s)
            QVERIFY(chmodPath(file, 0400));
        refused = refused || (!spoiled.isEmpty() && spoiled != u"read-only"_s);
    }
    // Whoever set the file up there learns why it is not read, once.
    if (refused)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^ignoring .*OrvexKelPostJob.ini: "_s));
    QTest::failOnWarning(QRegularExpression(u"ignoring"_s));

    const Orvex::ComponentFolders componentFolders = folders(path(u"program"_s));
    QCOMPARE(Orvex::Files::nativePath(componentFolders.iniFile()), fileIn(found));
    QCOMPARE(Orvex::Files::nativePath(componentFolders.iniFile()), fileIn(found));
}

QTEST_GUILESS_MAIN(TestComponentFolders)
#include "tst_componentfolders.moc"
