#pragma once

#include "command.h"
#include "console.h"

#include <QStringList>
#include <QTextStream>

#include <memory>
#include <vector>

namespace Orvex {

// The command-line tool orvex-postjob: finds the command named first, parses its arguments from what
// the command declares, shows help and runs it.
class PostJobTool {
public:
    using ExitStatus = Orvex::ExitStatus;
    using enum Orvex::ExitStatus;

    // progress: whether to keep a progress line on err (only when err is a terminal).
    PostJobTool(QTextStream &out, QTextStream &err, bool progress);
    ~PostJobTool();

    // arguments as main() receives them, the program name first.
    int run(const QStringList &arguments);

    // For SIGINT, SIGTERM and SIGHUP; async-signal-safe. While listings are being posted the first one
    // stops the batch after the listing in progress, and a second one prints that listing as "unknown"
    // and ends the tool at once; at any other time the tool ends at once.
    static void onInterruptSignal(int signal);

    Command *findCommand(const QString &name) const;
    void printGlobalHelp(QTextStream &stream) const;
    // Runs command on its arguments (without the program and command names).
    int runCommand(Command &command, const QStringList &arguments);

private:
    Console m_console;
    std::vector<std::unique_ptr<Command>> m_commands;
};

} // namespace Orvex
