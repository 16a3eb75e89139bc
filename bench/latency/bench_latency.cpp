// Postings to a distant board: a batch of listings through orvex-postjob, with and without
// ReuseConnection, against one curl process posting the same documents over one connection (what any user
// can run), for round trips of 0, 20 and 80 ms, over http and https, in one run. Prints per-listing medians
// and the ratios.
//
// The distance is made on the loopback of a network namespace of its own: a delay line (bench_delayline,
// on a netfilter queue filled from PREROUTING) holds every packet for half the round trip. The board, a
// private bus, the server it starts, the tool and curl all run inside that namespace. Needs root (it says
// so and skips otherwise); the namespace, and with it its rules, is removed on every exit, Ctrl-C included.
//
//     bench_latency [RUNS]      (default 3)

#include "benchharness.h"
#include "benchposting.h"
#include "boardprocess.h"
#include "privatebus.h"
#include "testcertificates.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/prctl.h>
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
};

bool writeFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool writeBatch(const QString &folder, Batch *batch) {
    const Orvex::Bench::Fields fields = Orvex::Bench::benchListing(FieldCount);
    QJsonArray listings;
    for (int i = 0; i < Listings; ++i) {
        Orvex::Bench::Fields listing = fields;
        listing.front().second = QStringLiteral("J-%1").arg(i + 1);
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

private:
    BoardProcess m_board;
    Orvex::Bench::PrivateBus m_bus;
    QString m_address;
    QTemporaryDir m_programFolder;
};

// The same documents from one curl process, one connection, as a user would post them.
bool postWithCurl(const Batch &batch, const QString &endpoint, const QString &caFile) {
    QStringList arguments;
    for (const QString &document : batch.documentFiles) {
        if (!arguments.isEmpty())
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
    curl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    curl.start(QStringLiteral("curl"), arguments);
    if (!curl.waitForFinished(-1) || curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0)
        return false;
    return curl.readAllStandardOutput().count("200\n") == Listings;
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

int benchmarkInside(int argc, char *argv[], int runs) {
    QCoreApplication app(argc, argv);
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

    bool allPosted = true;
    for (int roundTripMs : RoundTripsMs) {
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
        _exit(benchmarkInside(argc, argv, runs));
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
