#include "appendfile.h"
#include "appendfile_p.h"
#include "filesizelimit.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

class TestAppendFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void appendsAndCreates();
    void writesOnlyWhatIsTheUsers_data();
    void writesOnlyWhatIsTheUsers();
    void partialRecordTakenBackOnlyAtTheTail_data();
    void partialRecordTakenBackOnlyAtTheTail();
    void recordGoesInWholeOrNotAtAll_data();
    void recordGoesInWholeOrNotAtAll();
    void processesNeverTearRecords();
    void nextRecordFollowsTheName_data();
    void nextRecordFollowsTheName();
};

void TestAppendFile::appendsAndCreates() {
    QTemporaryDir folder;
    const QString path = folder.path() + u"\\sub\\..\\log.txt"_s;
    QVERIFY(!Orvex::appendToFile(path, "a")); // the folder "sub" does not exist
    QVERIFY(Orvex::appendToFile(folder.path() + u"\\log.txt"_s, "first\r\n"));
    QVERIFY(Orvex::appendToFile(folder.path() + u"/log.txt"_s, "second\r\n"));
    QFile file(folder.filePath(u"log.txt"_s));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "first\r\nsecond\r\n");
    QCOMPARE(file.permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                     QFileDevice::WriteUser);
}

void TestAppendFile::writesOnlyWhatIsTheUsers_data() {
    QTest::addColumn<QString>("planted"); // what lies at the file's name or is its folder
    QTest::addColumn<bool>("written");
    QTest::addColumn<QString>("reason");

    QTest::newRow("link to another file") << u"link"_s << false << u"symbolic link"_s;
    QTest::newRow("dangling link") << u"dangling link"_s << false << u"symbolic link"_s;
    QTest::newRow("second name of another file") << u"hard link"_s << false << u"2 names"_s;
    QTest::newRow("fifo, without waiting for a reader") << u"fifo"_s << false << QString();
    QTest::newRow("file of another user") << u"their file"_s << false << u"another user"_s;
    QTest::newRow("folder others may write") << u"open folder"_s << false << u"group or by others"_s;
    QTest::newRow("folder its group may write") << u"group folder"_s << false << u"group or by others"_s;
    QTest::newRow("folder is a link") << u"folder link"_s << false << u"symbolic link"_s;
    QTest::newRow("folder of another user") << u"their folder"_s << false << u"another user"_s;
    QTest::newRow("the user's file others may read becomes private")
        << u"readable file"_s << true << QString();
    QTest::newRow("the user's file its group may read becomes private")
        << u"group-readable file"_s << true << QString();
}

void TestAppendFile::writesOnlyWhatIsTheUsers() {
    QFETCH(QString, planted);
    QFETCH(bool, written);
    QFETCH(QString, reason);
    if (planted.startsWith(u"their"_s) && ::geteuid() != 0)
        QSKIP("only root can give a file to another user");

    QTemporaryDir root;
    const auto native = [](const QString &path) { return QFile::encodeName(path); };
    const QString target = root.filePath(u"target.txt"_s);
    QFile targetFile(target);
    QVERIFY(targetFile.open(QIODevice::WriteOnly));
    QCOMPARE(targetFile.write("target\n"), 7);
    targetFile.close();
    QString folder = root.filePath(u"folder"_s);
    QVERIFY(QDir(root.path()).mkdir(u"folder"_s));
    QString file = folder + u"/log.txt"_s;

    if (planted == u"link"_s)
        QVERIFY(QFile::link(target, file));
    if (planted == u"dangling link"_s)
        QVERIFY(QFile::link(root.filePath(u"created.txt"_s), file));
    if (planted == u"hard link"_s)
        QCOMPARE(::link(native(target).constData(), native(file).constData()), 0);
    if (planted == u"fifo"_s)
        QCOMPARE(::mkfifo(native(file).constData(), 0600), 0);
    if (planted == u"their file"_s || planted.endsWith(u"readable file"_s)) {
        QFile existing(file);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.close();
        QCOMPARE(::chmod(native(file).constData(), planted.startsWith(u"group"_s) ? 0640 : 0644), 0);
        if (planted == u"their file"_s)
            QCOMPARE(::chown(native(file).constData(), 65534, 65534), 0);
    }
    if (planted == u"open folder"_s)
        QCOMPARE(::chmod(native(folder).constData(), 0777), 0);
    if (planted == u"group folder"_s)
        QCOMPARE(::chmod(native(folder).constData(), 0770), 0);
    if (planted == u"their folder"_s)
        QCOMPARE(::chown(native(folder).constData(), 65534, 65534), 0);
    if (planted == u"folder link"_s) {
        QVERIFY(QFile::link(folder, root.filePath(u"folder-link"_s)));
        file = root.filePath(u"folder-link/log.txt"_s);
    }

    QString whyNot;
    QCOMPARE(Orvex::appendToFile(file, "record\r\n", &whyNot), written);
    QVERIFY2(whyNot.contains(reason), qPrintable(whyNot));
    QVERIFY(targetFile.open(QIODevice::ReadOnly));
    QCOMPARE(targetFile.readAll(), "target\n");
    QVERIFY(!QFileInfo::exists(root.filePath(u"created.txt"_s)));
    if (planted.endsWith(u"folder"_s))
        QVERIFY(!QFileInfo::exists(file));
    if (written) {
        struct stat status {};
        QCOMPARE(::stat(native(file).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0600));
        QCOMPARE(status.st_size, off_t(8));
    }
}

void TestAppendFile::partialRecordTakenBackOnlyAtTheTail_data() {
    QTest::addColumn<QByteArray>("appendedBehind"); // by another process, after the partial record
    QTest::addColumn<bool>("takenBack");

    QTest::newRow("still the tail: taken back") << QByteArray() << true;
    // Cutting now would cut the other process's record as well.
    QTest::newRow("another record behind it: left") << QByteArray("other record\r\n") << false;
}

void TestAppendFile::partialRecordTakenBackOnlyAtTheTail() {
    QFETCH(QByteArray, appendedBehind);
    QFETCH(bool, takenBack);

    QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.filePath(u"log.txt"_s));
    const QByteArray earlier("earlier record\r\n");
    const QByteArray partial("partial re");
    const int ours = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(ours >= 0);
    QCOMPARE(::write(ours, earlier.constData(), size_t(earlier.size())), ssize_t(earlier.size()));
    QCOMPARE(::write(ours, partial.constData(), size_t(partial.size())), ssize_t(partial.size()));
    if (!appendedBehind.isEmpty()) {
        QFile other(QFile::decodeName(path));
        QVERIFY(other.open(QIODevice::Append));
        QCOMPARE(other.write(appendedBehind), appendedBehind.size());
    }

    if (!takenBack)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"partial record could not be taken back"_s));
    const bool result = Orvex::takeBackPartialRecord(ours, QFile::decodeName(path), partial.size());
    ::close(ours);
    QCOMPARE(result, takenBack);
    QFile file(QFile::decodeName(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), takenBack ? earlier : earlier + partial + appendedBehind);
}

void TestAppendFile::recordGoesInWholeOrNotAtAll_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("written");

    const QByteArray earlier("earlier record\r\n");
    const int whole = int(earlier.size() + 10); // the record below is 10 bytes
    QTest::newRow("fits to the byte") << earlier << whole << true;
    QTest::newRow("one byte short is taken back") << earlier << whole - 1 << false;
    QTest::newRow("all but one byte short") << earlier << int(earlier.size()) + 1 << false;
    QTest::newRow("file already at the limit") << earlier << int(earlier.size()) << false;
    QTest::newRow("new file, limit below the record") << QByteArray() << 4 << false;
}

void TestAppendFile::recordGoesInWholeOrNotAtAll() {
    QFETCH(QByteArray, before);
    QFETCH(int, limit);
    QFETCH(bool, written);

    QTemporaryDir folder;
    QFile file(folder.filePath(u"log.txt"_s));
    if (!before.isEmpty()) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(before), before.size());
        file.close();
    }
    const QByteArray record("record\r\n\r\n");
    {
        const FileSizeLimit fileSize{rlim_t(limit)};
        QVERIFY(fileSize.isActive());
        QCOMPARE(Orvex::appendToFile(file.fileName(), record), written);
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), written ? before + record : before);
}

void TestAppendFile::processesNeverTearRecords() {
    constexpr int Writers = 8;
    constexpr int RecordsEach = 5000;
    QTemporaryDir folder;
    const QString logFile = folder.path() + u"\\OrvexKelPostJobs 2010-01-19.log"_s;

    std::vector<std::unique_ptr<QProcess>> writers;
    for (int writer = 0; writer < Writers; ++writer) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(ORVEX_LOGWRITER_EXECUTABLE),
                       {logFile, QString::number(writer), QString::number(RecordsEach)});
        writers.push_back(std::move(process));
    }
    for (const auto &process : writers) {
        QVERIFY2(process->waitForFinished(120000), qPrintable(process->errorString()));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
    }

    QFile file(folder.filePath(u"OrvexKelPostJobs 2010-01-19.log"_s));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    const QString payload(700, u'x');
    const QRegularExpression record(
        uR"re(\A"\d{1,2}/\d{1,2}/\d{4}( \d{1,2}:\d\d:\d\d [AP]M)?","writer (\d)","record (\d+)\r\n(x*)","\r\n"\r\n\z)re"_s);
    const QString recordEnd = u"\",\"\r\n\"\r\n"_s;

    std::vector<std::vector<bool>> seen(Writers, std::vector<bool>(RecordsEach, false));
    qsizetype offset = 0;
    int records = 0;
    while (offset < content.size()) {
        const qsizetype end = content.indexOf(recordEnd, offset);
        QVERIFY2(end >= 0, "the file ends inside a record");
        const QString text = content.mid(offset, end + recordEnd.size() - offset);
        const QRegularExpressionMatch match = record.match(text);
        QVERIFY2(match.hasMatch(),
                 qPrintable(u"torn record at offset %1: %2"_s.arg(offset).arg(text.left(120))));
        const int writer = match.captured(2).toInt();
        const int index = match.captured(3).toInt();
        QVERIFY(writer < Writers && index < RecordsEach);
        QVERIFY2(!seen[writer][index], "record written twice");
        QCOMPARE(match.capturedLength(4), payload.size());
        seen[writer][index] = true;
        ++records;
        offset += text.size();
    }
    QCOMPARE(records, Writers * RecordsEach);
}

QTEST_GUILESS_MAIN(TestAppendFile)
#include "tst_appendfile.moc"

void TestAppendFile::nextRecordFollowsTheName_data() {
    QTest::addColumn<QString>("change"); // made between two records to the same name
    QTest::addColumn<bool>("written");
    QTest::addColumn<QByteArray>("atTheName"); // afterwards

    QTest::newRow("nothing: both in one file") << QString() << true << QByteArray("first\nsecond\n");
    QTest::newRow("deleted: made again") << u"delete"_s << true << QByteArray("second\n");
    QTest::newRow("rotated: a new file at the name") << u"rename"_s << true << QByteArray("second\n");
    QTest::newRow("replaced by a link") << u"link"_s << false << QByteArray("target\n");
    QTest::newRow("given a second name") << u"hard link"_s << false << QByteArray("first\n");
    QTest::newRow("made readable by others: private again")
        << u"chmod file"_s << true << QByteArray("first\nsecond\n");
    QTest::newRow("folder opened to its group") << u"chmod folder"_s << false << QByteArray("first\n");
    QTest::newRow("folder replaced by a link to another")
        << u"folder link"_s << false << QByteArray("target\n");
}

void TestAppendFile::nextRecordFollowsTheName() {
    QFETCH(QString, change);
    QFETCH(bool, written);
    QFETCH(QByteArray, atTheName);

    QTemporaryDir root;
    const auto native = [](const QString &path) { return QFile::encodeName(path); };
    const QString folder = root.filePath(u"folder"_s);
    const QString other = root.filePath(u"other"_s);
    QVERIFY(QDir().mkdir(folder) && QDir().mkdir(other));
    QVERIFY(::chmod(native(folder).constData(), 0700) == 0 && ::chmod(native(other).constData(), 0700) == 0);
    const QString file = folder + u"/log.txt"_s;
    const QString target = other + u"/log.txt"_s;
    QFile targetFile(target);
    QVERIFY(targetFile.open(QIODevice::WriteOnly) && targetFile.write("target\n") == 7);
    targetFile.close();

    QVERIFY(Orvex::appendToFile(file, "first\n"));
    if (change == u"delete"_s)
        QVERIFY(QFile::remove(file));
    if (change == u"rename"_s)
        QVERIFY(QFile::rename(file, file + u".1"_s));
    if (change == u"link"_s)
        QVERIFY(QFile::remove(file) && QFile::link(target, file));
    if (change == u"hard link"_s)
        QCOMPARE(::link(native(file).constData(), native(root.filePath(u"second-name"_s)).constData()), 0);
    if (change == u"chmod file"_s)
        QCOMPARE(::chmod(native(file).constData(), 0644), 0);
    if (change == u"chmod folder"_s)
        QCOMPARE(::chmod(native(folder).constData(), 0770), 0);
    if (change == u"folder link"_s) {
        QVERIFY(QDir().rename(folder, root.filePath(u"moved"_s)));
        QVERIFY(QFile::link(other, folder));
    }
    QString whyNot;
    QCOMPARE(Orvex::appendToFile(file, "second\n", &whyNot), written);
    QVERIFY2(written == whyNot.isEmpty(), qPrintable(whyNot));

    QFile atName(file);
    QVERIFY(atName.open(QIODevice::ReadOnly));
    QCOMPARE(atName.readAll(), atTheName);
    if (written)
        QCOMPARE(QFileInfo(file).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                 QFileDevice::Permissions());
    QVERIFY(targetFile.open(QIODevice::ReadOnly));
    QCOMPARE(targetFile.readAll(), "target\n");
    if (change == u"rename"_s) {
        QFile rotated(file + u".1"_s);
        QVERIFY(rotated.open(QIODevice::ReadOnly));
        QCOMPARE(rotated.readAll(), "first\n");
    }
}
