// Postings to a distant board: a batch of listings through orvex-postjob, with and without
// ReuseConnection, against one curl process posting the same documents over one connection (what any user
// can run), for round trips of 0, 20 and 80 ms, over http and https, in one run. Prints per-listing medians
// and the ratios. Then listings in flight side by side: the same batch sent to the server through the bus
// as PostToBoard calls all at once, with MaxInFlight=8 against MaxInFlight=1 and against
// `curl --parallel --parallel-max 8`, and to two boards against one, at 0 and 80 ms over kept connections;
// and MaxInFlight=8 with the journal on a private PostgreSQL server (on a Unix socket) against the SQLite
// file, where the server can run.
//
// The distance is made on the loopback of a network namespace of its own: a delay line (bench_delayline,
// on a netfilter queue filled from PREROUTING) holds every packet for half the round trip. The board, a
// private bus, the server it starts, the tool and curl all run inside that namespace. Needs root (it says
// so and skips otherwise); the namespace, and with it its rules, is removed on every exit, Ctrl-C included.
//
//     bench_latency [RUNS] [--in-flight-only | --cpu-only]      (default 3 runs)

#include "benchharness.h"
#include "benchposting.h"
#include "boardprocess.h"
#include "listingfields.h"
#include "postgresserver.h"
#include "privatebus.h"
#include "testcertificates.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Listings = 100;
constexpr int FieldCount = 20;
constexpr int DefaultRuns = 3;
constexpr int RoundTripsMs[] = {0, 20, 80};
constexpr int QueueNumber = 0;
// The goal for a batch with ReuseConnection=1 against curl over one connection, at a distance.
constexpr double ReuseGoal = 1.1;
// Listings in flight against a board 80 ms away: the goals of the batch with MaxInFlight=8 against curl
// with as many transfers in flight, against MaxInFlight=1 (at least), and of two boards against one.
constexpr int InFlight = 8;
constexpr int InFlightRoundTripsMs[] = {0, 80};
constexpr double InFlightCurlGoal = 1.1;
constexpr double InFlightSpeedUpGoal = 5.0;
constexpr double TwoBoardsGoal = 1.2;
constexpr double NearBoardGoal = 1.0;
// The journal on a PostgreSQL server against the SQLite file, MaxInFlight=8, the board 80 ms away.
constexpr double SharedJournalGoal = 1.15;
// The processor time of a batch through the tool, the bus and the server, against curl's for the same
// bodies with as many in flight, on the near board.
constexpr int CpuListings = 1000;
constexpr double CpuGoal = 2.0;

// ---- Outside the namespace: the supervising process ----

int runCommand(const std::vector<std::string> &arguments, bool quiet = true) {
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (quiet) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Ends every process still in the namespace, then the namespace itself, which takes its rules with it.
void removeNamespace(const std::string &name) {
    const std::string pidsCommand = "ip netns pids " + name;
    if (FILE *pids = popen(pidsCommand.c_str(), "r")) {
        int pid = 0;
        while (std::fscanf(pids, "%d", &pid) == 1)
            ::kill(pid, SIGKILL);
        pclose(pids);
    }
    runCommand({"ip", "netns", "del", name});
}

pid_t benchmarkProcess = 0;

void forwardStop(int signal) {
    if (benchmarkProcess > 0)
        ::kill(benchmarkProcess, signal);
}

bool enterNamespace(const std::string &name) {
    const std::string path = "/run/netns/" + name;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool entered = descriptor >= 0 && setns(descriptor, CLONE_NEWNET) == 0;
    if (descriptor >= 0)
        ::close(descriptor);
    return entered;
}

// ---- Inside the namespace ----

// The batch as a listings file for the tool and as one document file per listing for curl.
struct Batch {
    QString listingsFile;
    QStringList documentFiles;
    QList<Orvex::ListingFields> listings;
};

bool writeFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool writeBatch(const QString &folder, Batch *batch, int count = Listings) {
    const Orvex::Bench::Fields fields = Orvex::Bench::benchListing(FieldCount);
    QJsonArray listings;
    for (int i = 0; i < count; ++i) {
        Orvex::Bench::Fields listing = fields;
        listing.front().second = QStringLiteral("J-%1").arg(i + 1);
        batch->listings.append(Orvex::ListingFields(listing.begin(), listing.end()));
        QJsonArray pairs;
        for (const auto &[name, value] : listing)
            pairs.append(QJsonArray{name, value});
        listings.append(QJsonObject{{QStringLiteral("action"), QStringLiteral("Add")},
                                    {QStringLiteral("fields"), pairs}});
        const QString documentFile = QStringLiteral("%1/listing-%2.xml").arg(folder).arg(i + 1);
        if (!writeFile(documentFile, Orvex::Bench::wireBytes(listing)))
            return false;
        batch->documentFiles.append(documentFile);
    }
    batch->listingsFile = folder + QStringLiteral("/listings.json");
    return writeFile(batch->listingsFile, QJsonDocument(listings).toJson(QJsonDocument::Compact));
}

// User and system time of this process's children that have ended.
double childrenProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool runQuietly(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Holds every packet on the namespace's loopback for half the round trip while it lives.
class DelayLine {
public:
    DelayLine() = default;
    DelayLine(const DelayLine &) = delete;
    DelayLine &operator=(const DelayLine &) = delete;
    ~DelayLine() {
        if (m_ruleAdded)
            runQuietly(QStringLiteral("iptables"), ruleArguments(QStringLiteral("-D")));
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished();
        }
    }

    bool start(int roundTripMs) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(QStringLiteral(ORVEX_DELAYLINE_EXECUTABLE),
                        {QString::number(QueueNumber), QString::number(roundTripMs * 500)});
        if (!m_process.waitForStarted() || !m_process.waitForReadyRead(10000) ||
            !m_process.readLine().startsWith("ready"))
            return false;
        m_ruleAdded = runQuietly(QStringLiteral("iptables"), ruleArguments(QStringLiteral("-A")));
        return m_ruleAdded;
    }

private:
    static QStringList ruleArguments(const QString &command) {
        return {QStringLiteral("-t"),
                QStringLiteral("mangle"),
                command,
                QStringLiteral("PREROUTING"),
                QStringLiteral("-i"),
                QStringLiteral("lo"),
                QStringLiteral("-p"),
                QStringLiteral("tcp"),
                QStringLiteral("-j"),
                QStringLiteral("NFQUEUE"),
                QStringLiteral("--queue-num"),
                QString::number(QueueNumber),
                QStringLiteral("--queue-bypass")};
    }

    QProcess m_process;
    bool m_ruleAdded = false;
};

// The processor time of a batch, in seconds: the tool's, the bus daemon's and the server's.
struct ProcessorTime {
    double tool = 0;
    double bus = 0;
    double server = 0;
    double total() const { return tool + bus + server; }
};

// One board, its private bus and the server's program folder, for one scheme.
class Deployment {
public:
    explicit Deployment(const QStringList &boardArguments)
        : m_board(boardArguments) {}

    bool start(const QString &caFile) {
        if (!m_board.start()) {
            std::fprintf(stderr, "board: %s\n", qPrintable(m_board.errorString()));
            return false;
        }
        if (!m_bus.start(QStringLiteral(ORVEX_DBUS_DAEMON), QStringLiteral(ORVEX_BENCH_BUS_CONFIG),
                         &m_address))
            return false;
        const QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("bench"));
        QMap<QString, QString> extra;
        if (!caFile.isEmpty())
            extra.insert(QStringLiteral("CURL_CA_BUNDLE"), caFile);
        const bool ready = bus.isConnected() && Orvex::Bench::setActivationEnvironment(
                                                    bus, QString(), m_programFolder.path(), extra);
        QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
        return ready;
    }

    QString endpoint(bool tls) const {
        return m_board.endpointUrl().replace(
            QLatin1StringView("http://"), tls ? QLatin1StringView("https://") : QLatin1StringView("http://"));
    }

    bool configure(bool tls, bool reuse) const {
        const QByteArray ini = "[General]\nImportUrl=" + endpoint(tls).toUtf8() +
                               "\nReuseConnection=" + (reuse ? "1" : "0") + "\n";
        return writeFile(m_programFolder.filePath(QStringLiteral("OrvexKelPostJob.ini")), ini);
    }

    // orvex-postjob post --file: the tool, its server's start and the whole batch.
    bool postBatch(const Batch &batch) const {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        tool.setProcessEnvironment(environment);
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tool.start(QStringLiteral(ORVEX_POSTJOB_EXECUTABLE),
                   {QStringLiteral("post"), QStringLiteral("--file"), batch.listingsFile});
        return tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    }

    qsizetype postingsReceived() const { return m_board.postings().size(); }

    // User and system time of the batch through the tool (every listing posted, --force), the bus and the
    // server the bus starts for it, which has ended before this returns.
    ProcessorTime processorTimeOf(const Batch &batch, bool *allPosted) const {
        reapServers(); // those of earlier measurements, not counted here
        const double toolBefore = childrenProcessorSeconds();
        const BusTimes busBefore = busProcessorSeconds();
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        tool.setProcessEnvironment(environment);
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tool.start(QStringLiteral(ORVEX_POSTJOB_EXECUTABLE),
                   {QStringLiteral("post"), QStringLiteral("--force"), QStringLiteral("--file"),
                    batch.listingsFile});
        *allPosted = tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit &&
                     tool.exitCode() == 0 && *allPosted;
        const double toolAfter = childrenProcessorSeconds();
        // The daemon's helper that starts the server leaves it an orphan, which this process (a subreaper)
        // adopts: its time is counted once it has ended and been reaped here.
        *allPosted = reapServers() && *allPosted;
        for (int wait = 0; wait < 1000 && busHasChildren(); ++wait)
            QThread::msleep(10);
        const BusTimes busAfter = busProcessorSeconds();
        return {toolAfter - toolBefore, busAfter.own - busBefore.own + busAfter.children - busBefore.children,
                childrenProcessorSeconds() - toolAfter};
    }

    bool writeIni(const QByteArray &ini) const {
        return writeFile(m_programFolder.filePath(QStringLiteral("OrvexKelPostJob.ini")), ini);
    }

    // Every listing to every board as PostToBoard calls kept in flight through the bus, the pace left to
    // the server's MaxInFlight: a new call goes out as soon as the oldest is answered, up to the bus's
    // bound on one connection's pending calls. A new object, so the INI file written last holds.
    bool postInFlight(const Batch &batch, const QStringList &boards) const {
        // Below the bus's max_replies_per_connection (128 in the test and default session configurations).
        constexpr std::size_t MaxPendingCalls = 100;
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("inflight"));
        const auto disconnect =
            qScopeGuard([] { QDBusConnection::disconnectFromBus(QStringLiteral("inflight")); });
        const QDBusMessage created = bus.call(QDBusMessage::createMethodCall(
            QLatin1StringView(ServerFixture::ServiceName), QLatin1StringView(ServerFixture::FactoryPath),
            QStringLiteral("OrvexKelPostJob.ClassFactory"), QStringLiteral("CreateInstance")));
        const QString object = created.arguments().value(0).value<QDBusObjectPath>().path();
        if (object.isEmpty()) {
            std::fprintf(stderr, "cannot create an object: %s\n", qPrintable(created.errorMessage()));
            return false;
        }
        bool allPosted = true;
        std::deque<QDBusPendingCall> pending;
        const auto awaitOldest = [&] {
            QDBusPendingCall &call = pending.front();
            call.waitForFinished();
            if (call.isError())
                std::fprintf(stderr, "PostToBoard: %s\n", qPrintable(call.error().message()));
            allPosted =
                !call.isError() && call.reply().arguments().value(0).toString().startsWith(u'S') && allPosted;
            pending.pop_front();
        };
        for (const Orvex::ListingFields &fields : batch.listings) {
            for (const QString &board : boards) {
                if (pending.size() == MaxPendingCalls)
                    awaitOldest();
                QDBusMessage call = QDBusMessage::createMethodCall(
                    QLatin1StringView(ServerFixture::ServiceName), object,
                    QStringLiteral("OrvexKelPostJob.Listing"), QStringLiteral("PostToBoard"));
                call.setArguments({board, QStringLiteral("Add"), QVariant::fromValue(fields)});
                pending.push_back(bus.asyncCall(call, 600000));
            }
        }
        while (!pending.empty())
            awaitOldest();
        return allPosted;
    }

private:
    // The bus daemon's own user and system time (utime, stime) and its ended children's (cutime, cstime),
    // from /proc.
    struct BusTimes {
        double own = 0;
        double children = 0;
    };
    BusTimes busProcessorSeconds() const {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_bus.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return {};
        const QByteArray line = stat.readAll();
        // The fields after the command, which is in parentheses and may hold spaces.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() <= 14)
            return {};
        const double tick = double(sysconf(_SC_CLK_TCK));
        return {(fields.at(11).toDouble() + fields.at(12).toDouble()) / tick,
                (fields.at(13).toDouble() + fields.at(14).toDouble()) / tick};
    }
    // Waits for the adopted servers to end, and reaps them; false when one had not ended within 10 s.
    static bool reapServers() {
        for (int wait = 0; wait < 1000; ++wait) {
            const std::vector<pid_t> servers = adoptedServers();
            if (servers.empty())
                return true;
            for (const pid_t server : servers)
                ::waitpid(server, nullptr, WNOHANG);
            QThread::msleep(10);
        }
        return false;
    }
    static std::vector<pid_t> adoptedServers() {
        std::vector<pid_t> servers;
        const QString tasks = QStringLiteral("/proc/%1/task").arg(::getpid());
        for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile children(tasks + u'/' + task + QStringLiteral("/children"));
            if (!children.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &child : children.readAll().split(' ')) {
                QFile command(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(child.trimmed())));
                if (!child.trimmed().isEmpty() && command.open(QIODevice::ReadOnly) &&
                    command.readAll().trimmed() == "OrvexKelPostJob")
                    servers.push_back(pid_t(child.trimmed().toInt()));
            }
        }
        return servers;
    }
    bool busHasChildren() const {
        const QString tasks = QStringLiteral("/proc/%1/task").arg(m_bus.processId());
        for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile children(tasks + u'/' + task + QStringLiteral("/children"));
            if (children.open(QIODevice::ReadOnly) && !children.readAll().trimmed().isEmpty())
                return true;
        }
        return false;
    }

    BoardProcess m_board;
    Orvex::Bench::PrivateBus m_bus;
    QString m_address;
    QTemporaryDir m_programFolder;
};

// The same documents from one curl process, one connection, as a user would post them; or with up to
// parallel transfers in flight, each on a connection of its own.
bool postWithCurl(const Batch &batch, const QString &endpoint, const QString &caFile, int parallel = 1) {
    QStringList arguments;
    if (parallel > 1)
        arguments << QStringLiteral("--parallel") << QStringLiteral("--parallel-max")
                  << QString::number(parallel) << QStringLiteral("--parallel-immediate");
    for (const QString &document : batch.documentFiles) {
        if (document != batch.documentFiles.first())
            arguments << QStringLiteral("--next");
        arguments << QStringLiteral("-sS") << QStringLiteral("-o") << QStringLiteral("/dev/null")
                  << QStringLiteral("-w") << QStringLiteral("%{http_code}\\n") << QStringLiteral("-H")
                  << QStringLiteral("Content-Type: text/xml; charset=ISO-8859-1") << QStringLiteral("-H")
                  << QStringLiteral("Expect:") << QStringLiteral("--data-binary") << u'@' + document;
        if (!caFile.isEmpty())
            arguments << QStringLiteral("--cacert") << caFile;
        arguments << endpoint;
    }
    QProcess curl;
    curl.start(QStringLiteral("curl"), arguments);
    // Kept back unless curl fails: --next resets -s, so its parallel progress meter would fill the output.
    if (!curl.waitForFinished(-1) || curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0) {
        std::fputs(curl.readAllStandardError().constData(), stderr);
        return false;
    }
    return curl.readAllStandardOutput().count("200\n") == batch.documentFiles.size();
}

struct Point {
    double withoutReuse = 0;
    double withReuse = 0;
    double curl = 0;
    bool allPosted = true;
};

// The three alternately, runs times each, so drift of the shared machine falls on all alike.
Point measure(Deployment &deployment, const Batch &batch, bool tls, const QString &caFile, int runs) {
    Point point;
    std::vector<double> without, with, curl;
    for (int run = 0; run < runs; ++run) {
        for (bool reuse : {false, true}) {
            point.allPosted = deployment.configure(tls, reuse) && point.allPosted;
            const double seconds = Orvex::Bench::secondsOf(
                [&] { point.allPosted = deployment.postBatch(batch) && point.allPosted; });
            (reuse ? with : without).push_back(seconds / Listings);
        }
        curl.push_back(Orvex::Bench::secondsOf([&] {
                           point.allPosted =
                               postWithCurl(batch, deployment.endpoint(tls), caFile) && point.allPosted;
                       }) /
                       Listings);
    }
    point.withoutReuse = Orvex::Bench::median(without);
    point.withReuse = Orvex::Bench::median(with);
    point.curl = Orvex::Bench::median(curl);
    return point;
}

void printPoint(int roundTripMs, bool tls, const Point &point) {
    const char *scheme = tls ? "https" : "http";
    std::printf("%3d ms, %-5s  per listing: ReuseConnection=0 %8.2f ms   =1 %8.2f ms   curl %8.2f ms\n",
                roundTripMs, scheme, point.withoutReuse * 1e3, point.withReuse * 1e3, point.curl * 1e3);
    char name[96];
    std::snprintf(name, sizeof name, "%3d ms, %-5s  batch ReuseConnection=0 / curl", roundTripMs, scheme);
    Orvex::Bench::printRatio(name, point.withoutReuse, point.curl);
    std::snprintf(name, sizeof name, "%3d ms, %-5s  batch ReuseConnection=1 / curl", roundTripMs, scheme);
    if (roundTripMs > 0)
        Orvex::Bench::printRatio(name, point.withReuse, point.curl, ReuseGoal);
    else
        Orvex::Bench::printRatio(name, point.withReuse, point.curl);
    if (!point.allPosted)
        std::printf("  some listings failed at this point\n");
    std::fflush(stdout);
}

struct InFlightPoint {
    double eight = 0;     // one board, MaxInFlight=8
    double one = 0;       // one board, MaxInFlight=1
    double twoBoards = 0; // two boards, MaxInFlight=8 each, every listing to both
    double curl = 0;      // curl --parallel --parallel-max 8
    double shared = 0;    // one board, MaxInFlight=8, the journal on a PostgreSQL server; 0 when none ran
    bool allPosted = true;
};

// The four alternately, runs times each, over http to kept connections.
// sharedJournal: Journal= of a PostgreSQL journal, or empty when no server runs here.
InFlightPoint measureInFlight(Deployment &deployment, const BoardProcess &second, const Batch &batch,
                              int runs, const QString &sharedJournal) {
    const QByteArray general =
        "[General]\nImportUrl=" + deployment.endpoint(false).toUtf8() + "\nReuseConnection=1\n";
    const QByteArray secondBoard = "[Board second]\nImportUrl=" + second.endpointUrl().toUtf8() + "\n";
    const QString defaultBoard = QStringLiteral("default");
    InFlightPoint point;
    std::vector<double> eight, one, twoBoards, curl, shared;
    const auto timed = [&](const QByteArray &ini, const QStringList &boards) {
        point.allPosted = deployment.writeIni(ini) && point.allPosted;
        return Orvex::Bench::secondsOf(
            [&] { point.allPosted = deployment.postInFlight(batch, boards) && point.allPosted; });
    };
    const QByteArray eightInFlight = "MaxInFlight=" + QByteArray::number(InFlight) + "\n";
    for (int run = 0; run < runs; ++run) {
        eight.push_back(timed(general + eightInFlight, {defaultBoard}));
        one.push_back(timed(general + "MaxInFlight=1\n", {defaultBoard}));
        twoBoards.push_back(
            timed(general + eightInFlight + secondBoard, {defaultBoard, QStringLiteral("second")}));
        curl.push_back(Orvex::Bench::secondsOf([&] {
            point.allPosted =
                postWithCurl(batch, deployment.endpoint(false), QString(), InFlight) && point.allPosted;
        }));
        if (!sharedJournal.isEmpty())
            shared.push_back(
                timed(general + eightInFlight + "Journal=" + sharedJournal.toUtf8() + "\n", {defaultBoard}));
    }
    point.shared = shared.empty() ? 0 : Orvex::Bench::median(shared);
    point.eight = Orvex::Bench::median(eight);
    point.one = Orvex::Bench::median(one);
    point.twoBoards = Orvex::Bench::median(twoBoards);
    point.curl = Orvex::Bench::median(curl);
    return point;
}

void printInFlight(int roundTripMs, const InFlightPoint &point) {
    std::printf("%3d ms, http   in flight, per listing: MaxInFlight=8 %7.2f ms   =1 %7.2f ms   two boards "
                "(per listing and board) %7.2f ms   curl --parallel-max 8 %7.2f ms\n",
                roundTripMs, point.eight * 1e3 / Listings, point.one * 1e3 / Listings,
                point.twoBoards * 1e3 / (2 * Listings), point.curl * 1e3 / Listings);
    char name[128];
    const auto named = [&](const char *what) {
        std::snprintf(name, sizeof name, "%3d ms, http   in flight: %s", roundTripMs, what);
        return name;
    };
    if (roundTripMs > 0) {
        Orvex::Bench::printRatio(named("MaxInFlight=8 / curl --parallel --parallel-max 8"), point.eight,
                                 point.curl, InFlightCurlGoal);
        Orvex::Bench::printRatioAtLeast(named("MaxInFlight=1 / MaxInFlight=8"), point.one, point.eight,
                                        InFlightSpeedUpGoal);
        Orvex::Bench::printRatio(named("two boards / one board, MaxInFlight=8"), point.twoBoards, point.eight,
                                 TwoBoardsGoal);
        if (point.shared > 0)
            Orvex::Bench::printRatio(named("MaxInFlight=8, PostgreSQL journal / SQLite journal"),
                                     point.shared, point.eight, SharedJournalGoal);
    } else {
        Orvex::Bench::printRatio(named("MaxInFlight=8 / MaxInFlight=1"), point.eight, point.one,
                                 NearBoardGoal);
        Orvex::Bench::printRatio(named("MaxInFlight=8 / curl --parallel --parallel-max 8"), point.eight,
                                 point.curl);
    }
    if (!point.allPosted)
        std::printf("  some listings failed at this point\n");
    std::fflush(stdout);
}

// On the near board, MaxInFlight=8: the processor time per listing of the tool, the bus and the server
// together against curl's for the same bodies, medians of runs.
bool benchmarkProcessorTime(const Batch &batch, int runs) {
    Deployment deployment({});
    if (!deployment.start(QString()) ||
        !deployment.writeIni("[General]\nImportUrl=" + deployment.endpoint(false).toUtf8() +
                             "\nReuseConnection=1\nMaxInFlight=" + QByteArray::number(InFlight) + "\n"))
        return false;
    bool allPosted = true;
    std::vector<double> ours, tool, bus, server, curl;
    for (int run = 0; run < runs; ++run) {
        const ProcessorTime time = deployment.processorTimeOf(batch, &allPosted);
        ours.push_back(time.total());
        tool.push_back(time.tool);
        bus.push_back(time.bus);
        server.push_back(time.server);
        const double before = childrenProcessorSeconds();
        allPosted = postWithCurl(batch, deployment.endpoint(false), QString(), InFlight) && allPosted;
        curl.push_back(childrenProcessorSeconds() - before);
    }
    const auto perListing = [](std::vector<double> seconds) {
        return Orvex::Bench::median(std::move(seconds)) * 1e3 / CpuListings;
    };
    const double oursPerListing = perListing(ours);
    const double curlPerListing = perListing(curl);
    std::printf(
        "  0 ms, http   in flight, CPU per listing of %d: tool + bus + server %.3f ms (tool %.3f, bus "
        "%.3f, server %.3f)   curl --parallel-max 8 %.3f ms\n",
        CpuListings, oursPerListing, perListing(tool), perListing(bus), perListing(server), curlPerListing);
    Orvex::Bench::printRatio(
        "  0 ms, http   in flight: CPU per listing, tool + bus + server / curl --parallel "
        "--parallel-max 8",
        oursPerListing, curlPerListing, CpuGoal);
    if (!allPosted)
        std::printf("  some listings failed at this point\n");
    return allPosted;
}

void printLoad(const char *when) {
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
    std::fflush(stdout);
}

// What a deployment trusts: the system's bundle, with the test authority that vouches for the board.
bool writeCaBundle(const QString &path, const TestCertificates &certificates) {
    QFile system(QStringLiteral("/etc/ssl/certs/ca-certificates.crt"));
    QFile authority(certificates.authorityFile());
    if (!authority.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bundle =
        (system.open(QIODevice::ReadOnly) ? system.readAll() : QByteArray()) + '\n' + authority.readAll();
    return writeFile(path, bundle);
}

// Listings in flight at each distance, over http to a keep-alive board (and a second one like it).
bool benchmarkInFlight(const Batch &batch, int runs) {
    bool allPosted = true;
    // One journal database for every run: each run posts the same listings again, as a rerun with --force.
    PostgresServer postgres;
    QString sharedJournal;
    if (const QString why = PostgresServer::unavailableReason(); !why.isEmpty())
        std::printf("no PostgreSQL journal point: %s\n", qPrintable(why));
    else if (!postgres.start() || !postgres.createDatabase(QStringLiteral("journal")))
        std::printf("no PostgreSQL journal point: %s\n", qPrintable(postgres.errorString()));
    else
        sharedJournal = postgres.uri(QStringLiteral("journal"));
    for (int roundTripMs : InFlightRoundTripsMs) {
        DelayLine delayLine;
        if (roundTripMs > 0 && !delayLine.start(roundTripMs)) {
            std::fprintf(stderr, "bench_latency: cannot start the delay line\n");
            return false;
        }
        Deployment deployment({});
        BoardProcess second;
        if (!deployment.start(QString()) || !second.start())
            return false;
        const InFlightPoint point = measureInFlight(deployment, second, batch, runs, sharedJournal);
        allPosted = point.allPosted && allPosted;
        printInFlight(roundTripMs, point);
    }
    return allPosted;
}

// What a run measures: everything, the listings in flight (with the processor time), or the processor
// time alone.
enum class Scope { All, InFlightOnly, CpuOnly };

int benchmarkInside(int argc, char *argv[], int runs, Scope scope) {
    QCoreApplication app(argc, argv);
    // The servers the bus starts are orphaned by its helper: adopted here, their processor time can be
    // counted.
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        std::fprintf(stderr, "bench_latency: cannot adopt the servers the bus starts\n");
        return 1;
    }
    if (!runQuietly(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("set"),
                                           QStringLiteral("lo"), QStringLiteral("up")})) {
        std::fprintf(stderr, "bench_latency: cannot bring up the namespace's loopback\n");
        return 1;
    }
    QTemporaryDir folder;
    Batch batch;
    TestCertificates certificates;
    const QString caFile = folder.filePath(QStringLiteral("ca-bundle.pem"));
    if (!folder.isValid() || !writeBatch(folder.path(), &batch) || !certificates.create() ||
        !writeCaBundle(caFile, certificates)) {
        std::fprintf(stderr, "bench_latency: cannot prepare the batch or the certificates: %s\n",
                     qPrintable(certificates.errorString()));
        return 1;
    }
    std::printf("%d listings of %d fields, medians of %d runs; https trusts the system's CA bundle\n",
                Listings, FieldCount, runs);
    printLoad("before");

    Orvex::registerListingFieldsType();
    bool allPosted = scope == Scope::CpuOnly || benchmarkInFlight(batch, runs);
    QTemporaryDir cpuFolder;
    Batch cpuBatch;
    if (!cpuFolder.isValid() || !writeBatch(cpuFolder.path(), &cpuBatch, CpuListings))
        return 1;
    allPosted = benchmarkProcessorTime(cpuBatch, runs) && allPosted;
    printLoad("after listings in flight");
    for (int roundTripMs : scope != Scope::All
                               ? std::vector<int>{}
                               : std::vector<int>(std::begin(RoundTripsMs), std::end(RoundTripsMs))) {
        DelayLine delayLine;
        if (roundTripMs > 0 && !delayLine.start(roundTripMs)) {
            std::fprintf(stderr, "bench_latency: cannot start the delay line\n");
            return 1;
        }
        for (bool tls : {false, true}) {
            const QString trusted = tls ? caFile : QString();
            Deployment deployment(tls ? certificates.boardArguments(TestCertificates::Board::Vouched)
                                      : QStringList{});
            if (!deployment.start(trusted))
                return 1;
            const Point point = measure(deployment, batch, tls, trusted, runs);
            allPosted = point.allPosted && allPosted;
            printPoint(roundTripMs, tls, point);
        }
    }
    printLoad("after");
    return allPosted ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : DefaultRuns;
    const std::string scopeOption = argc > 2 ? argv[2] : "";
    const Scope scope = scopeOption == "--in-flight-only" ? Scope::InFlightOnly
                        : scopeOption == "--cpu-only"     ? Scope::CpuOnly
                                                          : Scope::All;
    if (geteuid() != 0) {
        std::printf("bench_latency: skipped: it needs root, to make a network namespace with a delay line "
                    "(iptables, netfilter queue)\n");
        return 0;
    }
    const std::string name = "orvex-bench-" + std::to_string(getpid());
    if (runCommand({"ip", "netns", "add", name}) != 0) {
        std::printf("bench_latency: skipped: cannot make a network namespace (ip netns add)\n");
        return 0;
    }

    // This process only supervises: whatever ends the benchmark (its end, a crash, Ctrl-C, SIGTERM), the
    // namespace goes afterwards.
    benchmarkProcess = fork();
    if (benchmarkProcess == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (!enterNamespace(name)) {
            std::fprintf(stderr, "bench_latency: cannot enter the namespace %s\n", name.c_str());
            _exit(1);
        }
        _exit(benchmarkInside(argc, argv, runs, scope));
    }
    std::signal(SIGINT, SIG_IGN); // the terminal's Ctrl-C reaches the benchmark itself
    std::signal(SIGTERM, forwardStop);
    std::signal(SIGHUP, forwardStop);
    int status = 1;
    while (benchmarkProcess > 0 && waitpid(benchmarkProcess, &status, 0) < 0 && errno == EINTR) {
    }
    removeNamespace(name);
    if (benchmarkProcess < 0)
        return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
