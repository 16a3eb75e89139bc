#include "postjobtool.h"

#include "commandline_p.h"
#include "componentfolders.h"
#include "files.h"
#include "identity.h"
#include "printabletext.h"
#include "registeredserver.h"
#include "remoteerror.h"
#include "remotepostjob.h"
#include "urltext.h"

#include <QCommandLineParser>
#include <QDBusConnection>
#include <QFileInfo>

namespace Orvex {

namespace {

const char LogDescription[] =
    "Writes one record into the component's activity log through the server. The record's\n"
    "AnyOther is left empty, so history never takes it for a posting.\n"
    "\n"
    "Exit status: 0 when written, 2 for bad input, 4 when no server could be reached.";

const char ExitStatusHelp[] =
    "Exit status:\n"
    "  0    every listing got \"S\" (or was skipped, having got \"S\" before); the command did its work\n"
    "  1    some listing got \"F\"\n"
    "  2    bad input: options, a listings file, a field the board would refuse, an unreadable log\n"
    "  3    some listing's outcome is unknown (none got \"F\")\n"
    "  4    no session bus, or no server could be reached\n"
    "  130  interrupted (Ctrl-C, SIGTERM or SIGHUP)\n";

const char NoBusHint[] =
    "There is no session bus to reach the server on (DBUS_SESSION_BUS_ADDRESS is unset or\n"
    "unreachable, as under ssh or cron), and no dbus-daemon could be started for this run.\n"
    "Install dbus-daemon (Debian package dbus-daemon) and make sure it is in PATH, or run the\n"
    "tool in a desktop or systemd --user session (loginctl enable-linger).\n";

// QCommandLineParser names the executable path in its usage line; ours names the command.
QString commandHelp(const QCommandLineParser &parser, const QString &usage) {
    const QString text = parser.helpText();
    return usage + text.mid(text.indexOf(u'\n'));
}

} // namespace

PostJobTool::PostJobTool(QTextStream &out, QTextStream &err, bool progress)
    : m_out(out)
    , m_err(err)
    , m_progress(progress) {}

const QList<PostJobTool::Command> &PostJobTool::commands() {
    static const QList<Command> table{
        {"post", "Post one listing (--action, --field) or the listings of a JSON file (--file)", "[options]",
         &PostJobTool::runPost},
        {"log", "Write a record into the component's activity log", "[options] SubName [Message]",
         &PostJobTool::runLog},
        {"history", "List postings and their results from the posting journal or the activity log",
         "[options]", &PostJobTool::runHistory},
        {"config", "Show the component's settings and their files, or set one", "show | set KEY VALUE | path",
         &PostJobTool::runConfig},
        {"help", "Show the help of a command", "[command]", &PostJobTool::runHelp},
    };
    return table;
}

const PostJobTool::Command *PostJobTool::findCommand(const QString &name) {
    for (const Command &command : commands()) {
        if (name == QLatin1StringView(command.name))
            return &command;
    }
    return nullptr;
}

void PostJobTool::printGlobalHelp(QTextStream &stream) const {
    stream << "Usage: " << m_program << " <command> [options]\n"
           << "Posts job listings through the OrvexKelPostJob automation server on the session bus.\n"
              "The bus starts the server when it is not running; the tool releases its object at the\n"
              "end, which ends the server.\n\nCommands:\n";
    qsizetype width = 0;
    for (const Command &command : commands())
        width = std::max(width, qsizetype(qstrlen(command.name)));
    for (const Command &command : commands())
        stream << "  " << QString::fromLatin1(command.name).leftJustified(width) << "  " << command.summary
               << '\n';
    stream << "\nRun \"" << m_program << " help <command>\" or \"" << m_program
           << " <command> --help\" for the options of a command.\n\n"
           << "Options:\n  -h, --help  Displays help.\n  --version   Displays the version.\n\n"
           << ExitStatusHelp;
    stream.flush();
}

int PostJobTool::run(const QStringList &arguments) {
    m_program =
        arguments.isEmpty() ? QStringLiteral("orvex-postjob") : QFileInfo(arguments.first()).fileName();
    if (arguments.size() < 2) {
        printGlobalHelp(m_err);
        return BadInput;
    }
    const QString name = arguments.at(1);
    if (name == QLatin1StringView("--help") || name == QLatin1StringView("-h")) {
        printGlobalHelp(m_out);
        return Success;
    }
    if (name == QLatin1StringView("--version")) {
        m_out << m_program << ' ' << Identity::VersionText << '\n';
        return Success;
    }
    const Command *command = findCommand(name);
    if (!command)
        return badInput(QStringLiteral("unknown command \"%1\"").arg(name), QString());
    return (this->*command->run)(arguments.mid(2));
}

int PostJobTool::runHelp(const QStringList &arguments) {
    if (arguments.isEmpty()) {
        printGlobalHelp(m_out);
        return Success;
    }
    const Command *command = findCommand(arguments.first());
    if (!command)
        return badInput(QStringLiteral("unknown command \"%1\"").arg(arguments.first()), QString());
    if (command->run == &PostJobTool::runHelp) {
        printGlobalHelp(m_out);
        return Success;
    }
    return (this->*command->run)({QStringLiteral("--help")});
}

std::optional<int> PostJobTool::parseCommand(QCommandLineParser &parser, const QCommandLineOption &helpOption,
                                             const QString &command, const QStringList &arguments) {
    if (!parser.parse(QStringList{m_program} + arguments))
        return badInput(parser.errorText(), command);
    if (parser.isSet(helpOption)) {
        const Command *entry = findCommand(command);
        m_out << commandHelp(
            parser,
            QStringLiteral("Usage: %1 %2 %3").arg(m_program, command, QString::fromLatin1(entry->usage)));
        m_out.flush();
        return Success;
    }
    return std::nullopt;
}

int PostJobTool::runLog(const QStringList &arguments) {
    const QString name = QStringLiteral("log");
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(LogDescription));
    const QCommandLineOption helpOption = helpOptionOf(name);
    parser.addOption(helpOption);
    parser.addPositionalArgument(QStringLiteral("SubName"), QStringLiteral("Who writes the record."));
    parser.addPositionalArgument(QStringLiteral("Message"),
                                 QStringLiteral("The record's message (optional)."),
                                 QStringLiteral("[Message]"));

    if (const std::optional<int> done = parseCommand(parser, helpOption, name, arguments))
        return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return badInput(QStringLiteral("give SubName and, optionally, Message"), name);
    if (positional.size() > 2)
        return badInput(unexpectedArgument(positional.at(2)), name);
    for (const QString &text : positional) {
        if (text.contains(QChar(u'\0')))
            return badInput(QStringLiteral("a text holds U+0000, which the bus cannot carry"), name);
    }
    if (!QDBusConnection::sessionBus().isConnected())
        return cannotCreate(QDBusConnection::sessionBus().lastError().message());

    try {
        RemotePostJob job;
        // The empty variant, not the empty text of an action record: a record of ours is no posting.
        job.WriteLog(positional.at(0), positional.value(1), Variant());
        job.release();
    } catch (const AutomationError &error) {
        m_err << m_program << ": " << printableText(withoutUserInfo(describeError(error))) << '\n';
        m_err.flush();
        return NoServer;
    }
    return Success;
}

QString PostJobTool::componentFilesFolder(QString *error) const {
    QStringList searched;
    const QString serverFolder = registeredServerFolder(&searched);
    if (serverFolder.isEmpty()) {
        *error = QStringLiteral("no registered server names its folder (looked for %1)")
                     .arg(searched.join(QStringLiteral(", ")));
        return QString();
    }
    return ComponentFolders(serverFolder).filesFolder();
}

int PostJobTool::cannotCreate(const QString &reason) {
    clearProgress();
    m_err << m_program << ": cannot create " << QString::fromLatin1(Identity::ProgId) << ": "
          << printableText(withoutUserInfo(reason)) << '\n';
    if (!QDBusConnection::sessionBus().isConnected())
        m_err << NoBusHint;
    m_err.flush();
    return NoServer;
}

void PostJobTool::showProgress(qsizetype index, qsizetype count, const Listing &listing) {
    if (!m_progress)
        return;
    m_err << "\r\x1b[K"
          << "Posting listing " << index + 1 << " of " << count;
    if (!listing.jobCode().isEmpty())
        m_err << " (" << printableText(listing.jobCode()) << ')';
    m_err.flush();
}

void PostJobTool::clearProgress() {
    if (!m_progress)
        return;
    m_err << "\r\x1b[K";
    m_err.flush();
}

int PostJobTool::badInput(const QString &message, const QString &command) {
    clearProgress();
    m_err << m_program << ": " << message << '\n';
    if (command.isEmpty())
        m_err << "Run \"" << m_program << " --help\" for the commands.\n";
    else
        m_err << "Run \"" << m_program << ' ' << command << " --help\" for its options.\n";
    m_err.flush();
    return BadInput;
}

} // namespace Orvex
