#include "postjobtool.h"

#include "configcommand.h"
#include "helpcommand.h"
#include "historycommand.h"
#include "identity.h"
#include "logcommand.h"
#include "postcommand.h"
#include "xdgfolders.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace Orvex {

namespace {

const char ExitStatusHelp[] =
    "Exit status:\n"
    "  0    every listing got \"S\" (or was skipped, having got \"S\" before); the command did its work\n"
    "  1    some listing got \"F\"\n"
    "  2    bad input: options, a listings file, a field the board would refuse, an unreadable log,\n"
    "       a setting that does not parse\n"
    "  3    some listing's outcome is unknown (none got \"F\")\n"
    "  4    no server could be reached on the session bus; without a bus that answers, no\n"
    "       registered server names the settings to post with\n"
    "  130  interrupted (Ctrl-C, SIGTERM or SIGHUP)\n";

// QCommandLineParser names the executable path in its usage line; ours names the command.
QString commandHelp(const QCommandLineParser &parser, const QString &usage) {
    const QString text = parser.helpText();
    return usage + text.mid(text.indexOf(u'\n'));
}

} // namespace

PostJobTool::PostJobTool(QTextStream &out, QTextStream &err, bool progress)
    : m_console(out, err, progress) {
    // The commands, in the order help lists them: one line each.
    m_commands.push_back(std::make_unique<PostCommand>());
    m_commands.push_back(std::make_unique<LogCommand>());
    m_commands.push_back(std::make_unique<HistoryCommand>());
    m_commands.push_back(std::make_unique<ConfigCommand>());
    m_commands.push_back(std::make_unique<HelpCommand>(*this));
}

PostJobTool::~PostJobTool() = default;

void PostJobTool::onInterruptSignal(int signal) {
    PostCommand::onInterruptSignal(signal);
}

Command *PostJobTool::findCommand(const QString &name) const {
    for (const std::unique_ptr<Command> &command : m_commands) {
        if (name == QLatin1StringView(command->info().name))
            return command.get();
    }
    return nullptr;
}

void PostJobTool::printGlobalHelp(QTextStream &stream) const {
    const QString &program = m_console.program();
    stream << "Usage: " << program << " <command> [options]\n"
           << "Posts job listings through the OrvexKelPostJob automation server on the session bus.\n"
              "The bus starts the server when it is not running; the tool releases its object at the\n"
              "end, which ends the server. Where no session bus answers (cron, ssh), the tool posts in\n"
              "its own process with the server's engine, settings and journal.\n\nCommands:\n";
    qsizetype width = 0;
    for (const std::unique_ptr<Command> &command : m_commands)
        width = std::max(width, command->name().size());
    for (const std::unique_ptr<Command> &command : m_commands)
        stream << "  " << command->name().leftJustified(width) << "  " << command->info().summary << '\n';
    stream << "\nRun \"" << program << " help <command>\" or \"" << program
           << " <command> --help\" for the options of a command.\n\n"
           << "Options:\n  -h, --help  Displays help.\n  --version   Displays the version.\n\n"
           << ExitStatusHelp;
    stream.flush();
}

int PostJobTool::run(const QStringList &arguments) {
    m_console.setProgram(arguments.isEmpty() ? QStringLiteral("orvex-postjob")
                                             : QFileInfo(arguments.first()).fileName());
    if (arguments.size() < 2) {
        printGlobalHelp(m_console.err());
        return BadInput;
    }
    const QString name = arguments.at(1);
    if (name == QLatin1StringView("--help") || name == QLatin1StringView("-h")) {
        printGlobalHelp(m_console.out());
        return Success;
    }
    if (name == QLatin1StringView("--version")) {
        m_console.out() << m_console.program() << ' ' << Identity::VersionText << '\n';
        return Success;
    }
    Command *command = findCommand(name);
    if (!command)
        return m_console.badInput(QStringLiteral("unknown command \"%1\"").arg(name));
    return runCommand(*command, arguments.mid(2));
}

int PostJobTool::runCommand(Command &command, const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(command.info().description));
    const QCommandLineOption helpOption(
        {QStringLiteral("h"), QStringLiteral("help")},
        QStringLiteral("Displays help on the %1 command.").arg(command.name()));
    parser.addOption(helpOption);
    command.declare(parser);
    if (!parser.parse(QStringList{m_console.program()} + arguments))
        return m_console.badInput(parser.errorText(), command.name());
    if (parser.isSet(helpOption)) {
        const QString usage =
            QStringLiteral("Usage: %1 %2 %3")
                .arg(m_console.program(), command.name(), QString::fromLatin1(command.info().usage));
        m_console.out() << commandHelp(parser, usage);
        m_console.out().flush();
        return Success;
    }
    // Without a home folder every file would be looked for below the root: no settings, so the built-in
    // board, and a journal nowhere the user would look.
    if (command.name() != QLatin1StringView("help")) {
        if (const std::optional<QString> missing = XdgFolders::missingHome())
            return m_console.fail(*missing, BadInput);
    }
    return command.run(parser, m_console);
}

} // namespace Orvex
