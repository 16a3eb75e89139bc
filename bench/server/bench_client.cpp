// A 20-field listing posted through the bus with the client library against a raw libcurl POST of the
// same bytes to the same board, in one run. The bus is a private one whose server is this build tree's,
// started on demand. Prints medians and the ratio.

#include "benchposting.h"
#include "boardprocess.h"
#include "postingdocument.h"
#include "privatebus.h"
#include "remotepostjob.h"
#include "wireencoding.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int Runs = 300;
constexpr int FieldCount = 20;

// Times the two alternately against each other.
template<typename Measured, typename Baseline>
std::pair<double, double> alternate(Measured &&measured, Baseline &&baseline) {
    return Orvex::Bench::alternateMedians(measured, baseline, Runs);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("orvex.*.debug=false"));
    Orvex::Bench::keepFreedMemory();

    BoardProcess board;
    if (!board.start()) {
        std::fprintf(stderr, "board: %s\n", qPrintable(board.errorString()));
        return 1;
    }
    Orvex::Bench::PrivateBus privateBus;
    QString address;
    if (!privateBus.start(QStringLiteral(ORVEX_DBUS_DAEMON), QStringLiteral(ORVEX_BENCH_BUS_CONFIG),
                          &address)) {
        std::fprintf(stderr, "cannot start a private bus with %s\n", ORVEX_BENCH_BUS_CONFIG);
        return 1;
    }
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("bench"));
        QTemporaryDir programFolder;
        if (!bus.isConnected() ||
            !Orvex::Bench::setActivationEnvironment(bus, board.proxyUrl(), programFolder.path()))
            return 1;
        curl_global_init(CURL_GLOBAL_DEFAULT);

        const Orvex::Bench::Fields fields = Orvex::Bench::benchListing(FieldCount);
        QString elements;
        for (const auto &[name, value] : fields)
            elements += Orvex::fieldElement(name, value);
        const QByteArray wire = Orvex::toWireBytes(Orvex::postingDocument(QStringLiteral("Add"), elements));
        const QByteArray endpoint = board.endpointUrl().toUtf8();

        try {
            Orvex::RemotePostJob job(QString::fromLatin1(Orvex::Identity::ProgId), bus);
            const auto [busSeconds, rawPostSeconds, allPosted] =
                Orvex::Bench::timeListingAgainstRawPost(job, fields, endpoint, wire, Runs);
            Orvex::Bench::printMedian("client library over the bus, 20 fields + Action", busSeconds);
            Orvex::Bench::printMedian("raw libcurl POST, same bytes", rawPostSeconds);
            Orvex::Bench::printRatio("bus listing / raw POST", busSeconds, rawPostSeconds, 1.5);

            // Where the time goes: the pipelined fields, one field alone (one round trip), and Action.
            const auto [fieldsSeconds, oneFieldSeconds] = alternate(
                [&] {
                    for (const auto &[name, value] : fields)
                        job.Field(name, value);
                    job.flush();
                },
                [&] {
                    job.Field(QStringLiteral("JobCode"), QStringLiteral("J-1001"));
                    job.flush();
                });
            // Each timed Action posts the one field its untimed partner gave it; the warm-up call posts
            // what the field timings above left in the listing.
            const auto [actionSeconds, ignored] =
                alternate([&] { job.Action(QStringLiteral("Add")); },
                          [&] {
                              job.Field(QStringLiteral("JobCode"), QStringLiteral("J-1001"));
                              job.flush();
                          });
            Orvex::Bench::printMedian("  20 pipelined Fields", fieldsSeconds);
            Orvex::Bench::printMedian("  one Field (a round trip)", oneFieldSeconds);
            Orvex::Bench::printMedian("  Action (one field)", actionSeconds);
        } catch (const Orvex::AutomationError &error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 1;
        }
        curl_global_cleanup();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
    return 0;
}
