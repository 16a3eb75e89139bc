#include "helpcommand.h"

#include "console.h"
#include "postjobtool.h"

#include <QCommandLineParser>

namespace Orvex {

HelpCommand::HelpCommand(PostJobTool &tool)
    : Command({"help", "Show the help of a command", "[command]",
               "Shows the help of a command, or the list of commands."})
    , m_tool(tool) {}

void HelpCommand::declare(QCommandLineParser &parser) {
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("The command to explain."),
                                 QStringLiteral("[command]"));
}

int HelpCommand::run(const QCommandLineParser &parser, Console &console) {
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        m_tool.printGlobalHelp(console.out());
        return Success;
    }
    Command *command = m_tool.findCommand(positional.first());
    if (!command)
        return console.badInput(QStringLiteral("unknown command \"%1\"").arg(positional.first()));
    if (command == this) {
        m_tool.printGlobalHelp(console.out());
        return Success;
    }
    return m_tool.runCommand(*command, {QStringLiteral("--help")});
}

} // namespace Orvex
