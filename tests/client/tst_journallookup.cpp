#include "journallookup.h"
#include "postingjournal.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Orvex::JournalVerdict;
using Kind = JournalVerdict::Kind;

namespace {

constexpr qint64 ServerPid = 100;
const QString Object = QStringLiteral("/OrvexKelPostJob/PostJob/1");

// Lines as the server writes them.
QByteArray start(quint64 serial, const QString &jobCode, qint64 pid = ServerPid,
                 const QString &object = Object) {
    return Orvex::journalStartLine(QDateTime::currentDateTime(),
                                   {pid, object, serial, QStringLiteral("Add"), jobCode});
}

QByteArray end(quint64 serial, const QString &jobCode, const QString &result) {
    return Orvex::journalEndLine(QDateTime::currentDateTime(),
                                 {ServerPid, Object, serial, QStringLiteral("Add"), jobCode},
                                 {result, 503, 0, QString()}, 0, 1);
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestJournalLookup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void verdict_data();
    void verdict();
    void missingJournalGivesNoVerdict();
};

void TestJournalLookup::verdict_data() {
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<int>("callsRun"); // the object's calls the client had answers for
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("result");

    const QString j1 = QStringLiteral("J1");
    QTest::newRow("empty journal, first call") << QByteArray() << 0 << Kind::NeverRan << QString();
    QTest::newRow("only the calls answered before")
        << start(1, QStringLiteral("J0")) + end(1, QStringLiteral("J0"), QStringLiteral("S1")) << 1
        << Kind::NeverRan << QString();
    QTest::newRow("other servers' and objects' lines do not count")
        << start(1, j1, 200) + start(2, j1, ServerPid, QStringLiteral("/OrvexKelPostJob/PostJob/2")) << 0
        << Kind::NeverRan << QString();
    QTest::newRow("its start line alone") << start(2, j1) << 0 << Kind::Unsettled << QString();
    QTest::newRow("its start and end lines")
        << start(2, j1) + start(3, j1, 200) + end(2, j1, QStringLiteral("F")) << 0 << Kind::Finished
        << QStringLiteral("F");
    QTest::newRow("the end line of another call")
        << start(2, j1) + end(3, j1, QStringLiteral("S1")) << 0 << Kind::Unsettled << QString();
    QTest::newRow("a line of an answered call lost") << QByteArray() << 1 << Kind::Unsettled << QString();
    QTest::newRow("someone else's listing on the object")
        << start(2, QStringLiteral("J9")) << 0 << Kind::Unsettled << QString();
    // A write cut short, alone or with the next line appended to it: it may have been the call's start.
    QTest::newRow("a torn line") << start(2, j1).left(40) + '\n' << 0 << Kind::Unsettled << QString();
    QTest::newRow("a torn line with the next one run on")
        << start(2, j1).left(40) + start(1, j1, 200) << 0 << Kind::Unsettled << QString();
    QTest::newRow("texts that look like lines")
        << start(1, QStringLiteral("{\"action\":\"Add\"}\n{\""), 200) << 0 << Kind::NeverRan << QString();
}

void TestJournalLookup::verdict() {
    QFETCH(QByteArray, journal);
    QFETCH(int, callsRun);
    QFETCH(Kind, kind);
    QFETCH(QString, result);

    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("journal.jsonl")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(journal) == journal.size());
    file.close();
    const JournalVerdict verdict = Orvex::lookUpLostCall(
        {file.fileName(), ServerPid, Object, callsRun, QStringLiteral("Add"), QStringLiteral("J1")});
    QCOMPARE(verdict.kind, kind);
    QCOMPARE(verdict.outcome.resultCode, result);
}

// The server makes the journal with the object: without one, nothing can be told.
void TestJournalLookup::missingJournalGivesNoVerdict() {
    QTemporaryDir folder;
    const JournalVerdict verdict =
        Orvex::lookUpLostCall({folder.filePath(QStringLiteral("journal.jsonl")), ServerPid, Object, 0,
                               QStringLiteral("Add"), QStringLiteral("J1")});
    QCOMPARE(verdict.kind, Kind::Unsettled);
}

QTEST_GUILESS_MAIN(TestJournalLookup)
#include "tst_journallookup.moc"
