#include "postjobtool.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvex-postjob"));
    // Output is the table and the errors; QT_LOGGING_RULES still turns the tracing back on.
    QLoggingCategory::setFilterRules(QStringLiteral("orvex.*.debug=false"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    // A progress line only helps someone watching; in a pipe or a log it would be noise.
    const bool progress = isatty(STDERR_FILENO) == 1;
    Orvex::PostJobTool tool(out, err, progress);
    const int status = tool.run(QCoreApplication::arguments());
    out.flush();
    err.flush();
    return status;
}
