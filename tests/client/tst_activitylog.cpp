#include "activitylog.h"
#include "journalreader.h"
#include "printabletext.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Orvex::LoggedPosting;

namespace {

// Physical lines of a log file, each ended by CR LF as the component writes them.
QString logText(std::initializer_list<const char *> lines) {
    QString text;
    for (const char *line : lines)
        text += QString::fromUtf8(line) + QStringLiteral("\r\n");
    return text;
}

QString describe(const LoggedPosting &posting) {
    QString result = posting.resultCode;
    if (posting.outcome == LoggedPosting::Outcome::Unknown)
        result = QStringLiteral("unknown");
    else if (posting.outcome == LoggedPosting::Outcome::Error)
        result += QStringLiteral(" %1 (%2)").arg(posting.errorDescription).arg(posting.errorNumber);
    return QStringList{posting.time.toString(u"HH:mm:ss"), posting.action, posting.jobCode, result}.join(
        u' ');
}

} // namespace

class TestActivityLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pairsOutcomesWithActions_data();
    void pairsOutcomesWithActions();
    void readsOnlyLogsAndJournals_data();
    void readsOnlyLogsAndJournals();
    void replacesControlCharacters_data();
    void replacesControlCharacters();
};

void TestActivityLog::pairsOutcomesWithActions_data() {
    QTest::addColumn<QString>("log");
    QTest::addColumn<QStringList>("postings");

    QTest::newRow("S with the job id of the reply")
        << logText({R"("1/19/2010 3:07:45 PM","Add","J-1001","")",
                    R"("1/19/2010 3:07:46 PM","Server Response","success=1&jobid=4711",")", R"(")"})
        << QStringList{QStringLiteral("15:07:45 Add J-1001 S4711")};
    QTest::newRow("F with the error's number")
        << logText({R"("1/19/2010 9:05:00 AM","Add","J-1","")",
                    R"("1/19/2010 9:05:01 AM","Error","Could not resolve host: a, "b"","-2147012889)",
                    R"(")"})
        << QStringList{QStringLiteral("09:05:00 Add J-1 F Could not resolve host: a, \"b\" (-2147012889)")};
    // A server that died mid-exchange leaves its action unanswered; the next posting is not shifted onto it.
    QTest::newRow("unknown without an outcome")
        << logText({R"("1/19/2010 12:00:05 PM","Add","J-1","")", R"("1/19/2010 12:10:00 PM","Add","J-2","")",
                    R"("1/19/2010 12:10:01 PM","Server Response","success=1&jobid=8",")", R"(")"})
        << QStringList{QStringLiteral("12:00:05 Add J-1 unknown"), QStringLiteral("12:10:00 Add J-2 S8")};
    QTest::newRow("two clients interleaved, client records between")
        << logText({R"("1/19/2010 10:00:00 AM","Add","J-A","")", R"("1/19/2010 10:00:01 AM","Add","J-B","")",
                    R"("1/19/2010 10:00:02 AM","Script","half way",42)",
                    R"("1/19/2010 10:00:02 AM","Server Response","not a reply","x")",
                    R"("1/19/2010 10:00:03 AM","Error","Operation timed out","-2147012894)", R"(")",
                    R"("1/19/2010 10:00:04 AM","Server Response","success=1&jobid=1",")", R"(")"})
        << QStringList{QStringLiteral("10:00:00 Add J-A S1"),
                       QStringLiteral("10:00:01 Add J-B F Operation timed out (-2147012894)")};
    QTest::newRow("reply over several lines, then a record at midnight")
        << logText({R"("1/19/2010 11:59:59 PM","Add","J-1","")",
                    R"("1/19/2010 11:59:59 PM","Server Response","success=1&note="a","b")",
                    R"("1/19/2010 4:00:00 PM" in the reply&jobid=5",")", R"(")",
                    R"("1/20/2010","Update","J-2","")",
                    R"("1/20/2010","Server Response","success=1&jobid=6",")", R"(")"})
        << QStringList{QStringLiteral("23:59:59 Add J-1 S5"), QStringLiteral("00:00:00 Update J-2 S")};
    QTest::newRow("error after the reply fails the posting")
        << logText({R"("1/19/2010 1:00:00 AM","Add","J-1","")",
                    R"("1/19/2010 1:00:01 AM","Server Response","success=1&jobid=3",")", R"(")",
                    R"("1/19/2010 1:00:01 AM","Error","Out of memory","7)", R"(")"})
        << QStringList{QStringLiteral("01:00:00 Add J-1 F Out of memory (7)")};
}

void TestActivityLog::pairsOutcomesWithActions() {
    QFETCH(QString, log);
    QFETCH(QStringList, postings);

    const Orvex::ActivityLog activityLog(log);
    QStringList described;
    for (const LoggedPosting &posting : activityLog.postings())
        described.append(describe(posting));
    QCOMPARE(described, postings);
}

void TestActivityLog::readsOnlyLogsAndJournals_data() {
    QTest::addColumn<QString>("kind"); // what lies at the path
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("logResult");
    QTest::addColumn<int>("journalResult");
    QTest::addColumn<int>("postings");

    const int read = int(Orvex::ActivityLog::ReadResult::Read);
    const int missing = int(Orvex::ActivityLog::ReadResult::Missing);
    const int refused = int(Orvex::ActivityLog::ReadResult::Refused);
    QTest::newRow("a log") << QStringLiteral("file")
                           << QByteArray("\"1/19/2010 9:00:00 AM\",\"Add\",\"J1\",\"\"\r\n") << read
                           << refused << 1;
    QTest::newRow("a journal")
        << QStringLiteral("file")
        << QByteArray(R"({"event":"start","pid":1,"object":"/o","call":1,"action":"Add","jobCode":"J1"})"
                      "\n")
        << refused << read << 1;
    QTest::newRow("an empty file is an empty day")
        << QStringLiteral("file") << QByteArray() << read << read << 0;
    QTest::newRow("no file") << QStringLiteral("none") << QByteArray() << missing << missing << 0;
    // Opening a FIFO for reading would wait for a writer; a device such as /dev/zero never ends.
    QTest::newRow("a FIFO") << QStringLiteral("fifo") << QByteArray() << refused << refused << 0;
    QTest::newRow("a folder") << QStringLiteral("folder") << QByteArray() << refused << refused << 0;
    QTest::newRow("a device") << QStringLiteral("/dev/zero") << QByteArray() << refused << refused << 0;
    QTest::newRow("binary") << QStringLiteral("file")
                            << QByteArray("\"1/19/2010\",\"A\",\"B\",\"\"\r\n\0\1\2", 28) << refused
                            << refused << 0;
    QTest::newRow("text without a record")
        << QStringLiteral("file") << QByteArray(70000, 'x') << refused << refused << 0;
    QTest::newRow("one endless line")
        << QStringLiteral("file") << QByteArray(3 * 1024 * 1024, '{') << refused << refused << 0;
}

void TestActivityLog::readsOnlyLogsAndJournals() {
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(int, logResult);
    QFETCH(int, journalResult);
    QFETCH(int, postings);

    const QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("day"));
    if (kind == QLatin1StringView("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    } else if (kind == QLatin1StringView("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QLatin1StringView("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (kind != QLatin1StringView("none")) {
        path = kind;
    }

    QString error;
    int logged = 0;
    const int logRead = int(Orvex::ActivityLog::read(
        path, [&logged](LoggedPosting &&) { ++logged; }, &error));
    QCOMPARE(logRead, logResult);
    QCOMPARE(error.isEmpty(), logResult != int(Orvex::ActivityLog::ReadResult::Refused));
    error.clear();
    int journaled = 0;
    const int journalRead = int(Orvex::JournalReader::read(
        path, [&journaled](Orvex::JournalPosting &&) { ++journaled; }, &error));
    QCOMPARE(journalRead, journalResult);
    QCOMPARE(error.isEmpty(), journalResult != int(Orvex::ActivityLog::ReadResult::Refused));
    QCOMPARE(std::max(logged, journaled), postings);
}

void TestActivityLog::replacesControlCharacters_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("printable");
    QTest::addColumn<QString>("inJson");

    QTest::newRow("plain") << QStringLiteral("success=1&jobid=7") << QStringLiteral("success=1&jobid=7")
                           << QStringLiteral("success=1&jobid=7");
    QTest::newRow("line breaks and tab") << QStringLiteral("a\r\nb\tc") << QStringLiteral("a\\r\\nb\\tc")
                                         << QStringLiteral("a\uFFFD\uFFFDb\tc");
    QTest::newRow("terminal title") << QStringLiteral("\x1b]0;x\x07") << QStringLiteral("\uFFFD]0;x\uFFFD")
                                    << QStringLiteral("\uFFFD]0;x\uFFFD");
    QTest::newRow("C1 control sequence introducer and DEL")
        << QStringLiteral("a\u009b2Jb\x7f") << QStringLiteral("a\uFFFD2Jb\uFFFD")
        << QStringLiteral("a\uFFFD2Jb\uFFFD");
    QTest::newRow("letters beyond ASCII kept")
        << QStringLiteral("\u00e9\u20ac") << QStringLiteral("\u00e9\u20ac") << QStringLiteral("\u00e9\u20ac");
}

void TestActivityLog::replacesControlCharacters() {
    QFETCH(QString, text);
    QFETCH(QString, printable);
    QFETCH(QString, inJson);
    QCOMPARE(Orvex::printableText(text), printable);
    QCOMPARE(Orvex::printableJsonText(text), inJson);
}

QTEST_GUILESS_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
