// Soak: 10,000 listings posted through the bus on one object to the reference board. Prints the server's
// resident memory (VmRSS) and its open descriptors after the first 100 listings and after the last, so a
// leak per posting shows as growth. The goal is under 1 MiB of growth and no new descriptors; the numbers
// are printed, not judged.

#include "boardprocess.h"
#include "identity.h"
#include "privatebus.h"
#include "processstatus.h"
#include "remotepostjob.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int Listings = 10000;
constexpr int WarmUpListings = 100;
constexpr qint64 GoalGrowthKiB = 1024;

struct ProcessUsage {
    qint64 residentKiB = -1;
    qsizetype descriptors = -1;
};

ProcessUsage usageOf(uint pid) {
    ProcessUsage usage;
    usage.residentKiB = Orvex::Bench::statusKiB(pid, "VmRSS");
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(pid));
    if (descriptors.exists())
        usage.descriptors =
            descriptors.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
    return usage;
}

void printUsage(const char *when, const ProcessUsage &usage) {
    std::printf("%-28s VmRSS %8lld KiB   open descriptors %lld\n", when,
                static_cast<long long>(usage.residentKiB), static_cast<long long>(usage.descriptors));
}

void postListing(Orvex::RemotePostJob &job, int number) {
    job.Field(QStringLiteral("JobCode"), QStringLiteral("SOAK-%1").arg(number));
    job.Field(QStringLiteral("Title"), QStringLiteral("Senior R&D engineer <soak>"));
    job.Field(QStringLiteral("Location"), QStringLiteral("Leeds"));
    job.Field(QStringLiteral("Description"), QString(400, u'd'));
    if (!job.Action(QStringLiteral("Add")).startsWith(u'S'))
        std::fprintf(stderr, "listing %d was not confirmed\n", number);
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
    int status = 0;
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("soak"));
        QTemporaryDir programFolder;
        if (!bus.isConnected() ||
            !Orvex::Bench::setActivationEnvironment(bus, board.proxyUrl(), programFolder.path()))
            return 1;
        try {
            Orvex::RemotePostJob job(QString::fromLatin1(Orvex::Identity::ProgId), bus);
            const uint pid = bus.interface()->servicePid(job.serverName()).value();
            printUsage("server started", usageOf(pid));
            for (int number = 1; number <= WarmUpListings; ++number)
                postListing(job, number);
            const ProcessUsage warm = usageOf(pid);
            printUsage("after the first 100 listings", warm);
            for (int number = WarmUpListings + 1; number <= Listings; ++number)
                postListing(job, number);
            const ProcessUsage last = usageOf(pid);
            printUsage("after 10,000 listings", last);

            const qint64 growth = last.residentKiB - warm.residentKiB;
            std::printf(
                "growth over 9,900 listings: %lld KiB (goal under %lld KiB: %s), descriptors %+lld (%s)\n",
                static_cast<long long>(growth), static_cast<long long>(GoalGrowthKiB),
                growth < GoalGrowthKiB ? "met" : "missed",
                static_cast<long long>(last.descriptors - warm.descriptors),
                last.descriptors == warm.descriptors ? "unchanged" : "changed");
            std::printf("board received %lld postings\n", static_cast<long long>(board.postings().size()));
        } catch (const Orvex::AutomationError &error) {
            std::fprintf(stderr, "%s\n", error.what());
            status = 1;
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("soak"));
    return status;
}
