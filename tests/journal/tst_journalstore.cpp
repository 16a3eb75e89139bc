#include "journalfields.h"
#include "journalfiles.h"
#include "journalstore.h"
#include "journaltime.h"
#include "journalwriter.h"
#include "postgresdatabase.h"
#include "postgresserver.h"
#include "sqlitedatabase.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Orvex::JournalBlock;
using Orvex::JournalClaim;
using Orvex::JournalFilter;
using Orvex::JournalPosting;
using Orvex::JournalStore;

namespace {

const QDateTime Noon(QDate(2010, 1, 19), QTime(12, 0), Qt::OffsetFromUTC, 3600);

JournalPosting start(const QString &jobCode, const QDateTime &time, qint64 processId = 100, qint64 call = 1) {
    JournalPosting posting;
    posting.time = time;
    posting.processId = processId;
    posting.objectPath = u"/OrvexKelPostJob/PostJob/1"_s;
    posting.callSerial = call;
    posting.action = u"Add"_s;
    posting.jobCode = jobCode;
    posting.host = u"desk-1"_s;
    return posting;
}

Orvex::PostingOutcome outcome(const QString &resultCode) {
    return {resultCode,
            200,
            0,
            QString(),
            QString(),
            resultCode.startsWith(u'S') ? Orvex::DeliveryClass::Posted : Orvex::DeliveryClass::Refused};
}

// Writes one posting with its end (none when resultCode is empty).
void post(JournalStore &store, const JournalPosting &posting, const QString &resultCode) {
    const std::optional<qint64> row = store.beginDurably(posting);
    QVERIFY(row);
    if (!resultCode.isEmpty())
        QVERIFY(store.complete({*row, 0, posting.time.addMSecs(5), outcome(resultCode), 10, 5}));
}

QList<JournalPosting> readAll(JournalStore &store, const JournalFilter &filter = {}) {
    QList<JournalPosting> postings;
    QString why;
    if (!store.read(
            filter, [&](JournalPosting &&p) { return postings.append(std::move(p)), true; }, &why))
        qWarning() << why;
    return postings;
}

// Runs body in a child process and returns its wait status: a server of its own.
template<typename Body> int inChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

// A process that has ended and is not reaped: one made once, left a zombie for the whole program.
qint64 zombieProcess() {
    static const pid_t zombie = [] {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        siginfo_t info{};
        ::waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT);
        return child;
    }();
    return zombie;
}

} // namespace

class TestJournalStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void readsWhatWasWritten_data();
    void readsWhatWasWritten();
    void rerunCheck_data();
    void rerunCheck();
    void refusesFilesNotOurs_data();
    void refusesFilesNotOurs();
    void refusesWhatIsNoJournalAndLeavesItAlone_data();
    void refusesWhatIsNoJournalAndLeavesItAlone();
    void importsTheJsonLinesDaysOnce();
    void serversWritingAtOnceLoseNothing();
    void killedWriterLeavesUnknown();
    void fullDiskLosesTheRowNotTheFile();
    void pruningDeletesOldRowsOnly();
    void latestReadsTheSameBeforeAndAfterTheUpgrade();
    void startWaitsOutALockThenFails();
    void deletedJournalIsWrittenBack_data();
    void deletedJournalIsWrittenBack();
    void bindThatFailsStopsTheStep();
    void timesReadAsTheCalendarHasThem_data();
    void timesReadAsTheCalendarHasThem();
    void claimChecksAndWritesInOneStep_data();
    void claimChecksAndWritesInOneStep();
    void claimsOfWritersAtOnceGetOneRowEach_data();
    void claimsOfWritersAtOnceGetOneRowEach();
    void refusesWhatIsNoSharedJournal_data();
    void refusesWhatIsNoSharedJournal();
    void writerReconnectsAtTheNextGroup();
    void rowsOutliveTheWriterThatLeftThemInTheWal_data();
    void rowsOutliveTheWriterThatLeftThemInTheWal();
    void writerHandsBackEachStartAndEndOnce_data();
    void writerHandsBackEachStartAndEndOnce();

private:
    // The store a row of a table run on both engines uses: the SQLite file of init(), or the shared
    // database, emptied first.
    JournalStore &storeOf(bool shared);
    bool emptyShared();
    QString sharedUri() const { return m_postgres.uri(u"journal"_s); }

    QString folder() const { return m_dir->path(); }
    QByteArray databasePath(const char *suffix = "") const {
        return QFile::encodeName(folder()) + '/' + JournalStore::FileName + suffix;
    }

    std::optional<QTemporaryDir> m_dir;
    JournalStore m_store;
    PostgresServer m_postgres;
    JournalStore m_shared;
};

// Each row of a table run on both engines, once for each; QSKIP or QFAIL as ORVEX_REQUIRE_POSTGRES says.
#define ORVEX_STORE_OF_ROW(store)                                                                            \
    QFETCH(bool, shared);                                                                                    \
    if (shared) {                                                                                            \
        ORVEX_REQUIRE_POSTGRES();                                                                            \
        QVERIFY(emptyShared());                                                                              \
    }                                                                                                        \
    JournalStore &store = storeOf(shared)

void TestJournalStore::initTestCase() {
    if (!PostgresServer::unavailableReason().isEmpty())
        return; // the rows that need the server skip one by one
    QVERIFY2(m_postgres.start(), qPrintable(m_postgres.errorString()));
    QVERIFY2(m_postgres.createDatabase(u"journal"_s), qPrintable(m_postgres.errorString()));
}

bool TestJournalStore::emptyShared() {
    m_shared.close();
    Orvex::PostgresDatabase database;
    Orvex::PostgresError error;
    // Emptying the tables costs less than making them again; a test that planted others drops them all.
    if (!database.open(sharedUri(), &error) ||
        (!database.exec("DROP TABLE IF EXISTS other; TRUNCATE posting, posting_latest", &error) &&
         !database.exec("DROP TABLE IF EXISTS posting, posting_latest, journal_meta, other", &error))) {
        qWarning() << error.text();
        return false;
    }
    QString why;
    if (m_shared.openUri(sharedUri(), JournalStore::Access::Write, &why))
        return true;
    // A journal a test made refusable is made again.
    if (database.exec("DROP TABLE posting, posting_latest, journal_meta", &error) &&
        m_shared.openUri(sharedUri(), JournalStore::Access::Write, &why))
        return true;
    qWarning() << why;
    return false;
}

JournalStore &TestJournalStore::storeOf(bool shared) {
    return shared ? m_shared : m_store;
}

void TestJournalStore::init() {
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
    QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QString why;
    QVERIFY2(m_store.open(folder(), JournalStore::Access::Write, &why), qPrintable(why));
}

void TestJournalStore::readsWhatWasWritten_data() {
    QTest::addColumn<bool>("shared");
    QTest::addColumn<bool>("latest");
    QTest::addColumn<JournalFilter>("filter");
    QTest::addColumn<QStringList>("expected"); // job code and result code of each row, in order
    for (const bool shared : {false, true}) {
        const char *engine = shared ? "PostgreSQL" : "SQLite";
        const auto row = [&](const char *name, bool latest, const JournalFilter &filter,
                             const QStringList &expected) {
            QTest::addRow("%s: %s", engine, name) << shared << latest << filter << expected;
        };
        row("all, by start time", false, {}, {u"J1 S7"_s, u"J2 F"_s, u"J1 "_s, u"J3 S8"_s});
        JournalFilter filter;
        filter.jobCode = u"J1"_s;
        row("one job code", false, filter, {u"J1 S7"_s, u"J1 "_s});
        // The range is [from, to): a start exactly at to belongs to the next range.
        filter = {};
        filter.from = Noon.addSecs(60);
        filter.to = Noon.addSecs(180);
        row("a range", false, filter, {u"J2 F"_s, u"J1 "_s});
        filter = {};
        filter.result = JournalFilter::Result::Unknown;
        row("unknown: a start without an end", false, filter, {u"J1 "_s});
        filter.result = JournalFilter::Result::Failed;
        row("failed is not unknown", false, filter, {u"J2 F"_s});
        filter = {};
        filter.board = u"second"_s;
        row("another board", false, filter, {u"J3 S8"_s});
        filter = {};
        filter.host = u"desk-2"_s;
        row("another host", false, filter, {u"J3 S8 desk-2"_s});
        filter.host = u"desk-1"_s;
        filter.jobCode = u"J1"_s;
        row("a host and a job code", false, filter, {u"J1 S7 desk-1"_s, u"J1  desk-1"_s});
        // The last of each listing, by board and job code: J1's open posting hides its S.
        row("latest", true, {}, {u"J1 "_s, u"J2 F"_s, u"J3 S8"_s});
        filter = {};
        filter.result = JournalFilter::Result::Succeeded;
        row("latest that succeeded", true, filter, {u"J3 S8"_s});
        filter = {};
        filter.board = u"default"_s;
        filter.jobCode = u"J2"_s;
        row("latest of one listing", true, filter, {u"J2 F"_s});
        // history gives the day's range with --latest too, which looks at every day.
        filter = {};
        filter.from = Noon.addDays(1);
        filter.to = Noon.addDays(2);
        row("latest, whatever the times", true, filter, {u"J1 "_s, u"J2 F"_s, u"J3 S8"_s});
    }
}

void TestJournalStore::readsWhatWasWritten() {
    ORVEX_STORE_OF_ROW(store);
    QFETCH(bool, latest);
    QFETCH(JournalFilter, filter);
    QFETCH(QStringList, expected);
    // Written out of time order, as servers of different speed do.
    JournalPosting third = start(u"J3"_s, Noon.addSecs(180), 101);
    third.board = u"second"_s;
    third.host = u"desk-2"_s;
    post(store, third, u"S8"_s);
    post(store, start(u"J1"_s, Noon), u"S7"_s);
    post(store, start(u"J2"_s, Noon.addSecs(60), 100, 2), u"F"_s);
    post(store, start(u"J1"_s, Noon.addSecs(120), 100, 3), QString());

    QList<JournalPosting> postings;
    QString why;
    const auto each = [&](JournalPosting &&p) { return postings.append(std::move(p)), true; };
    QVERIFY2(latest ? store.readLatest(filter, each, &why) : store.read(filter, each, &why), qPrintable(why));
    QStringList rows;
    for (const JournalPosting &posting : std::as_const(postings)) {
        rows.append(posting.jobCode + u' ' + posting.resultCode +
                    (filter.host.isNull() ? QString() : u' ' + posting.host));
        // Every field comes back as written, whichever engine keeps it.
        QCOMPARE(posting.time.offsetFromUtc(), 3600);
        QCOMPARE(posting.processId, posting.jobCode == u"J3"_s ? 101 : 100);
        QCOMPARE(posting.objectPath, u"/OrvexKelPostJob/PostJob/1"_s);
        if (posting.ended)
            QCOMPARE(posting.durationMs, 5);
    }
    QCOMPARE(rows, expected);
}

void TestJournalStore::rerunCheck_data() {
    QTest::addColumn<bool>("shared");
    QTest::addColumn<QDateTime>("since");
    QTest::addColumn<bool>("succeeded");
    // S at 00:00:01 ten days back; since 10 days reaches back to midnight of that day.
    const QDateTime posted(QDate(2010, 1, 9), QTime(0, 0, 1), Qt::OffsetFromUTC, 3600);
    for (const bool shared : {false, true}) {
        const char *engine = shared ? "PostgreSQL" : "SQLite";
        QTest::addRow("%s: since the day of the S", engine) << shared << posted.addSecs(-1) << true;
        QTest::addRow("%s: since the S's own millisecond", engine) << shared << posted << true;
        QTest::addRow("%s: since a moment after it: post again", engine)
            << shared << posted.addMSecs(1) << false;
    }
}

void TestJournalStore::rerunCheck() {
    ORVEX_STORE_OF_ROW(store);
    QFETCH(QDateTime, since);
    QFETCH(bool, succeeded);
    const QDateTime posted(QDate(2010, 1, 9), QTime(0, 0, 1), Qt::OffsetFromUTC, 3600);
    post(store, start(u"J1"_s, posted), u"S1"_s);
    // A later start whose server was lost does not undo the S.
    post(store, start(u"J1"_s, posted.addDays(1), 200), QString());
    post(store, start(u"J1"_s, posted.addDays(2), 201), u"F"_s);
    QCOMPARE(store.succeededSince(u"default"_s, u"Add"_s, u"J1"_s, since), std::optional<bool>(succeeded));
    QCOMPARE(store.succeededSince(u"default"_s, u"Delete"_s, u"J1"_s, since), std::optional<bool>(false));
    QCOMPARE(store.succeededSince(u"other"_s, u"Add"_s, u"J1"_s, since), std::optional<bool>(false));
}

void TestJournalStore::refusesFilesNotOurs_data() {
    QTest::addColumn<QByteArray>("suffix");
    QTest::addColumn<bool>("link"); // else a file of another user
    for (const char *suffix : Orvex::JournalFiles::Suffixes) {
        QTest::addRow("link at database%s", suffix) << QByteArray(suffix) << true;
        QTest::addRow("foreign file at database%s", suffix) << QByteArray(suffix) << false;
    }
}

void TestJournalStore::refusesFilesNotOurs() {
    QFETCH(QByteArray, suffix);
    QFETCH(bool, link);
    QDir(folder()).removeRecursively();
    QVERIFY(QDir().mkpath(folder()));
    QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray target = QFile::encodeName(folder()) + "/elsewhere";
    QVERIFY(QFile(QFile::decodeName(target)).open(QIODevice::WriteOnly));
    if (link) {
        QCOMPARE(::symlink(target.constData(), databasePath(suffix).constData()), 0);
    } else {
        if (::geteuid() != 0)
            QSKIP("making another user's file needs root");
        QVERIFY(QFile(QFile::decodeName(databasePath(suffix))).open(QIODevice::WriteOnly));
        QCOMPARE(::chown(databasePath(suffix).constData(), 65534, 65534), 0);
    }
    JournalStore store;
    QString why;
    QVERIFY(!store.open(folder(), JournalStore::Access::Write, &why));
    QVERIFY(!why.isEmpty());
    // Nothing was written through the link or into the other's file.
    QCOMPARE(QFileInfo(QFile::decodeName(target)).size(), 0);
    QCOMPARE(QFileInfo(QFile::decodeName(databasePath(suffix))).size(), 0);
}

void TestJournalStore::refusesWhatIsNoJournalAndLeavesItAlone_data() {
    QTest::addColumn<QByteArray>("sql"); // run on a fresh database at the journal's name; empty: garbage
    QTest::addColumn<QString>("reason");
    QTest::newRow("another program's database")
        << QByteArray("CREATE TABLE t (x); INSERT INTO t VALUES (1)") << u"another program"_s;
    QTest::newRow("a newer schema") << QByteArray(
                                           "PRAGMA application_id = 1330335818; PRAGMA user_version = 9")
                                    << u"newer"_s;
    QTest::newRow("not a database") << QByteArray() << u"not a database"_s;
}

void TestJournalStore::refusesWhatIsNoJournalAndLeavesItAlone() {
    QFETCH(QByteArray, sql);
    QFETCH(QString, reason);
    m_dir.emplace();
    QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (sql.isEmpty()) {
        QFile file(QFile::decodeName(databasePath()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'x'));
    } else {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(databasePath().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    QFile before(QFile::decodeName(databasePath()));
    QVERIFY(before.open(QIODevice::ReadOnly));
    const QByteArray bytes = before.readAll();

    // Refused for reading as for writing: a reader could not tell what a newer writer's rows mean.
    for (const JournalStore::Access access : {JournalStore::Access::Write, JournalStore::Access::Read}) {
        JournalStore store;
        QString why;
        QVERIFY(!store.open(folder(), access, &why));
        QVERIFY2(why.contains(reason), qPrintable(why));
    }
    QFile after(QFile::decodeName(databasePath()));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), bytes);
}

void TestJournalStore::importsTheJsonLinesDaysOnce() {
    m_dir.emplace();
    QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString day = folder() + u"/OrvexKelPostJobs 2010-01-19.jsonl"_s;
    QVERIFY(QFile::copy(QStringLiteral(ORVEX_JSONL_DAY), day));
    QString why;
    for (int opening = 0; opening < 2; ++opening) {
        JournalStore store;
        QVERIFY2(store.open(folder(), JournalStore::Access::Write, &why), qPrintable(why));
        const QList<JournalPosting> postings = readAll(store);
        QCOMPARE(postings.size(), 4);
        // Each line's own time and offset come back, a start without an end as unknown.
        QCOMPARE(postings[0].time.toString(Qt::ISODateWithMs), u"2010-01-19T15:07:45.520+01:00"_s);
        QCOMPARE(postings[0].resultCode, u"S17"_s);
        QCOMPARE(postings[0].jobId, u"17"_s);
        QCOMPARE(postings[1].jobCode, u"J2 \"quoted\"\n\u00e9"_s);
        QVERIFY(!postings[1].ended);
        QCOMPARE(postings[2].errorNumber, -2147012867);
        QCOMPARE(postings[3].time.toString(Qt::ISODateWithMs), u"2010-01-19T23:59:59.999Z"_s);
        QCOMPARE(postings[3].httpStatus, 500);
    }
    QVERIFY(QFile::exists(day)); // kept: older tools still read it
}

void TestJournalStore::serversWritingAtOnceLoseNothing() {
    constexpr int Servers = 4;
    constexpr int Postings = 200;
    std::vector<pid_t> children;
    for (int server = 0; server < Servers; ++server) {
        const pid_t child = ::fork();
        if (child == 0) {
            JournalStore store;
            QString why;
            if (!store.open(folder(), JournalStore::Access::Write, &why))
                ::_exit(2);
            for (int i = 0; i < Postings; ++i) {
                const std::optional<qint64> row =
                    store.beginDurably(start(u"J%1"_s.arg(i), Noon, ::getpid(), i + 1));
                if (!row || !store.complete({*row, 0, Noon, outcome(u"S%1"_s.arg(i)), 1, 1}))
                    ::_exit(3);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
    const QList<JournalPosting> postings = readAll(m_store);
    QCOMPARE(postings.size(), Servers * Postings);
    for (const JournalPosting &posting : postings)
        QCOMPARE(posting.resultCode, u'S' + QString::number(posting.callSerial - 1));
}

void TestJournalStore::killedWriterLeavesUnknown() {
    const int status = inChild([this] {
        JournalStore store;
        QString why;
        if (store.open(folder(), JournalStore::Access::Write, &why) &&
            store.beginDurably(start(u"J9"_s, Noon)))
            ::raise(SIGKILL);
    });
    QVERIFY(WIFSIGNALED(status));
    const QList<JournalPosting> postings = readAll(m_store);
    QCOMPARE(postings.size(), 1);
    QVERIFY(postings[0].started && !postings[0].ended);
}

void TestJournalStore::fullDiskLosesTheRowNotTheFile() {
    // The file size limit stands in for a full disk: writes past it fail with EFBIG as on ENOSPC.
    const int status = inChild([this] {
        ::signal(SIGXFSZ, SIG_IGN);
        JournalStore store;
        QString why;
        if (!store.open(folder(), JournalStore::Access::Write, &why))
            ::_exit(2);
        const rlimit limit{256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        JournalPosting big = start(QString(), Noon);
        int written = 0;
        for (int i = 0; i < 10000; ++i) {
            big.jobCode = QString(1000, QChar(u'a' + i % 26));
            if (!store.beginDurably(big))
                ::_exit(written > 0 ? 0 : 4);
            ++written;
        }
        ::_exit(5);
    });
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open_v2(databasePath().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt *check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    QCOMPARE(sqlite3_step(check), SQLITE_ROW);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(check, 0))), QByteArray("ok"));
    sqlite3_finalize(check);
    sqlite3_close(db);
    // Every row that is there is whole.
    for (const JournalPosting &posting : readAll(m_store))
        QCOMPARE(posting.jobCode.size(), 1000);
}

void TestJournalStore::pruningDeletesOldRowsOnly() {
    m_store.setRetentionDays(10);
    for (int i = 0; i < 1200; ++i)
        QVERIFY(m_store.beginDurably(start(u"old"_s, Noon.addDays(-11))));
    post(m_store, start(u"kept"_s, Noon.addDays(-9)), u"S1"_s);
    // Small steps: one call does not take them all.
    m_store.pruneStep(Noon);
    QCOMPARE_GT(readAll(m_store).size(), 1);
    for (int step = 0; step < 5; ++step)
        m_store.pruneStep(Noon);
    const QList<JournalPosting> left = readAll(m_store);
    QCOMPARE(left.size(), 1);
    QCOMPARE(left[0].jobCode, u"kept"_s);
}

void TestJournalStore::claimChecksAndWritesInOneStep_data() {
    QTest::addColumn<bool>("shared");
    QTest::addColumn<bool>("endInTheStep");     // the earlier posting's end written in the claim's step
    QTest::addColumn<QString>("earlierAction"); // empty: no earlier posting
    QTest::addColumn<QString>("earlierResult"); // empty: no end
    QTest::addColumn<int>("earlierAgeSecs");
    QTest::addColumn<int>("sinceSecsAgo"); // -1: a single post, which has no rerun time
    QTest::addColumn<bool>("twice");       // the same listing twice in one group
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("blockingHost");
    QTest::addColumn<QString>("earlierHost");
    QTest::addColumn<qint64>("earlierPid");
    const int none = int(JournalBlock::Reason::None);
    const int inFlight = int(JournalBlock::Reason::InFlight);
    const int settled = int(JournalBlock::Reason::Settled);
    const int hours3 = 3 * 3600;
    for (const bool shared : {false, true}) {
        const char *engine = shared ? "PostgreSQL" : "SQLite";
        const auto row = [&](const char *name, bool endInTheStep = false) -> QTestData & {
            return QTest::addRow("%s: %s", engine, name) << shared << endInTheStep;
        };
        row("nothing earlier") << QString() << QString() << 0 << 3600 << false << none << QString()
                               << u"desk-2"_s << qint64(300);
        row("in flight on another host") << u"Add"_s << QString() << 60 << -1 << false << inFlight
                                         << u"desk-2"_s << u"desk-2"_s << qint64(300);
        row("in flight, for a rerun too") << u"Add"_s << QString() << 60 << 3600 << false << inFlight
                                          << u"desk-2"_s << u"desk-2"_s << qint64(300);
        row("ended without an S") << u"Add"_s << u"F"_s << 60 << 3600 << false << none << QString()
                                  << u"desk-2"_s << qint64(300);
        row("an S since the rerun's time") << u"Add"_s << u"S9"_s << 60 << 3600 << false << settled
                                           << u"desk-2"_s << u"desk-2"_s << qint64(300);
        // Ends queued beside the group go first: the claim sees the posting that has ended as ended.
        row("an S written in the same step", true) << u"Add"_s << u"S9"_s << 60 << 3600 << false << settled
                                                   << u"desk-2"_s << u"desk-2"_s << qint64(300);
        row("an F written in the same step", true)
            << u"Add"_s << u"F"_s << 60 << 3600 << false << none << QString() << u"desk-2"_s << qint64(300);
        row("an S before the rerun's time")
            << u"Add"_s << u"S9"_s << 60 << 30 << false << none << QString() << u"desk-2"_s << qint64(300);
        row("an S, for a single post")
            << u"Add"_s << u"S9"_s << 60 << -1 << false << none << QString() << u"desk-2"_s << qint64(300);
        row("a start older than any call lasts") << u"Add"_s << QString() << hours3 << 4 * 3600 << false
                                                 << none << QString() << u"desk-2"_s << qint64(300);
        row("another action in flight") << u"Delete"_s << QString() << 60 << -1 << false << none << QString()
                                        << u"desk-2"_s << qint64(300);
        // This machine's own lost call: its server is gone, so nothing is in flight; a live one is.
        row("this host's start, its server gone") << u"Add"_s << QString() << 60 << -1 << false << none
                                                  << QString() << u"desk-1"_s << qint64(999'999'999);
        row("this host's start, its server a zombie") << u"Add"_s << QString() << 60 << -1 << false << none
                                                      << QString() << u"desk-1"_s << zombieProcess();
        row("this host's start, its server running") << u"Add"_s << QString() << 60 << -1 << false << inFlight
                                                     << u"desk-1"_s << u"desk-1"_s << qint64(::getpid());
        row("the same listing twice in one group") << QString() << QString() << 0 << 3600 << true << inFlight
                                                   << u"desk-1"_s << u"desk-2"_s << qint64(300);
    }
}

void TestJournalStore::claimChecksAndWritesInOneStep() {
    ORVEX_STORE_OF_ROW(store);
    QFETCH(bool, endInTheStep);
    QFETCH(QString, earlierAction);
    QFETCH(QString, earlierResult);
    QFETCH(int, earlierAgeSecs);
    QFETCH(int, sinceSecsAgo);
    QFETCH(bool, twice);
    QFETCH(int, reason);
    QFETCH(QString, blockingHost);
    QFETCH(QString, earlierHost);
    QFETCH(qint64, earlierPid);
    QList<Orvex::JournalEnd> ends;
    if (!earlierAction.isEmpty()) {
        JournalPosting earlier = start(u"J1"_s, Noon.addSecs(-earlierAgeSecs), earlierPid);
        earlier.action = earlierAction;
        earlier.host = earlierHost;
        if (endInTheStep) {
            const std::optional<qint64> row = store.beginDurably(earlier);
            QVERIFY(row);
            ends.append({*row, 0, Noon.addSecs(-1), outcome(earlierResult), 10, 5});
        } else {
            post(store, earlier, earlierResult);
        }
    }
    JournalClaim claim{true, std::nullopt};
    if (sinceSecsAgo >= 0)
        claim.settledSince = Noon.addSecs(-sinceSecsAgo);
    QList<JournalPosting> starts{start(u"J1"_s, Noon), start(u"J2"_s, Noon, 100, 2)};
    if (twice)
        starts.append(start(u"J1"_s, Noon, 100, 3));
    // J2's start has no claim: it is written whatever J1's is.
    QList<JournalClaim> claims{claim, JournalClaim{}, claim};
    QList<JournalBlock> blocks;
    QString why;
    const std::optional<QList<qint64>> rows = store.beginDurably(starts, claims, &blocks, &why, ends);
    QVERIFY2(rows, qPrintable(why));
    QCOMPARE(blocks.size(), starts.size());
    // The claimed start of J1 that the row is about: the second of the group when there are two.
    const qsizetype claimed = twice ? 2 : 0;
    const JournalBlock &block = blocks.at(claimed);
    QCOMPARE(int(block.reason), reason);
    QCOMPARE(rows->at(claimed) == 0, reason != int(JournalBlock::Reason::None));
    QVERIFY(rows->at(1) > 0);
    if (!blockingHost.isEmpty())
        QCOMPARE(block.posting.host, blockingHost);
    // A refused start leaves no row behind; the others are there.
    JournalFilter filter;
    filter.from = Noon;
    QCOMPARE(readAll(store, filter).size(),
             starts.size() - (reason == int(JournalBlock::Reason::None) ? 0 : 1));
}

void TestJournalStore::claimsOfWritersAtOnceGetOneRowEach_data() {
    QTest::addColumn<bool>("shared");
    QTest::newRow("SQLite, two servers of one machine") << false;
    QTest::newRow("PostgreSQL, two machines") << true;
}

// Two writers claiming the same listings at once, in groups as their writer threads make them, in orders of
// their own: each listing gets one row in all.
void TestJournalStore::claimsOfWritersAtOnceGetOneRowEach() {
    ORVEX_STORE_OF_ROW(store);
    m_store.close();
    m_shared.close();
    constexpr int Listings = 60;
    constexpr int Group = 4;
    const QString uri = sharedUri();
    const QString journalFolder = folder();
    const auto writer = [&](int host) {
        return [=] {
            JournalStore own;
            QString why;
            if (!(shared ? own.openUri(uri, JournalStore::Access::Write, &why)
                         : own.open(journalFolder, JournalStore::Access::Write, &why)))
                ::_exit(3);
            for (int first = 0; first < Listings; first += Group) {
                QList<JournalPosting> starts;
                for (int i = first; i < first + Group; ++i) {
                    // One writer goes up the file, the other down it.
                    const int listing = host == 1 ? i : Listings - 1 - i;
                    JournalPosting posting = start(u"J%1"_s.arg(listing), Noon, 1000 + host, i + 1);
                    posting.host = u"desk-%1"_s.arg(host);
                    starts.append(posting);
                }
                if (!own.beginDurably(starts,
                                      QList<JournalClaim>(Group, JournalClaim{true, Noon.addDays(-1)}),
                                      nullptr, &why))
                    ::_exit(4);
            }
            ::_exit(0);
        };
    };
    const pid_t first = ::fork();
    if (first == 0)
        writer(1)();
    const int second = inChild(writer(2));
    int status = 0;
    ::waitpid(first, &status, 0);
    QCOMPARE(status, 0);
    QCOMPARE(second, 0);
    QString why;
    JournalStore reader;
    QVERIFY2(shared ? reader.openUri(uri, JournalStore::Access::Read, &why)
                    : reader.open(journalFolder, JournalStore::Access::Read, &why),
             qPrintable(why));
    QStringList codes;
    for (const JournalPosting &posting : readAll(reader))
        codes.append(posting.jobCode);
    QCOMPARE(codes.size(), Listings);
    QCOMPARE(QSet<QString>(codes.begin(), codes.end()).size(), Listings);
    Q_UNUSED(store);
}

void TestJournalStore::refusesWhatIsNoSharedJournal_data() {
    QTest::addColumn<QString>("uri"); // %1: the test server's socket folder
    QTest::addColumn<QByteArray>("plant");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a URI that does not parse")
        << u"postgresql:///journal?colour=blue&host=%1"_s << QByteArray() << u"colour"_s;
    QTest::newRow("a server that does not answer")
        << u"postgresql://poster:s3cret@/journal?host=%1/none"_s << QByteArray() << u"/none"_s;
    QTest::newRow("another program's database")
        << u"postgresql:///journal?host=%1"_s << QByteArray("CREATE TABLE other (id bigint)")
        << u"another program"_s;
    QTest::newRow("a newer schema") << u"postgresql:///journal?host=%1"_s
                                    << QByteArray("UPDATE journal_meta SET schema_version = 99")
                                    << u"newer"_s;
}

void TestJournalStore::refusesWhatIsNoSharedJournal() {
    ORVEX_REQUIRE_POSTGRES();
    QFETCH(QString, uri);
    QFETCH(QByteArray, plant);
    QFETCH(QString, reason);
    Orvex::PostgresDatabase database;
    Orvex::PostgresError error;
    QVERIFY2(database.open(sharedUri(), &error), qPrintable(error.text()));
    QVERIFY(database.exec("DROP TABLE IF EXISTS posting, posting_latest, journal_meta, other", &error));
    if (plant.startsWith("UPDATE")) {
        JournalStore first;
        QString why;
        QVERIFY2(first.openUri(sharedUri(), JournalStore::Access::Write, &why), qPrintable(why));
    }
    if (!plant.isEmpty())
        QVERIFY2(database.exec(plant.constData(), &error), qPrintable(error.text()));
    QString why;
    JournalStore store;
    QVERIFY(!store.openUri(uri.arg(m_postgres.socketFolder()), JournalStore::Access::Write, &why));
    QVERIFY2(why.contains(reason), qPrintable(why));
    QVERIFY2(!why.contains(u"s3cret"_s), qPrintable(why));
    // Nothing of another program's is touched.
    if (plant.startsWith("CREATE"))
        QCOMPARE(database.integerOf("SELECT count(*) FROM pg_tables WHERE tablename = 'posting'"), 0);
}

// A journal server that drops the connection costs the group in flight, which is not sent; the next group
// connects again, and the end of a row begun before the loss still reaches it.
void TestJournalStore::writerReconnectsAtTheNextGroup() {
    ORVEX_REQUIRE_POSTGRES();
    QVERIFY(emptyShared());
    m_shared.close();
    Orvex::JournalWriter writer;
    writer.openIn(folder(), 0, sharedUri());
    const Orvex::JournalStart before = writer.begin(start(u"J1"_s, Noon));
    QVERIFY2(before.row, qPrintable(before.why));
    QCOMPARE(before.path, Orvex::postgresDisplayText(sharedUri()));
    Orvex::PostgresDatabase admin;
    Orvex::PostgresError error;
    QVERIFY2(admin.open(sharedUri(), &error), qPrintable(error.text()));
    QVERIFY(admin.exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE pid <> pg_backend_pid() "
                       "AND datname = 'journal'",
                       &error));
    const Orvex::JournalStart lost = writer.begin(start(u"J2"_s, Noon.addSecs(1)));
    QVERIFY(!lost.row);
    QVERIFY(!writer.problem().isEmpty());
    const Orvex::JournalStart again = writer.begin(start(u"J3"_s, Noon.addSecs(2)));
    QVERIFY2(again.row, qPrintable(again.why));
    writer.complete({*before.row, before.opening, Noon.addSecs(3), outcome(u"S1"_s), 10, 5});
    writer.flush();
    QString why;
    JournalStore reader;
    QVERIFY2(reader.openUri(sharedUri(), JournalStore::Access::Read, &why), qPrintable(why));
    QStringList rows;
    for (const JournalPosting &posting : readAll(reader))
        rows.append(posting.jobCode + u' ' + posting.resultCode);
    QCOMPARE(rows, (QStringList{u"J1 S1"_s, u"J3 "_s}));
    QVERIFY(writer.problem().isEmpty());
}

void TestJournalStore::writerHandsBackEachStartAndEndOnce_data() {
    QTest::addColumn<bool>("open");
    QTest::newRow("a journal that records") << true;
    QTest::newRow("a journal refused") << false;
}

// A start and an end handed to the writer without waiting come back once each, recorded or not: a posting
// whose start or end never came back would never be answered. A start queued behind the end finds it
// written.
void TestJournalStore::writerHandsBackEachStartAndEndOnce() {
    QFETCH(bool, open);
    m_store.close();
    Orvex::JournalWriter writer;
    if (open)
        writer.openIn(folder(), 0);
    else
        writer.refuse(u"no journal here"_s);
    Orvex::JournalStart first;
    std::atomic<int> startedBack = 0;
    writer.begin(start(u"J1"_s, Noon), {}, [&](Orvex::JournalStart made) {
        first = std::move(made);
        ++startedBack;
    });
    writer.flush();
    QCOMPARE(startedBack.load(), 1);
    QCOMPARE(bool(first.row), open);
    std::atomic<int> handedBack = 0;
    writer.complete({first.row.value_or(1), first.opening, Noon.addSecs(1), outcome(u"S1"_s), 10, 5},
                    [&handedBack] { ++handedBack; });
    JournalClaim claim{true, Noon.addDays(-1)};
    const Orvex::JournalStart again = writer.begin(start(u"J1"_s, Noon.addSecs(2), 100, 2), claim);
    writer.flush();
    QCOMPARE(handedBack.load(), 1);
    QCOMPARE(int(again.block.reason), int(open ? JournalBlock::Reason::Settled : JournalBlock::Reason::None));
    if (!open)
        return;
    QString why;
    JournalStore reader;
    QVERIFY2(reader.open(folder(), JournalStore::Access::Read, &why), qPrintable(why));
    QStringList rows;
    for (const JournalPosting &posting : readAll(reader))
        rows.append(posting.jobCode + u' ' + posting.resultCode);
    QCOMPARE(rows, QStringList{u"J1 S1"_s});
}

QTEST_GUILESS_MAIN(TestJournalStore)
QStringList latestOf(JournalStore &store) {
    QStringList latest;
    QString why;
    JournalFilter filter;
    filter.result = JournalFilter::Result::Any;
    if (!store.readLatest(
            filter,
            [&](JournalPosting &&p) {
                return latest.append(p.board + u' ' + p.jobCode + u' ' + p.resultCode), true;
            },
            &why))
        latest.append(u"failed: "_s + why);
    return latest;
}

// A journal of the version before keeps every posting but not the last of each listing: --latest reads
// the same from it before the upgrade (every row once) and after (the kept table).
void TestJournalStore::latestReadsTheSameBeforeAndAfterTheUpgrade() {
    post(m_store, start(u"J1"_s, Noon), u"F"_s);
    post(m_store, start(u"J2"_s, Noon.addSecs(1)), u"S5"_s);
    post(m_store, start(u"J1"_s, Noon.addSecs(2)), u"S6"_s);
    JournalPosting elsewhere = start(u"J1"_s, Noon.addSecs(3));
    elsewhere.board = u"second"_s;
    post(m_store, elsewhere, QString());
    const QStringList expected{u"default J1 S6"_s, u"default J2 S5"_s, u"second J1 "_s};
    QCOMPARE(latestOf(m_store), expected);
    m_store.close();

    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(databasePath().constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(
                 db,
                 "ALTER TABLE posting DROP COLUMN host; DROP TABLE posting_latest; PRAGMA user_version = 1",
                 nullptr, nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(db);
    JournalStore reader;
    QString why;
    QVERIFY2(reader.open(folder(), JournalStore::Access::Read, &why), qPrintable(why));
    QCOMPARE(latestOf(reader), expected);
    JournalStore writer;
    QVERIFY2(writer.open(folder(), JournalStore::Access::Write, &why), qPrintable(why));
    QCOMPARE(latestOf(writer), expected);
    // Rows from before hosts were kept name none.
    for (const JournalPosting &posting : readAll(writer))
        QCOMPARE(posting.host, QString());
    post(writer, start(u"J2"_s, Noon.addSecs(4)), u"F"_s);
    QCOMPARE(latestOf(writer), (QStringList{u"default J1 S6"_s, u"default J2 F"_s, u"second J1 "_s}));
}

// Another program holding the journal past the busy timeout costs the start row, never a row half made.
void TestJournalStore::startWaitsOutALockThenFails() {
    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open(databasePath().constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    QString why;
    QVERIFY(!m_store.beginDurably(start(u"J1"_s, Noon), &why));
    QVERIFY2(why.contains(u"locked"_s), qPrintable(why));
    QCOMPARE(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    QVERIFY2(m_store.beginDurably(start(u"J2"_s, Noon), &why), qPrintable(why));
    const QList<JournalPosting> rows = readAll(m_store);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().jobCode, u"J2"_s);
}

void TestJournalStore::deletedJournalIsWrittenBack_data() {
    QTest::addColumn<bool>("wholeFolder");
    QTest::newRow("the file and its WAL") << false;
    QTest::newRow("its folder") << true;
}

// A journal deleted under an open store takes no more rows, and what it held is written back at its name,
// so the next run still knows what was posted.
void TestJournalStore::deletedJournalIsWrittenBack() {
    QFETCH(bool, wholeFolder);
    post(m_store, start(u"J1"_s, Noon), u"S1"_s);
    post(m_store, start(u"J2"_s, Noon), QString());
    QString why;
    QVERIFY2(m_store.isStillAtItsName(&why), qPrintable(why));
    if (wholeFolder) {
        QVERIFY(QDir(folder()).removeRecursively());
    } else {
        for (const char *suffix : Orvex::JournalFiles::Suffixes)
            QFile::remove(QFile::decodeName(databasePath(suffix)));
    }
    QVERIFY(!m_store.isStillAtItsName(&why));
    m_store.restoreAtItsName(&why);
    QVERIFY2(why.contains(u"written back"_s), qPrintable(why));
    m_store.close();

    JournalStore reopened;
    QVERIFY2(reopened.open(folder(), JournalStore::Access::Write, &why), qPrintable(why));
    QStringList rows;
    for (const JournalPosting &posting : readAll(reopened))
        rows.append(posting.jobCode + u' ' + posting.resultCode);
    QCOMPARE(rows, (QStringList{u"J1 S1"_s, u"J2 "_s}));
    QCOMPARE(QFileInfo(QFile::decodeName(databasePath())).permissions() &
                 (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
             QFile::Permissions());
}

void TestJournalStore::bindThatFailsStopsTheStep() {
    Orvex::SqliteDatabase database;
    QVERIFY(database.open(":memory:", SQLITE_OPEN_READWRITE));
    QVERIFY(database.exec("CREATE TABLE t (a, b)"));
    Orvex::SqliteStatement insert = database.prepare("INSERT INTO t VALUES (?1, ?2)");
    QVERIFY(insert.bind(1, qint64(1)));
    QVERIFY(!insert.bind(3, u"no such parameter"_s));
    QCOMPARE(database.error().code, SQLITE_RANGE);
    QCOMPARE(insert.step(), Orvex::SqliteStatement::Step::Failed);
    QCOMPARE(database.integerOf("SELECT count(*) FROM t"), std::optional<qint64>(0));
}

void TestJournalStore::timesReadAsTheCalendarHasThem_data() {
    QTest::addColumn<QDateTime>("time");
    const auto at = [](int year, int month, int day, int hour, int offsetMinutes) {
        return QDateTime(QDate(year, month, day), QTime(hour, 59, 58, 7), Qt::OffsetFromUTC,
                         offsetMinutes * 60);
    };
    QTest::newRow("the first of February") << at(2010, 2, 1, 0, 0);
    QTest::newRow("the last of February") << at(2011, 2, 28, 23, 60);
    QTest::newRow("a leap day") << at(2012, 2, 29, 12, -330);
    QTest::newRow("the first of March after a leap day") << at(2012, 3, 1, 0, 0);
    QTest::newRow("New Year's Eve behind UTC") << at(2009, 12, 31, 23, -600);
    QTest::newRow("New Year's Day ahead of UTC") << at(2010, 1, 1, 0, 840);
    QTest::newRow("before 1970") << at(1969, 2, 28, 1, 0);
    QTest::newRow("2000, a leap century") << at(2000, 2, 29, 22, 90);
    QTest::newRow("2100, no leap day") << at(2100, 3, 1, 3, 0);
}

void TestJournalStore::timesReadAsTheCalendarHasThem() {
    QFETCH(QDateTime, time);
    const Orvex::JournalTime journalTime = Orvex::JournalTime::of(time);
    QCOMPARE(journalTime.dateText(), time.toString(u"yyyy-MM-dd"));
    QCOMPARE(journalTime.clockText(), time.toString(u"HH:mm:ss"));
    QCOMPARE(journalTime.isoText().left(23), time.toString(u"yyyy-MM-ddTHH:mm:ss.zzz"));
}

void TestJournalStore::rowsOutliveTheWriterThatLeftThemInTheWal_data() {
    QTest::addColumn<int>("postings");
    QTest::addColumn<bool>("walEmptied"); // checkpointed and truncated as the writer closed
    QTest::newRow("a few, left in the WAL for the next writer") << 3 << false;
    QTest::newRow("past half a MiB of WAL, checkpointed") << 40 << true;
}

// A writer that closes leaves a small WAL as it is, for the next to go on with, and empties a large one
// into the file; either way every row is there for the next reader, and the next writer adds to them.
void TestJournalStore::rowsOutliveTheWriterThatLeftThemInTheWal() {
    QFETCH(int, postings);
    QFETCH(bool, walEmptied);
    for (int i = 0; i < postings; ++i)
        post(m_store, start(u"J%1"_s.arg(i), Noon.addSecs(i), 100, i + 1), u"S%1"_s.arg(i));
    m_store.close();
    const QFileInfo wal(QFile::decodeName(databasePath("-wal")));
    QVERIFY(wal.exists());
    QCOMPARE(wal.size() == 0, walEmptied);

    QString why;
    JournalStore reader;
    QVERIFY2(reader.open(folder(), JournalStore::Access::Read, &why), qPrintable(why));
    QCOMPARE(readAll(reader).size(), postings);
    reader.close();
    QVERIFY2(m_store.open(folder(), JournalStore::Access::Write, &why), qPrintable(why));
    post(m_store, start(u"J-next"_s, Noon.addDays(1)), u"S"_s);
    const QList<JournalPosting> rows = readAll(m_store);
    QCOMPARE(rows.size(), postings + 1);
    QCOMPARE(rows.last().jobCode, u"J-next"_s);
}

#include "tst_journalstore.moc"
