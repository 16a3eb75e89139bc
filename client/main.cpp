#include "postjobtool.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// The first interrupt lets the listing in progress finish and the object be released, so no server is
// left running with a half-posted batch; a second one ends the tool at once.
void stopAfterCurrentListing(int) {
    Orvex::PostJobTool::requestStop();
    static const char notice[] =
        "\norvex-postjob: stopping once the call in progress returns; interrupt again to quit at once\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, notice, sizeof notice - 1);
}

void installInterruptHandlers() {
    struct sigaction action = {};
    action.sa_handler = stopAfterCurrentListing;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
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
    Orvex::PostJobTool tool(out, err, progress);
    const int status = tool.run(QCoreApplication::arguments());
    out.flush();
    err.flush();
    return status;
}
