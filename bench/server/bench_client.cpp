// A 20-field listing posted through the bus with the client library against a raw libcurl POST of the
// same bytes to the same board, a batch of listings through orvex-postjob against a loop of raw POSTs
// of the same documents, one cold posting of a fresh orvex-postjob (without a bus, and on a bus whose
// server is not running) against one curl of the same document, and another client's WriteLog round trip
// while the server is busy against the same on an idle server, in one run. The bus is a private one whose
// server is this build tree's, started on demand. Prints medians and the ratios.

#include "benchposting.h"
#include "boardprocess.h"
#include "listingfields.h"
#include "privatebus.h"
#include "remotepostjob.h"
#include "serverfixture.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int Runs = 300;
constexpr int FieldCount = 20;
constexpr int BatchListings = 1000;
// Each batch run starts the tool and a server; a few runs give a steady median.
constexpr int BatchRuns = 5;
// A fresh tool per run; the median of a few dozen is steady.
constexpr int ColdRuns = 21;
// Another client's round trips, idle and while the server is busy.
constexpr int RoundTrips = 50;
constexpr int PostingsInFlight = 8;
constexpr qsizetype HugeFieldCharacters = 100 * 1024 * 1024;
constexpr char HugeFieldMode[] = "--send-huge-field";
// Only the cold postings, for timing start-up work on its own.
constexpr char ColdOnlyOption[] = "--cold-only";

QString createObject(const QDBusConnection &bus) {
    const QDBusMessage created = bus.call(QDBusMessage::createMethodCall(
        QLatin1StringView(ServerFixture::ServiceName), QLatin1StringView(ServerFixture::FactoryPath),
        QStringLiteral("OrvexKelPostJob.ClassFactory"), QStringLiteral("CreateInstance")));
    return created.arguments().value(0).value<QDBusObjectPath>().path();
}

QDBusMessage objectCall(const QString &object, const QString &interface, const QString &member,
                        const QVariantList &arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1StringView(ServerFixture::ServiceName), object,
                                                       interface, member);
    call.setArguments(arguments);
    return call;
}

// The busy client of its own process: one Field call with a 100 MiB value, however the server takes it.
int sendHugeField(const QString &busAddress) {
    const QDBusConnection bus = QDBusConnection::connectToBus(busAddress, QStringLiteral("huge"));
    const QString object = createObject(bus);
    if (object.isEmpty())
        return 1;
    const QDBusMessage field =
        objectCall(object, QStringLiteral("OrvexKelPostJob._PostJob"), QStringLiteral("Field"),
                   {QStringLiteral("Description"), QString(HugeFieldCharacters, u'x')});
    bus.call(field, QDBus::Block, 600000);
    return 0;
}

// The median of another client's WriteLog round trips, taken while busy() holds, RoundTrips at most.
double medianRoundTrip(const QDBusConnection &bus, const QString &object, const std::function<bool()> &busy) {
    const QDBusMessage writeLog = objectCall(object, QStringLiteral("OrvexKelPostJob._PostJob"),
                                             QStringLiteral("WriteLog"), {QStringLiteral("Round trip")});
    std::vector<double> seconds;
    while (int(seconds.size()) < RoundTrips && busy())
        seconds.push_back(Orvex::Bench::secondsOf([&] { bus.call(writeLog); }));
    return seconds.empty() ? 0 : Orvex::Bench::median(std::move(seconds));
}

// What a busy client costs the others: 8 postings the board holds, or a 100 MiB Field on its way in.
int timeOtherClients(const QString &busAddress, const QString &programFolder, const char *self) {
    const QString ini = programFolder + QStringLiteral("/OrvexKelPostJob.ini");
    QFile file(ini);
    if (!file.open(QIODevice::WriteOnly) || file.write("[General]\nMaxInFlight=8\n") < 0)
        return 1;
    file.close();
    const QDBusConnection other = QDBusConnection::connectToBus(busAddress, QStringLiteral("other"));
    const QDBusConnection busy = QDBusConnection::connectToBus(busAddress, QStringLiteral("busy"));
    const QString otherObject = createObject(other);
    const QString busyObject = createObject(busy);
    if (otherObject.isEmpty() || busyObject.isEmpty())
        return 1;
    Orvex::registerListingFieldsType();
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    const double idle = medianRoundTrip(other, otherObject, [] { return true; });

    std::vector<QDBusPendingCall> postings;
    for (int i = 0; i < PostingsInFlight; ++i) {
        const Orvex::ListingFields fields{{QStringLiteral("JobCode"), QStringLiteral("Held-%1").arg(i)},
                                          {QStringLiteral("BoardFault"), QStringLiteral("delay:4000")}};
        postings.push_back(busy.asyncCall(
            objectCall(busyObject, QStringLiteral("OrvexKelPostJob.Listing"), QStringLiteral("PostToBoard"),
                       {QString(), QStringLiteral("Add"), QVariant::fromValue(fields)}),
            600000));
    }
    const double whilePosting = medianRoundTrip(other, otherObject, [&] {
        return std::any_of(postings.begin(), postings.end(),
                           [](const QDBusPendingCall &call) { return !call.isFinished(); });
    });
    for (QDBusPendingCall &posting : postings)
        posting.waitForFinished();

    QProcess sender;
    sender.setProcessChannelMode(QProcess::ForwardedChannels);
    sender.start(QString::fromLocal8Bit(self), {QString::fromLatin1(HugeFieldMode), busAddress});
    if (!sender.waitForStarted())
        return 1;
    const double whileHuge =
        medianRoundTrip(other, otherObject, [&] { return sender.state() != QProcess::NotRunning; });
    sender.waitForFinished(-1);

    Orvex::Bench::printMedian("another client's WriteLog round trip, idle server", idle);
    Orvex::Bench::printMedian("the same while 8 postings are in flight", whilePosting);
    Orvex::Bench::printMedian("the same while a client sends a 100 MiB Field", whileHuge);
    Orvex::Bench::printRatio("WriteLog round trip while 8 postings are in flight / idle", whilePosting, idle,
                             5);
    Orvex::Bench::printRatio("WriteLog round trip while a client sends a 100 MiB Field / idle", whileHuge,
                             idle, 5);
    QFile::remove(ini);
    return 0;
}

// The batch: the bench listing under distinct job codes, as a listings file and as the documents on the wire.
struct Batch {
    QByteArray json;
    std::vector<QByteArray> wires;
};

Batch batchOf(const Orvex::Bench::Fields &fields, int count) {
    Batch batch;
    QJsonArray listings;
    for (int i = 0; i < count; ++i) {
        Orvex::Bench::Fields listing = fields;
        listing.front().second = QStringLiteral("J-%1").arg(i + 1);
        QJsonArray pairs;
        for (const auto &[name, value] : listing)
            pairs.append(QJsonArray{name, value});
        listings.append(QJsonObject{{QStringLiteral("action"), QStringLiteral("Add")},
                                    {QStringLiteral("fields"), pairs}});
        batch.wires.push_back(Orvex::Bench::wireBytes(listing));
    }
    batch.json = QJsonDocument(listings).toJson(QJsonDocument::Compact);
    return batch;
}

// Runs "orvex-postjob post --file" on the private bus, every run posting every listing (--force: the
// runs before it got "S" for the same job codes); true when every listing got "S".
bool runTool(const QString &listingsFile, const QString &busAddress) {
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    tool.setProcessEnvironment(environment);
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QStringLiteral(ORVEX_POSTJOB_EXECUTABLE),
               {QStringLiteral("post"), QStringLiteral("--force"), QStringLiteral("--file"), listingsFile});
    return tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

// The floor, one bus round trip to the object, and the listing sent the type library's way, a call per
// field, for comparison with the one call that Action makes.
void timeWhereTheTimeGoes(const QDBusConnection &bus, const Orvex::RemotePostJob &job,
                          const Orvex::Bench::Fields &fields) {
    auto call = [&](const QString &interface, const QString &member, const QVariantList &arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(job.serverName(), job.objectPath(), interface, member);
        message.setArguments(arguments);
        return message;
    };
    const QString postJob = QStringLiteral("OrvexKelPostJob._PostJob");
    const QDBusMessage queryInterface =
        call(QStringLiteral("OrvexKelPostJob.IUnknown"), QStringLiteral("QueryInterface"),
             {QStringLiteral("{00000000-0000-0000-C000-000000000046}")});
    std::vector<QDBusMessage> fieldCalls;
    for (const auto &[name, value] : fields)
        fieldCalls.push_back(call(postJob, QStringLiteral("Field"), {name, value}));
    const QDBusMessage action = call(postJob, QStringLiteral("Action"), {QStringLiteral("Add")});

    const auto [roundTripSeconds, callPerFieldSeconds] =
        Orvex::Bench::alternateMedians([&] { bus.call(queryInterface); },
                                       [&] {
                                           std::vector<QDBusPendingCall> pending;
                                           for (const QDBusMessage &field : fieldCalls)
                                               pending.push_back(bus.asyncCall(field));
                                           bus.call(action);
                                           for (QDBusPendingCall &field : pending)
                                               field.waitForFinished();
                                       },
                                       Runs);
    Orvex::Bench::printMedian("  one bus round trip (QueryInterface)", roundTripSeconds);
    Orvex::Bench::printMedian("  the same listing as 20 pipelined Field calls and Action",
                              callPerFieldSeconds);
}

int timeOneListing(const QDBusConnection &bus, const Orvex::Bench::Fields &fields,
                   const QByteArray &endpoint) {
    try {
        Orvex::RemotePostJob job(QString::fromLatin1(Orvex::Identity::ProgId), bus);
        const auto [busSeconds, rawPostSeconds, allPosted] = Orvex::Bench::timeListingAgainstRawPost(
            job, fields, endpoint, Orvex::Bench::wireBytes(fields), Runs);
        Orvex::Bench::printMedian("client library over the bus, 20 fields + Action", busSeconds);
        Orvex::Bench::printMedian("raw libcurl POST, same bytes", rawPostSeconds);
        Orvex::Bench::printRatio("bus listing / raw POST", busSeconds, rawPostSeconds, 1.5);
        timeWhereTheTimeGoes(bus, job, fields);
        return allPosted ? 0 : 1;
    } catch (const Orvex::AutomationError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}

int timeBatch(const QString &busAddress, const Orvex::Bench::Fields &fields, const QByteArray &endpoint) {
    const Batch batch = batchOf(fields, BatchListings);
    QTemporaryDir folder;
    const QString listingsFile = folder.filePath(QStringLiteral("listings.json"));
    QFile file(listingsFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(batch.json) != batch.json.size())
        return 1;
    file.close();

    bool allPosted = true;
    const auto [toolSeconds, rawSeconds] =
        Orvex::Bench::alternateMedians([&] { allPosted = runTool(listingsFile, busAddress) && allPosted; },
                                       [&] {
                                           for (const QByteArray &wire : batch.wires)
                                               allPosted =
                                                   Orvex::Bench::rawCurlPost(endpoint, wire) && allPosted;
                                       },
                                       BatchRuns);
    Orvex::Bench::printMedian("orvex-postjob post --file, 1000 listings (tool and server start included)",
                              toolSeconds);
    Orvex::Bench::printMedian("raw libcurl POSTs of the same 1000 documents", rawSeconds);
    Orvex::Bench::printRatio("orvex-postjob batch / raw POSTs", toolSeconds, rawSeconds);
    if (!allPosted)
        std::fprintf(stderr, "some postings failed\n");
    return allPosted ? 0 : 1;
}

// One cold posting as a cron job or a shell makes it: a fresh tool for one listing, against one curl of the
// same document. Where no session bus answers the tool posts in its own process; on a bus it starts the
// server, which is not running before each run.
class ColdPosting {
public:
    ColdPosting(const QDBusConnection &bus, const QString &busAddress, const QString &programFolder,
                const QString &proxyUrl)
        : m_bus(bus) {
        // A home of its own, where the scratch server is registered as a user registers one.
        const QString services = m_home.filePath(QStringLiteral("data/dbus-1/services"));
        QDir().mkpath(services);
        QDir().mkpath(m_home.filePath(QStringLiteral("runtime")));
        QFile service(services + QStringLiteral("/OrvexKelPostJob.PostJob.service"));
        m_ready = service.open(QIODevice::WriteOnly) &&
                  service.write("[D-BUS Service]\nName=OrvexKelPostJob.PostJob\nExec=" +
                                QFile::encodeName(programFolder) + "/OrvexKelPostJob\n") > 0;
        m_withoutBus = QProcessEnvironment::systemEnvironment();
        m_withoutBus.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        m_withoutBus.insert(QStringLiteral("HOME"), m_home.path());
        m_withoutBus.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        m_withoutBus.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        m_withoutBus.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral("state")));
        m_withoutBus.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
        m_withoutBus.insert(QStringLiteral("http_proxy"), proxyUrl);
        m_withoutBus.insert(QStringLiteral("no_proxy"), QString());
        m_withoutBus.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("orvex.*.debug=false"));
        m_onBus = m_withoutBus;
        m_onBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    }

    bool isReady() const { return m_ready; }

    // A fresh tool posting fields under a job code of its own; true for "S".
    bool post(const Orvex::Bench::Fields &fields, bool onBus) {
        QStringList arguments{QStringLiteral("post"), QStringLiteral("--action"), QStringLiteral("Add")};
        for (const auto &[name, value] : fields)
            arguments << QStringLiteral("--field")
                      << name + u'=' +
                             (name == u"JobCode" ? QStringLiteral("C-%1").arg(++m_postings) : value);
        QProcess tool;
        tool.setProcessEnvironment(onBus ? m_onBus : m_withoutBus);
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tool.start(QStringLiteral(ORVEX_POSTJOB_EXECUTABLE), arguments);
        return tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    }

    // Until the server the last run started has ended, so the next finds none running.
    void waitUntilServerGone() {
        while (m_bus.interface()->isServiceRegistered(QLatin1StringView(ServerFixture::ServiceName)).value())
            QThread::msleep(2);
    }

private:
    QDBusConnection m_bus;
    QTemporaryDir m_home;
    QProcessEnvironment m_withoutBus;
    QProcessEnvironment m_onBus;
    int m_postings = 0;
    bool m_ready = false;
};

// One curl of the document the tool posts, as a shell script would send it.
bool curlOnce(const QString &document, const QByteArray &endpoint) {
    QProcess curl;
    curl.setStandardOutputFile(QProcess::nullDevice());
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-sf"), QStringLiteral("-H"),
                QStringLiteral("Content-Type: text/xml; charset=ISO-8859-1"), QStringLiteral("-H"),
                QStringLiteral("Expect:"), QStringLiteral("--data-binary"), u'@' + document,
                QString::fromUtf8(endpoint)});
    return curl.waitForFinished(-1) && curl.exitStatus() == QProcess::NormalExit && curl.exitCode() == 0;
}

// The load average over the last minute, which the cold lines carry: a start-up is what load slows most.
QByteArray loadNote() {
    double load[1] = {};
    return getloadavg(load, 1) == 1 ? QByteArray::number(load[0], 'f', 2) : QByteArrayLiteral("?");
}

int timeColdPostings(const QDBusConnection &bus, const QString &busAddress, const QString &programFolder,
                     const QString &proxyUrl, const Orvex::Bench::Fields &fields,
                     const QByteArray &endpoint) {
    ColdPosting cold(bus, busAddress, programFolder, proxyUrl);
    QTemporaryDir folder;
    const QString document = folder.filePath(QStringLiteral("listing.xml"));
    QFile file(document);
    const QByteArray wire = Orvex::Bench::wireBytes(fields);
    if (!cold.isReady() || !file.open(QIODevice::WriteOnly) || file.write(wire) != wire.size())
        return 1;
    file.close();
    bool allPosted = true;
    const auto curlRun = [&] { allPosted = curlOnce(document, endpoint) && allPosted; };
    for (const bool onBus : {false, true}) {
        std::vector<double> toolRuns;
        std::vector<double> curlRuns;
        // The first of each is a warm-up; the server a run started has ended before the next, untimed.
        for (int run = 0; run <= ColdRuns; ++run) {
            if (onBus)
                cold.waitUntilServerGone();
            const double toolSeconds =
                Orvex::Bench::secondsOf([&] { allPosted = cold.post(fields, onBus) && allPosted; });
            const double curlSeconds = Orvex::Bench::secondsOf(curlRun);
            if (run > 0) {
                toolRuns.push_back(toolSeconds);
                curlRuns.push_back(curlSeconds);
            }
        }
        const double toolSeconds = Orvex::Bench::median(std::move(toolRuns));
        const double curlSeconds = Orvex::Bench::median(std::move(curlRuns));
        const QByteArray line =
            (onBus ? "orvex-postjob post, cold, on a session bus without the server running / one curl (load "
                   : "orvex-postjob post, cold, no session bus / one curl of the same document (load ") +
            loadNote() + ")";
        Orvex::Bench::printMedian(onBus ? "orvex-postjob post, one listing, server started by the bus"
                                        : "orvex-postjob post, one listing, in its own process",
                                  toolSeconds);
        Orvex::Bench::printMedian("curl, the same document", curlSeconds);
        Orvex::Bench::printRatio(line.constData(), toolSeconds, curlSeconds, onBus ? 2 : 1.5);
    }
    if (!allPosted)
        std::fprintf(stderr, "some cold postings failed\n");
    return allPosted ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], HugeFieldMode) == 0)
        return sendHugeField(QString::fromLocal8Bit(argv[2]));
    QLoggingCategory::setFilterRules(QStringLiteral("orvex.*.debug=false"));
    Orvex::Bench::keepFreedMemory();

    BoardProcess board;
    if (!board.start()) {
        std::fprintf(stderr, "board: %s\n", qPrintable(board.errorString()));
        return 1;
    }
    Orvex::Bench::PrivateBus privateBus;
    QString address;
    int status = 0;
    if (!privateBus.start(QStringLiteral(ORVEX_DBUS_DAEMON), QStringLiteral(ORVEX_BENCH_BUS_CONFIG),
                          &address))
        return 1;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("bench"));
        QTemporaryDir programFolder;
        if (!bus.isConnected() ||
            !Orvex::Bench::setActivationEnvironment(bus, board.proxyUrl(), programFolder.path()))
            return 1;
        curl_global_init(CURL_GLOBAL_DEFAULT);
        const Orvex::Bench::Fields fields = Orvex::Bench::benchListing(FieldCount);
        const QByteArray endpoint = board.endpointUrl().toUtf8();
        const bool coldOnly = argc == 2 && std::strcmp(argv[1], ColdOnlyOption) == 0;
        // The listing's object is released, and its server ended, before the batches start their own.
        if (!coldOnly)
            status = timeOneListing(bus, fields, endpoint);
        if (status == 0 && !coldOnly)
            status = timeBatch(address, fields, endpoint);
        if (status == 0)
            status = timeColdPostings(bus, address, programFolder.path(), board.proxyUrl(), fields, endpoint);
        if (status == 0 && !coldOnly)
            status = timeOtherClients(address, programFolder.path(), argv[0]);
        curl_global_cleanup();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
    return status;
}
