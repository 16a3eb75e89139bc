#include "logcommand.h"

#include "console.h"
#include "localengine.h"
#include "printabletext.h"
#include "remoteerror.h"
#include "remotepostjob.h"
#include "urltext.h"

#include <QCommandLineParser>
#include <QDBusConnection>

namespace Orvex {

namespace {

const char LogDescription[] =
    "Writes one record into the component's activity log through the server, or in this\n"
    "process where no session bus answers. The record's AnyOther is left empty, so it is\n"
    "never taken for a posting.\n"
    "\n"
    "Exit status: 0 when written, 2 for bad input, 4 when no server could be reached.";

} // namespace

LogCommand::LogCommand()
    : Command({"log", "Write a record into the component's activity log", "[options] SubName [Message]",
               LogDescription}) {}

void LogCommand::declare(QCommandLineParser &parser) {
    parser.addPositionalArgument(QStringLiteral("SubName"), QStringLiteral("Who writes the record."));
    parser.addPositionalArgument(QStringLiteral("Message"),
                                 QStringLiteral("The record's message (optional)."),
                                 QStringLiteral("[Message]"));
}

int LogCommand::run(const QCommandLineParser &parser, Console &console) {
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return console.badInput(QStringLiteral("give SubName and, optionally, Message"), name());
    if (positional.size() > 2)
        return console.badInput(QStringLiteral("unexpected argument \"%1\"").arg(positional.at(2)), name());
    for (const QString &text : positional) {
        if (text.contains(QChar(u'\0')))
            return console.badInput(QStringLiteral("a text holds U+0000, which the bus cannot carry"),
                                    name());
    }
    // The empty variant, not the empty text of an action record: a record of ours is no posting.
    const Variant anyOther;
    if (LocalEngine::isChosen()) {
        try {
            LocalEngine().writeLog(positional.at(0), positional.value(1), anyOther);
        } catch (const AutomationError &error) {
            return console.cannotCreate(describeError(error));
        }
        return Success;
    }
    if (!QDBusConnection::sessionBus().isConnected())
        return console.cannotCreate(QDBusConnection::sessionBus().lastError().message());
    try {
        RemotePostJob job;
        job.WriteLog(positional.at(0), positional.value(1), anyOther);
        job.release();
    } catch (const AutomationError &error) {
        return console.fail(printableText(withoutUserInfo(describeError(error))), NoServer);
    }
    return Success;
}

} // namespace Orvex
