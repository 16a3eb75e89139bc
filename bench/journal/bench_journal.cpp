// The posting journal at the size a busy user reaches: 7 days of 100,000 postings, written through the
// store's own writer, then the rerun check and history's two reads, each timed as a whole process against
// the sqlite3 program doing the same look-ups on the same file. Then a year's journal (365 days of the same
// listings posted again each day, made in bulk by SQL) for history --latest, which must cost what it prints.
// Then the same 7 days in a journal on a private PostgreSQL server (made in bulk by SQL beside the store's
// own schema), its rerun check and --latest against psql on the same database.
//
//   bench_journal [POSTINGS_PER_DAY [DAYS_FOR_LATEST]] [--postgres-only]
#include "historysource.h"
#include "journalstore.h"
#include "postgresdatabase.h"
#include "postgresserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using Orvex::JournalPosting;
using Orvex::JournalStore;

namespace {

constexpr int Days = 7;
constexpr int LookUps = 1000;

struct ProcessCost {
    double seconds = 0;
    double maxResidentMiB = 0;
};

// Runs body in a child process with its output on /dev/null, as a process of its own costs.
template<typename Body> ProcessCost inChild(Body body) {
    const auto begun = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        body();
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count(),
            double(usage.ru_maxrss) / 1024.0};
}

// program with arguments, reading script from its standard input, in a child of its own.
ProcessCost programReading(const QString &program, const QList<QByteArray> &arguments,
                           const QByteArray &script) {
    return inChild([&] {
        int input[2];
        if (::pipe(input) != 0)
            ::_exit(1);
        if (::fork() == 0) {
            ::close(input[0]);
            (void)!::write(input[1], script.constData(), size_t(script.size()));
            ::_exit(0);
        }
        ::close(input[1]);
        ::dup2(input[0], STDIN_FILENO);
        const QByteArray programPath = QFile::encodeName(program);
        std::vector<char *> argv{const_cast<char *>(programPath.constData())};
        for (const QByteArray &argument : arguments)
            argv.push_back(const_cast<char *>(argument.constData()));
        argv.push_back(nullptr);
        ::execv(programPath.constData(), argv.data());
        ::_exit(127);
    });
}

ProcessCost sqliteProgram(const QString &program, const QString &database, const QByteArray &script) {
    return programReading(program, {QByteArrayLiteral("-readonly"), QFile::encodeName(database)}, script);
}

// psql on uri, reading script from its standard input: the baseline on a shared journal.
ProcessCost psqlProgram(const QString &uri, const QByteArray &script) {
    return programReading(PostgresServer::program(QStringLiteral("psql")),
                          {"-X", "-q", "-A", "-t", "-d", uri.toUtf8()}, script);
}

QString jobCodeOf(int day, int posting) {
    return QStringLiteral("JOB-%1-%2").arg(day).arg(posting);
}

// The rerun check of 1,000 listings of the last day as the baseline asks it: one indexed look-up each.
QByteArray rerunLookUps(const QDateTime &since) {
    QByteArray lookUps;
    for (int i = 0; i < LookUps; ++i)
        lookUps += "SELECT 1 FROM posting WHERE board = 'default' AND action = 'Add' AND job_code = '" +
                   jobCodeOf(Days - 1, i).toUtf8() +
                   "' AND start_ms >= " + QByteArray::number(since.toMSecsSinceEpoch()) +
                   " AND substr(result, 1, 1) = 'S' LIMIT 1;\n";
    return lookUps;
}

void generate(const QString &folder, int perDay) {
    JournalStore store;
    QString why;
    if (!store.open(folder, JournalStore::Access::Write, &why))
        qFatal("cannot open the journal: %s", qPrintable(why));
    const QDateTime first = QDateTime::currentDateTime().addDays(-Days);
    Orvex::PostingOutcome posted{QString(), 200, 0, QString(), QString(), Orvex::DeliveryClass::Posted};
    // A thousand postings starting together share one synced commit, as the writer commits them.
    constexpr int Together = 1000;
    for (int day = 0; day < Days; ++day) {
        for (int group = 0; group < perDay; group += Together) {
            QList<JournalPosting> starts;
            for (int i = group; i < std::min(perDay, group + Together); ++i) {
                JournalPosting start;
                start.time = first.addDays(day).addMSecs(qint64(i) * 800);
                start.processId = 1000 + i / 1000;
                start.objectPath = QStringLiteral("/OrvexKelPostJob/PostJob/1");
                start.callSerial = i % 1000 + 1;
                start.action = QStringLiteral("Add");
                start.jobCode = jobCodeOf(day, i);
                starts.append(start);
            }
            const std::optional<QList<qint64>> rows = store.beginDurably(starts, &why);
            if (!rows)
                qFatal("a write failed: %s", qPrintable(why));
            QList<Orvex::JournalEnd> ends;
            for (qsizetype k = 0; k < starts.size(); ++k) {
                posted.resultCode = u'S' + QString::number(qint64(day) * perDay + group + k);
                ends.append({rows->at(k), 0, starts.at(k).time.addMSecs(40), posted, 24, 40});
            }
            if (!store.complete(ends, &why))
                qFatal("a write failed: %s", qPrintable(why));
        }
    }
}

// A year's journal for --latest: perDay listings, each posted once a day for days days, written in bulk
// beside the store's own schema, the kept table of the last postings filled as the writer fills it.
void generateYear(const QString &folder, int perDay, int days) {
    {
        JournalStore store;
        QString why;
        if (!store.open(folder, JournalStore::Access::Write, &why))
            qFatal("cannot open the journal: %s", qPrintable(why));
    }
    sqlite3 *db = nullptr;
    const QByteArray path = QFile::encodeName(folder + u'/' + QLatin1StringView(JournalStore::FileName));
    if (sqlite3_open(path.constData(), &db) != SQLITE_OK)
        qFatal("cannot open %s", path.constData());
    const qint64 first = QDateTime::currentDateTime().addDays(-days).toMSecsSinceEpoch();
    for (int day = 0; day < days; ++day) {
        const QByteArray sql =
            "BEGIN; WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
            QByteArray::number(perDay - 1) +
            ") INSERT INTO posting (board, start_ms, utc_offset_s, pid, object, call, action, job_code, "
            "end_ms, "
            "result, job_id, http_status, error_number, error_description, reply_bytes, duration_ms, "
            "delivery_class) SELECT 'default', " +
            QByteArray::number(first + qint64(day) * 86'400'000) +
            " + i * 800, 3600, 1000, '/OrvexKelPostJob/PostJob/1', i + 1, 'Add', 'JOB-' || i, " +
            QByteArray::number(first + qint64(day) * 86'400'000 + 40) + " + i * 800, 'S' || (" +
            QByteArray::number(qint64(day) * perDay) + " + i), " + QByteArray::number(qint64(day) * perDay) +
            " + i, 200, 0, '', 24, 40, 'posted' FROM n; "
            "INSERT INTO posting_latest (board, job_code, posting) SELECT board, job_code, id FROM posting "
            "WHERE id > (SELECT coalesce(max(posting), 0) FROM posting_latest) ORDER BY id "
            "ON CONFLICT (board, job_code) DO UPDATE SET posting = excluded.posting; COMMIT;";
        char *error = nullptr;
        if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &error) != SQLITE_OK)
            qFatal("generating: %s", error);
    }
    sqlite3_close(db);
}

// The journal of generate() on a PostgreSQL database: the store makes the schema, SQL the rows, and the
// kept table of the last postings is filled as the writer fills it.
void generateShared(const QString &uri, int perDay) {
    {
        JournalStore store;
        QString why;
        if (!store.openUri(uri, JournalStore::Access::Write, &why))
            qFatal("cannot open the journal: %s", qPrintable(why));
    }
    Orvex::PostgresDatabase database;
    Orvex::PostgresError error;
    if (!database.open(uri, &error))
        qFatal("cannot open %s", qPrintable(error.text()));
    const qint64 first = QDateTime::currentDateTime().addDays(-Days).toMSecsSinceEpoch();
    for (int day = 0; day < Days; ++day) {
        const QByteArray start = QByteArray::number(first + qint64(day) * 86'400'000);
        const QByteArray sql =
            "INSERT INTO posting (board, start_ms, utc_offset_s, pid, object, call, action, job_code, "
            "end_ms, "
            "result, job_id, http_status, error_number, error_description, reply_bytes, duration_ms, "
            "delivery_class) SELECT 'default', " +
            start +
            " + i * 800, 3600, 1000 + i / 1000, '/OrvexKelPostJob/PostJob/1', i % 1000 + 1, 'Add', "
            "'JOB-" +
            QByteArray::number(day) + "-' || i, " + start + " + i * 800 + 40, 'S' || (" +
            QByteArray::number(qint64(day) * perDay) + " + i), (" + QByteArray::number(qint64(day) * perDay) +
            " + i)::text, 200, 0, '', 24, 40, 'posted' FROM generate_series(0, " +
            QByteArray::number(perDay - 1) +
            ") i; INSERT INTO posting_latest (board, job_code, posting) SELECT board, job_code, max(id) FROM "
            "posting GROUP BY board, job_code ON CONFLICT (board, job_code) DO UPDATE SET posting = "
            "excluded.posting";
        if (!database.exec(sql.constData(), &error))
            qFatal("generating: %s", qPrintable(error.text()));
    }
    // One statement a call: VACUUM does not run inside the transaction several would share.
    for (const char *table : {"VACUUM ANALYZE posting", "VACUUM ANALYZE posting_latest"})
        if (!database.exec(table, &error))
            qFatal("analyzing: %s", qPrintable(error.text()));
}

void printRatio(const char *what, double ratio, double goal) {
    std::printf("%-58s ratio %.2f (goal <= %.0f)\n", what, ratio, goal);
}

// history's table, as the command prints it.
void printHistory(const QString &folder, const Orvex::HistoryFilter &filter,
                  const QString &journal = QString()) {
    QTextStream out(stdout);
    QString problem;
    if (!Orvex::printHistoryTable(Orvex::HistorySource(folder, filter, journal), out, &problem))
        ::_exit(1);
}

// The rerun check and --latest on a journal that several machines share, against psql's own queries.
void benchShared(int perDay, const QDateTime &since) {
    if (const QString why = PostgresServer::unavailableReason(); !why.isEmpty()) {
        std::printf("bench_journal: PostgreSQL skipped, %s\n", qPrintable(why));
        return;
    }
    PostgresServer server;
    if (!server.start() || !server.createDatabase(QStringLiteral("journal"))) {
        std::printf("bench_journal: PostgreSQL skipped, %s\n", qPrintable(server.errorString()));
        return;
    }
    const QString uri = server.uri(QStringLiteral("journal"));
    const auto generating = std::chrono::steady_clock::now();
    generateShared(uri, perDay);
    double loads[3] = {};
    getloadavg(loads, 3);
    std::printf("PostgreSQL journal: %d days x %d postings, made in %.0f s, load %.2f\n", Days, perDay,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - generating).count(),
                loads[0]);

    const QByteArray lookUps = rerunLookUps(since);
    const ProcessCost rerun = inChild([&] {
        JournalStore store;
        QString why;
        if (!store.openUri(uri, JournalStore::Access::Read, &why))
            ::_exit(1);
        for (int i = 0; i < LookUps; ++i)
            std::printf("%d\n", int(store
                                        .succeededSince(QStringLiteral("default"), QStringLiteral("Add"),
                                                        jobCodeOf(Days - 1, i), since)
                                        .value_or(false)));
    });
    const ProcessCost rerunBaseline = psqlProgram(uri, lookUps);
    printRatio("PostgreSQL: rerun check of 1,000 listings vs psql look-ups",
               rerun.seconds / rerunBaseline.seconds, 2);

    Orvex::HistoryFilter latest;
    latest.latest = true;
    const ProcessCost byLatest = inChild([&] { printHistory(QString(), latest, uri); });
    const ProcessCost byLatestBaseline = psqlProgram(
        uri,
        "SELECT posting.board, start_ms, utc_offset_s, action, posting.job_code, result FROM posting_latest "
        "JOIN posting ON posting.id = posting_latest.posting ORDER BY posting_latest.board, "
        "posting_latest.job_code;\n");
    printRatio("PostgreSQL: history --latest vs psql", byLatest.seconds / byLatestBaseline.seconds, 3);
    std::printf("%-58s s %.2f\n", "PostgreSQL: history --latest", byLatest.seconds);
    std::printf("%-58s MiB %.1f\n", "PostgreSQL: history --latest, resident memory", byLatest.maxResidentMiB);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    const int perDay = argc > 1 ? std::max(1000, atoi(argv[1])) : 100'000;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (program.isEmpty()) {
        std::printf(
            "bench_journal: skipped, the sqlite3 program is not installed (Debian package sqlite3)\n");
        return 0;
    }
    if (QCoreApplication::arguments().contains(QStringLiteral("--postgres-only"))) {
        benchShared(perDay, QDateTime::currentDateTime().addDays(-Days - 1));
        return 0;
    }
    QTemporaryDir folder;
    QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    double loads[3] = {};
    getloadavg(loads, 3);
    std::printf("bench_journal: %d days x %d postings, load %.2f\n", Days, perDay, loads[0]);
    const auto generating = std::chrono::steady_clock::now();
    generate(folder.path(), perDay);
    const double generated =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - generating).count();
    const QString database = folder.filePath(QLatin1StringView(JournalStore::FileName));
    std::printf("written: %.1f us per posting (two writes), %.0f MiB on disk\n",
                generated * 1e6 / (Days * perDay), double(QFileInfo(database).size()) / (1024 * 1024));

    // The rerun check: 1,000 listings of the last day, every one already "S".
    const QDateTime since = QDateTime::currentDateTime().addDays(-Days - 1);
    const QByteArray lookUps = rerunLookUps(since);
    const ProcessCost rerun = inChild([&] {
        JournalStore store;
        QString why;
        if (!store.open(folder.path(), JournalStore::Access::Read, &why))
            ::_exit(1);
        for (int i = 0; i < LookUps; ++i)
            std::printf("%d\n", int(store
                                        .succeededSince(QStringLiteral("default"), QStringLiteral("Add"),
                                                        jobCodeOf(Days - 1, i), since)
                                        .value_or(false)));
    });
    const ProcessCost rerunBaseline = sqliteProgram(program, database, lookUps);
    printRatio("rerun check of 1,000 listings vs sqlite3 look-ups", rerun.seconds / rerunBaseline.seconds, 2);
    std::printf("%-58s MiB %.1f (goal <= 40)\n", "rerun check, resident memory", rerun.maxResidentMiB);

    // history --job: one job code over the days.
    const QString jobCode = jobCodeOf(3, perDay / 2);
    Orvex::HistoryFilter days;
    days.from = since.date();
    days.to = QDate::currentDate();
    const ProcessCost byJob = inChild([&] {
        Orvex::HistoryFilter filter = days;
        filter.jobCode = jobCode;
        printHistory(folder.path(), filter);
    });
    const ProcessCost byJobBaseline = sqliteProgram(
        program, database,
        "SELECT start_ms, utc_offset_s, action, job_code, result FROM posting WHERE job_code = '" +
            jobCode.toUtf8() + "' ORDER BY start_ms;\n");
    printRatio("history --job over the days vs sqlite3", byJob.seconds / byJobBaseline.seconds, 3);

    // history --from: every row of the days, in time order.
    const ProcessCost byTime = inChild([&] { printHistory(folder.path(), days); });
    const ProcessCost byTimeBaseline =
        sqliteProgram(program, database,
                      "SELECT strftime('%Y-%m-%dT%H:%M:%f', (start_ms + utc_offset_s * 1000) / 1000.0, "
                      "'unixepoch'), action, "
                      "job_code, result FROM posting WHERE start_ms >= " +
                          QByteArray::number(QDateTime(days.from, QTime(0, 0)).toMSecsSinceEpoch()) +
                          " ORDER BY start_ms;\n");
    printRatio("history --from over the days vs sqlite3", byTime.seconds / byTimeBaseline.seconds, 3);
    std::printf("%-58s MiB %.1f (goal <= 40)\n", "history --from, resident memory", byTime.maxResidentMiB);

    // history --latest over a year: as many rows read as printed.
    const int yearDays = argc > 2 ? std::max(1, atoi(argv[2])) : 365;
    QTemporaryDir year;
    QFile::setPermissions(year.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const auto makingYear = std::chrono::steady_clock::now();
    generateYear(year.path(), perDay, yearDays);
    const QString yearDatabase = year.filePath(QLatin1StringView(JournalStore::FileName));
    std::printf("a year's journal: %d days x %d postings, made in %.0f s, %.0f MiB on disk\n", yearDays,
                perDay, std::chrono::duration<double>(std::chrono::steady_clock::now() - makingYear).count(),
                double(QFileInfo(yearDatabase).size()) / (1024 * 1024));
    Orvex::HistoryFilter latest;
    latest.latest = true;
    const ProcessCost byLatest = inChild([&] { printHistory(year.path(), latest); });
    const ProcessCost byLatestBaseline = sqliteProgram(
        program, yearDatabase,
        "SELECT posting.board, start_ms, utc_offset_s, action, posting.job_code, result FROM posting_latest "
        "CROSS JOIN posting ON posting.id = posting_latest.posting ORDER BY posting_latest.board, "
        "posting_latest.job_code;\n");
    printRatio("history --latest over the year vs sqlite3", byLatest.seconds / byLatestBaseline.seconds, 3);
    std::printf("%-58s s %.2f (goal <= 2)\n", "history --latest over the year", byLatest.seconds);
    benchShared(perDay, since);
    return 0;
}
