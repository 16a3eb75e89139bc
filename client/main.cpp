#include "localengine.h"
#include "postjobtool.h"
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
    if (needsServer(QCoreApplication::arguments())) {
        // Said before any bus is looked for: a posting without a home would go to the built-in board and
        // keep its journal below the root folder.
        if (const std::optional<QString> missing = Orvex::XdgFolders::missingHome()) {
            err << program << ": " << *missing << '\n';
            return Orvex::PostJobTool::BadInput;
        }
        // Without a session bus that answers (cron, ssh, a service account; one stopped, or another
        // account's) the tool posts in its own process through the server's engine, settings and
        // journal, rather than wait on a bus, start one, or give up. Said only where the user named a bus.
        const Orvex::SessionBusCheck bus = Orvex::SessionBusCheck::ofEnvironment();
        if (bus.state != Orvex::SessionBusCheck::State::Answers) {
            Orvex::LocalEngine::choose();
            if (bus.state == Orvex::SessionBusCheck::State::Unusable)
                err << program << ": posting in this process, without the session bus: " << bus.problem
                    << '\n';
            else if (!bus.address.isEmpty())
                err << program << ": posting in this process: nothing listens at the session bus address "
                    << bus.address << '\n';
            err.flush();
        }
    }
    Orvex::PostJobTool tool(out, err, progress);
    const int status = tool.run(QCoreApplication::arguments());
    out.flush();
    err.flush();
    return status;
}
