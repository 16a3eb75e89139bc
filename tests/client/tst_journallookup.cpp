#include "journallookup.h"
#include "journalstore.h"
#include "postgresdatabase.h"
#include "postgresserver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <unistd.h>

using Orvex::JournalVerdict;
using Kind = JournalVerdict::Kind;

namespace {

constexpr qint64 ServerPid = 100;
const QString Object = QStringLiteral("/OrvexKelPostJob/PostJob/1");

// One row as the server writes it: no end when result is empty; secondsAgo before the client bound.
struct Row {
    qint64 serial;
    QString jobCode;
    QString result;
    qint64 pid = ServerPid;
    QString object = Object;
    int secondsAgo = 0;
    QString host = QStringLiteral("desk-1"); // the lost call's server names desk-1
};

} // namespace

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(QList<Row>)

class TestJournalLookup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void verdict_data();
    void verdict();
    void journalNotOursGivesNoVerdict_data();
    void journalNotOursGivesNoVerdict();

private:
    // The journal tables of the one PostgreSQL server of these tests, started on first use, emptied.
    QString emptySharedJournal();

    std::optional<PostgresServer> m_postgres;
};

QString TestJournalLookup::emptySharedJournal() {
    const QString uri = m_postgres ? m_postgres->uri(QStringLiteral("journal")) : QString();
    if (!m_postgres) {
        m_postgres.emplace();
        if (!m_postgres->start() || !m_postgres->createDatabase(QStringLiteral("journal"))) {
            qWarning() << m_postgres->errorString();
            m_postgres.reset();
            return QString();
        }
        return m_postgres->uri(QStringLiteral("journal"));
    }
    // The tables stay: the next store takes them as its own.
    Orvex::PostgresDatabase database;
    Orvex::PostgresError error;
    if (!database.open(uri, &error) || !database.exec("TRUNCATE posting, posting_latest", &error)) {
        qWarning() << error.text();
        return QString();
    }
    return uri;
}

void TestJournalLookup::verdict_data() {
    QTest::addColumn<bool>("shared"); // the journal in a PostgreSQL database rather than an SQLite file
    QTest::addColumn<QList<Row>>("rows");
    QTest::addColumn<int>("callsRun"); // the object's calls the client had answers for
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("result");

    const QString j1 = QStringLiteral("J1");
    const QString s1 = QStringLiteral("S1");
    // Every case against each engine: the same questions must get the same answers.
    for (const bool shared : {false, true}) {
        const auto newRow = [shared](const char *name) -> QTestData & {
            return QTest::addRow("%s, %s", shared ? "PostgreSQL" : "SQLite", name) << shared;
        };
        newRow("empty journal, first call") << QList<Row>{} << 0 << Kind::NeverRan << QString();
        newRow("only the calls answered before")
            << QList<Row>{{1, QStringLiteral("J0"), s1}} << 1 << Kind::NeverRan << QString();
        newRow("other servers' and objects' rows do not count")
            << QList<Row>{{1, j1, s1, 200},
                          {2, j1, s1, ServerPid, QStringLiteral("/OrvexKelPostJob/PostJob/2")}}
            << 0 << Kind::NeverRan << QString();
        // The same process id and object path, used by a server long gone.
        newRow("an earlier process with the same id does not count")
            << QList<Row>{{1, j1, s1, ServerPid, Object, 3600}} << 0 << Kind::NeverRan << QString();
        newRow("its start alone") << QList<Row>{{2, j1, QString()}} << 0 << Kind::Unsettled << QString();
        newRow("its start and end") << QList<Row>{{2, j1, QStringLiteral("F")}, {3, j1, QString(), 200}} << 0
                                    << Kind::Finished << QStringLiteral("F");
        newRow("a row of an answered call lost") << QList<Row>{} << 1 << Kind::Unsettled << QString();
        newRow("someone else's listing on the object")
            << QList<Row>{{2, QStringLiteral("J9"), s1}} << 0 << Kind::Unsettled << QString();
        newRow("two rows where one was lost")
            << QList<Row>{{2, j1, s1}, {3, j1, s1}} << 0 << Kind::Unsettled << QString();
        // A journal several machines share: another's server may have had the same process id and object
        // path.
        newRow("another machine's row with the same process and object does not count")
            << QList<Row>{{2, j1, s1, ServerPid, Object, 0, QStringLiteral("desk-2")}} << 0 << Kind::NeverRan
            << QString();
        newRow("this machine's end beside another's start")
            << QList<Row>{{2, j1, QString(), ServerPid, Object, 0, QStringLiteral("desk-2")}, {3, j1, s1}}
            << 0 << Kind::Finished << s1;
    }
}

void TestJournalLookup::verdict() {
    QFETCH(bool, shared);
    QFETCH(QList<Row>, rows);
    QFETCH(int, callsRun);
    QFETCH(Kind, kind);
    QFETCH(QString, result);

    QTemporaryDir folder;
    Orvex::JournalStore store;
    QString why;
    QString journal;
    if (shared) {
        ORVEX_REQUIRE_POSTGRES();
        journal = emptySharedJournal();
        QVERIFY(!journal.isEmpty());
        QVERIFY2(store.openUri(journal, Orvex::JournalStore::Access::Write, &why), qPrintable(why));
    } else {
        QVERIFY2(store.open(folder.path(), Orvex::JournalStore::Access::Write, &why), qPrintable(why));
        journal = store.path();
    }
    const QDateTime bound = QDateTime::currentDateTime();
    for (const Row &row : rows) {
        Orvex::JournalPosting start;
        start.time = bound.addSecs(-row.secondsAgo);
        start.processId = row.pid;
        start.objectPath = row.object;
        start.callSerial = row.serial;
        start.action = QStringLiteral("Add");
        start.jobCode = row.jobCode;
        start.host = row.host;
        const std::optional<qint64> id = store.beginDurably(start);
        QVERIFY(id);
        if (!row.result.isEmpty())
            QVERIFY(store.complete({*id, 0, start.time, {row.result, 503, 0, QString()}, 0, 1}));
    }
    const JournalVerdict verdict =
        Orvex::lookUpLostCall({journal, ServerPid, Object, bound.addSecs(-1), callsRun, QStringLiteral("Add"),
                               QStringLiteral("J1"), QStringLiteral("desk-1")});
    QCOMPARE(verdict.kind, kind);
    QCOMPARE(verdict.outcome.resultCode, result);
}

void TestJournalLookup::journalNotOursGivesNoVerdict_data() {
    QTest::addColumn<QString>("planted"); // "missing", "link" or "foreign"
    QTest::newRow("no journal: the server could not write one") << QStringLiteral("missing");
    QTest::newRow("a link at its name") << QStringLiteral("link");
    QTest::newRow("another user's journal") << QStringLiteral("foreign");
}

// A journal that would say "never ran" if it were believed.
void TestJournalLookup::journalNotOursGivesNoVerdict() {
    QFETCH(QString, planted);
    QTemporaryDir folder;
    QTemporaryDir elsewhere;
    const QString name = QLatin1StringView(Orvex::JournalStore::FileName);
    if (planted != QLatin1StringView("missing")) {
        Orvex::JournalStore store;
        QString why;
        QVERIFY(store.open(elsewhere.path(), Orvex::JournalStore::Access::Write, &why));
    }
    if (planted == QLatin1StringView("link")) {
        QVERIFY(QFile::link(elsewhere.filePath(name), folder.filePath(name)));
    } else if (planted == QLatin1StringView("foreign")) {
        if (::geteuid() != 0)
            QSKIP("making another user's file needs root");
        QVERIFY(QFile::rename(elsewhere.filePath(name), folder.filePath(name)));
        QCOMPARE(::chown(QFile::encodeName(folder.filePath(name)).constData(), 65534, 65534), 0);
    }
    const JournalVerdict verdict = Orvex::lookUpLostCall(
        {folder.filePath(name), ServerPid, Object, QDateTime::currentDateTime().addSecs(-1), 0,
         QStringLiteral("Add"), QStringLiteral("J1"), QString()});
    QCOMPARE(verdict.kind, Kind::Unsettled);
}

QTEST_GUILESS_MAIN(TestJournalLookup)
#include "tst_journallookup.moc"
