// Cold activation: the time from CreateInstance on a bus where the server is not running to its reply,
// beside the same for a minimal Qt D-Bus service. A private bus daemon with the tests' configuration starts
// both from this build tree. Prints medians and the ratio.

#include "benchharness.h"
#include "serverfixture.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int Runs = 25;
constexpr int GoneTimeoutMs = 20000;

const QString ServerName = QStringLiteral("OrvexKelPostJob.PostJob");
const QString MinimalName = QStringLiteral("OrvexBench.Minimal");
const QString MinimalWindowName = QStringLiteral("OrvexBench.MinimalWindow");

enum class Service { Server, Minimal, MinimalWindow };

QDBusMessage call(QDBusConnection &bus, const QString &service, const QString &path, const QString &interface,
                  const QString &member) {
    return bus.call(QDBusMessage::createMethodCall(service, path, interface, member), QDBus::Block, 60000);
}

bool waitUntilGone(QDBusConnection &bus, const QString &name) {
    const QDeadlineTimer deadline(GoneTimeoutMs);
    while (bus.interface()->isServiceRegistered(name).value()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
    return true;
}

// One cold start: the timed call, then the untimed end of the process.
double coldStartSeconds(QDBusConnection &bus, Service service) {
    const bool server = service == Service::Server;
    const QString minimalName = service == Service::MinimalWindow ? MinimalWindowName : MinimalName;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const QDBusMessage created =
        server ? call(bus, ServerName, QStringLiteral("/OrvexKelPostJob/PostJob"),
                      QStringLiteral("OrvexKelPostJob.ClassFactory"), QStringLiteral("CreateInstance"))
               : call(bus, minimalName, QStringLiteral("/OrvexBench/Minimal"),
                      QStringLiteral("OrvexBench.Minimal"), QStringLiteral("Create"));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (created.type() != QDBusMessage::ReplyMessage) {
        std::fprintf(stderr, "creation failed: %s\n", qPrintable(created.errorMessage()));
        return -1;
    }
    if (server)
        call(bus, ServerName, qvariant_cast<QDBusObjectPath>(created.arguments().value(0)).path(),
             QStringLiteral("OrvexKelPostJob.IUnknown"), QStringLiteral("Release"));
    else
        call(bus, minimalName, QStringLiteral("/OrvexBench/Minimal"), QStringLiteral("OrvexBench.Minimal"),
             QStringLiteral("Quit"));
    return waitUntilGone(bus, server ? ServerName : minimalName) ? seconds : -1;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir programFolder;
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--config-file=" ORVEX_BENCH_BUS_CONFIG), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address")});
    while (daemon.waitForStarted(10000) && !daemon.canReadLine()) {
        if (!daemon.waitForReadyRead(10000))
            break;
    }
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("bench"));
    if (!bus.isConnected()) {
        std::fprintf(stderr, "cannot connect to the private bus\n");
        return 1;
    }

    // Run under a display (xvfb-run), the services start on it and the server shows its window; else
    // both start without one. The server runs from a copy in a temporary program folder.
    const QString display = qEnvironmentVariable("DISPLAY");
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage environment = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    environment << QVariant::fromValue(
        QMap<QString, QString>{{QStringLiteral("ORVEX_TEST_SERVER"), placeServerIn(programFolder.path())},
                               {QStringLiteral("DISPLAY"), display},
                               {QStringLiteral("WAYLAND_DISPLAY"), QString()}});
    bus.call(environment);

    std::vector<double> server;
    std::vector<double> minimal;
    std::vector<double> minimalWindow;
    // Untimed first starts warm the file cache for every executable.
    for (const Service service : {Service::Server, Service::Minimal, Service::MinimalWindow})
        coldStartSeconds(bus, service);
    for (int run = 0; run < Runs; ++run) {
        const double serverSeconds = coldStartSeconds(bus, Service::Server);
        const double minimalSeconds = coldStartSeconds(bus, Service::Minimal);
        const double windowSeconds = coldStartSeconds(bus, Service::MinimalWindow);
        if (serverSeconds < 0 || minimalSeconds < 0 || windowSeconds < 0)
            return 1;
        server.push_back(serverSeconds);
        minimal.push_back(minimalSeconds);
        minimalWindow.push_back(windowSeconds);
    }

    const double serverMedian = Orvex::Bench::median(server);
    const double minimalMedian = Orvex::Bench::median(minimal);
    const double windowMedian = Orvex::Bench::median(minimalWindow);
    Orvex::Bench::printMedian("cold activation, OrvexKelPostJob CreateInstance", serverMedian);
    Orvex::Bench::printMedian("cold activation, minimal Qt D-Bus service", minimalMedian);
    Orvex::Bench::printMedian("cold activation, minimal Qt D-Bus service showing a window", windowMedian);
    // With a display the server is measured against the service that shows a window; without one, where
    // the server makes no window, against the plain service.
    if (display.isEmpty())
        Orvex::Bench::printRatio("cold activation without a display, server / minimal", serverMedian,
                                 minimalMedian, 1.5);
    else
        Orvex::Bench::printRatio("cold activation on a display, server / minimal with a window", serverMedian,
                                 windowMedian, 1.2);

    bus = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
    daemon.terminate();
    daemon.waitForFinished(5000);
    return 0;
}
