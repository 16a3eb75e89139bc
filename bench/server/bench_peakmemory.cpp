// Peak memory of one large listing: 64 fields of nearly 1 MiB each (a document of about 64 MiB, the most
// one listing may hold) go through the bus into the real server and to the reference board. Prints the
// server's peak resident size above its resident size just before the listing, as a ratio to the size of
// the document on the wire: sent Field by Field, with the debug copy too, and as the client library sends
// it, the whole listing in one call. The numbers are printed, not judged.

#include "benchposting.h"
#include "boardprocess.h"
#include "identity.h"
#include "privatebus.h"
#include "processstatus.h"
#include "remotepostjob.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int LargeFields = 64;
// Each element stays under 1 MiB, so the whole listing fits the server's bound on one listing.
constexpr qsizetype LargeValueLength = 1000 * 1000;
constexpr double GoalRatio = 4;
constexpr double KiBPerMiB = 1024;

// Mostly plain text, with characters that are escaped or become character references on the wire.
Orvex::Bench::Fields largeListing() {
    Orvex::Bench::Fields fields{{QStringLiteral("JobCode"), QStringLiteral("BIG-1")}};
    const QString head = QStringLiteral("R&D <lead> caf\u00e9 \u20ac ");
    for (int i = 1; i <= LargeFields; ++i)
        fields.emplace_back(QStringLiteral("Field%1").arg(i),
                            head + QString(LargeValueLength - head.size(), u'x'));
    return fields;
}

enum class Sending { FieldByField, OneCall };

// The object's own Field and Action members, one bus call each, as a scripting client uses them.
bool postFieldByField(const QDBusConnection &bus, Orvex::RemotePostJob &job,
                      const Orvex::Bench::Fields &fields) {
    const auto call = [&](const QString &member, const QVariantList &arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(job.serverName(), job.objectPath(),
                                           QString::fromLatin1(Orvex::Identity::PostJobInterface), member);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, -1);
    };
    for (const auto &[name, value] : fields) {
        if (call(QStringLiteral("Field"), {name, value}).type() != QDBusMessage::ReplyMessage)
            return false;
    }
    const QDBusMessage reply = call(QStringLiteral("Action"), {QStringLiteral("Add")});
    return reply.type() == QDBusMessage::ReplyMessage &&
           reply.arguments().value(0).toString().startsWith(u'S');
}

bool post(const QDBusConnection &bus, Orvex::RemotePostJob &job, const Orvex::Bench::Fields &fields,
          Sending sending) {
    if (sending == Sending::FieldByField)
        return postFieldByField(bus, job, fields);
    for (const auto &[name, value] : fields)
        job.Field(name, value);
    return job.Action(QStringLiteral("Add")).startsWith(u'S');
}

struct Peak {
    qint64 baselineKiB = -1;
    qint64 peakKiB = -1;
};

// The server's resident size once a small listing has warmed it up, and its peak over the large one.
Peak peakOfLargeListing(const QDBusConnection &bus, Orvex::RemotePostJob &job,
                        const Orvex::Bench::Fields &fields, Sending sending) {
    const uint pid = bus.interface()->servicePid(job.serverName()).value();
    Peak peak;
    if (!post(bus, job, Orvex::Bench::benchListing(20), sending) || !Orvex::Bench::resetPeakResident(pid)) {
        std::fprintf(stderr, "cannot warm up the server or reset its peak\n");
        return peak;
    }
    peak.baselineKiB = Orvex::Bench::statusKiB(pid, "VmRSS");
    if (!post(bus, job, fields, sending))
        std::fprintf(stderr, "the large listing was not confirmed\n");
    peak.peakKiB = Orvex::Bench::statusKiB(pid, "VmHWM");
    return peak;
}

void printPeak(const char *name, const Peak &peak, qint64 documentBytes) {
    const double aboveKiB = double(peak.peakKiB - peak.baselineKiB);
    std::printf("%s: baseline %.1f MiB, peak %.1f MiB, %.1f MiB above it for a %.1f MiB document\n", name,
                double(peak.baselineKiB) / KiBPerMiB, double(peak.peakKiB) / KiBPerMiB, aboveKiB / KiBPerMiB,
                double(documentBytes) / (KiBPerMiB * KiBPerMiB));
    Orvex::Bench::printRatio(name, aboveKiB * 1024, double(documentBytes), GoalRatio);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvex.*.debug=false"));

    BoardProcess board;
    if (!board.start()) {
        std::fprintf(stderr, "board: %s\n", qPrintable(board.errorString()));
        return 1;
    }
    Orvex::Bench::PrivateBus privateBus;
    QString address;
    if (!privateBus.start(QStringLiteral(ORVEX_DBUS_DAEMON), QStringLiteral(ORVEX_BENCH_BUS_CONFIG),
                          &address))
        return 1;
    const Orvex::Bench::Fields fields = largeListing();
    const qint64 documentBytes = Orvex::Bench::wireBytes(fields).size();
    int status = 0;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("peakmemory"));
        QTemporaryDir programFolder;
        QTemporaryDir home;
        const QMap<QString, QString> homeFolders{
            {QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config"))},
            {QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral("state"))}};
        if (!bus.isConnected() ||
            !Orvex::Bench::setActivationEnvironment(bus, board.proxyUrl(), programFolder.path(), homeFolders))
            return 1;
        const QString progId = QString::fromLatin1(Orvex::Identity::ProgId);
        try {
            {
                Orvex::RemotePostJob job(progId, bus);
                printPeak("Field by Field: server peak above baseline / document",
                          peakOfLargeListing(bus, job, fields, Sending::FieldByField), documentBytes);
                printPeak("whole listing in one call (client library)",
                          peakOfLargeListing(bus, job, fields, Sending::OneCall), documentBytes);
            }
            // Read at creation: the next server the bus starts keeps a debug copy of every posting.
            QFile ini(QDir(programFolder.path()).filePath(QStringLiteral("OrvexKelPostJob.ini")));
            if (!ini.open(QIODevice::WriteOnly) || ini.write("[General]\nDebugMode=1\n") < 0)
                return 1;
            ini.close();
            Orvex::RemotePostJob job(progId, bus);
            printPeak("Field by Field with the debug copy",
                      peakOfLargeListing(bus, job, fields, Sending::FieldByField), documentBytes);
        } catch (const Orvex::AutomationError &error) {
            std::fprintf(stderr, "%s\n", error.what());
            status = 1;
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("peakmemory"));
    return status;
}
