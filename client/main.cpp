#include "postjobtool.h"
#include "privatesessionbus.h"
#include "sessionbuscheck.h"
#include "xdgfolders.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>
#include <optional>
#include <unistd.h>

namespace {

// SIGTERM and SIGHUP (a closed terminal, a stopped service) end a batch the way one Ctrl-C does, so the
// rows of what was posted are still printed and the object released.
void installInterruptHandlers() {
    struct sigaction action = {};
    action.sa_handler = Orvex::PostJobTool::onInterruptSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// The commands that talk to the server; the others read files and need no bus, nor does help.
bool needsServer(const QStringList &arguments) {
    const QString command = arguments.value(1);
    const bool help =
        arguments.contains(QLatin1StringView("--help")) || arguments.contains(QLatin1StringView("-h"));
    return !help && (command == QLatin1StringView("post") || command == QLatin1StringView("log"));
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvex-postjob"));
    // Output is the table and the errors; QT_LOGGING_RULES still turns the tracing back on.
    QLoggingCategory::setFilterRules(QStringLiteral("orvex.*.debug=false"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    // A progress line only helps someone watching; in a pipe or a log it would be noise.
    const bool progress = isatty(STDERR_FILENO) == 1;
    installInterruptHandlers();
    const QString program = QCoreApplication::applicationName();
    std::optional<Orvex::PrivateSessionBus> privateBus;
    if (needsServer(QCoreApplication::arguments())) {
        // Said before any bus is looked for: a server started without a home would post to the built-in
        // board and keep its journal below the root folder.
        if (const std::optional<QString> missing = Orvex::XdgFolders::missingHome()) {
            err << program << ": " << *missing << '\n';
            return Orvex::PostJobTool::BadInput;
        }
        // A bus that takes the connection but never answers, or another account's, is named rather than
        // waited on or handed to libdbus.
        const Orvex::SessionBusCheck bus = Orvex::SessionBusCheck::ofEnvironment();
        if (bus.state == Orvex::SessionBusCheck::State::Unusable) {
            err << program << ": " << bus.problem << '\n';
            return Orvex::PostJobTool::NoServer;
        }
        // Without a session bus (cron, ssh, a service account) the run brings its own, as dbus-run-session
        // would, but out of the terminal's reach; without a dbus-daemon the tool says how to get a bus.
        QString error;
        if (bus.state == Orvex::SessionBusCheck::State::Absent && !privateBus.emplace().start(&error)) {
            err << program << ": cannot start a session bus of its own: " << error << '\n';
            err.flush();
            privateBus.reset();
        }
    }
    Orvex::PostJobTool tool(out, err, progress);
    const int status = tool.run(QCoreApplication::arguments());
    out.flush();
    err.flush();
    return status;
}
