// The posting journal at the size a busy user reaches: 7 days of 100,000 postings, written through the
// store's own writer, then the rerun check and history's two reads, each timed as a whole process against
// the sqlite3 program doing the same look-ups on the same file.
#include "historysource.h"
#include "journalstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

ProcessCost sqliteProgram(const QString &program, const QString &database, const QByteArray &script) {
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
        const QByteArray databasePath = QFile::encodeName(database);
        ::execl(programPath.constData(), programPath.constData(), "-readonly", databasePath.constData(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    });
}

QString jobCodeOf(int day, int posting) {
    return QStringLiteral("JOB-%1-%2").arg(day).arg(posting);
}

void generate(const QString &folder, int perDay) {
    JournalStore store;
    QString why;
    if (!store.open(folder, JournalStore::Access::Write, &why))
        qFatal("cannot open the journal: %s", qPrintable(why));
    const QDateTime first = QDateTime::currentDateTime().addDays(-Days);
    Orvex::PostingOutcome posted{QString(), 200, 0, QString(), QString(), Orvex::DeliveryClass::Posted};
    for (int day = 0; day < Days; ++day) {
        for (int i = 0; i < perDay; ++i) {
            JournalPosting start;
            start.time = first.addDays(day).addMSecs(qint64(i) * 800);
            start.processId = 1000 + i / 1000;
            start.objectPath = QStringLiteral("/OrvexKelPostJob/PostJob/1");
            start.callSerial = i % 1000 + 1;
            start.action = QStringLiteral("Add");
            start.jobCode = jobCodeOf(day, i);
            const std::optional<qint64> row = store.begin(start);
            posted.resultCode = u'S' + QString::number(qint64(day) * perDay + i);
            if (!row || !store.complete(*row, start.time.addMSecs(40), posted, 24, 40))
                qFatal("a write failed");
        }
    }
}

void printRatio(const char *what, double ratio, double goal) {
    std::printf("%-58s ratio %.2f (goal <= %.0f)\n", what, ratio, goal);
}

// history's table, as the command prints it: one reading to measure the columns, one to print.
void printHistory(const QString &folder, const Orvex::HistoryFilter &filter) {
    const Orvex::HistorySource source(folder, filter);
    Orvex::HistoryTable table;
    QString problem;
    QTextStream out(stdout);
    if (!source.read([&](Orvex::HistoryPosting &&posting) { table.measure(posting); }, &problem) ||
        !source.read([&](Orvex::HistoryPosting &&posting) { table.print(out, posting); }, &problem))
        ::_exit(1);
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
    QByteArray lookUps;
    for (int i = 0; i < LookUps; ++i)
        lookUps += "SELECT 1 FROM posting WHERE board = 'default' AND action = 'Add' AND job_code = '" +
                   jobCodeOf(Days - 1, i).toUtf8() +
                   "' AND start_ms >= " + QByteArray::number(since.toMSecsSinceEpoch()) +
                   " AND substr(result, 1, 1) = 'S' LIMIT 1;\n";
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
    return 0;
}
