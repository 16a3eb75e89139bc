#include "postjobtool.h"

#include "activitylog.h"
#include "activitylogfile.h"
#include "componentfolders.h"
#include "files.h"
#include "identity.h"
#include "postingdocument.h"
#include "registeredserver.h"
#include "remoteerror.h"
#include "remotepostjob.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>

namespace Orvex {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

const QString PostCommand = QStringLiteral("post");
const QString LogCommand = QStringLiteral("log");
const QString HistoryCommand = QStringLiteral("history");

QString globalHelp(const QString &program) {
    return QStringLiteral(
               "Usage: %1 <command> [options]\n"
               "Posts job listings through the OrvexKelPostJob automation server on the session bus.\n"
               "The bus starts the server when it is not running; the tool releases its object at the\n"
               "end, which ends the server.\n"
               "\n"
               "Commands:\n"
               "  post     Post one listing (--action, --field) or the listings of a JSON file (--file)\n"
               "  log      Write a record into the component's activity log\n"
               "  history  List a day's postings and their results from the activity log\n"
               "\n"
               "Run \"%1 <command> --help\" for the options of a command.\n"
               "\n"
               "Options:\n"
               "  -h, --help  Displays help.\n"
               "  --version   Displays the version.\n"
               "\n"
               "Exit status: 0 when every listing got \"S\", 1 when a listing got \"F\" or \"unknown\" or\n"
               "the server could not be reached, 2 for bad input. \"history\" gives 1 when it cannot read\n"
               "the log.\n")
        .arg(program);
}

const char PostDescription[] =
    "Posts job listings to the board through the server and prints a result table\n"
    "(listing number, job code, result: \"S\" and the job id, \"F\", or \"unknown\").\n"
    "\n"
    "One listing from the command line:\n"
    "  post --action Add --field JobCode=J1 --field \"Title=R&D lead\"\n"
    "Fields are posted in the order given; a value may contain \"=\".\n"
    "\n"
    "Several listings from a file (\"-\" reads standard input): a JSON array of listings,\n"
    "each with its action and its fields in order, every field a [name, value] pair\n"
    "or a {\"name\": .., \"value\": ..} object:\n"
    "  [{\"action\": \"Add\", \"fields\": [[\"JobCode\", \"J1\"], [\"Title\", \"R&D\"]]},\n"
    "   {\"action\": \"Add\", \"fields\": [{\"name\": \"JobCode\", \"value\": \"J2\"}]}]\n"
    "Names and values are texts. An object keyed by field name is refused: it loses the order.\n"
    "A text holding U+0000 is refused: the bus cannot carry it.\n"
    "\n"
    "Each listing goes to the server in one call. When the server ends before a listing\n"
    "reached it (another client released its object), the listing is sent again to a new\n"
    "server. When the server is lost while it holds a listing, the board may or may not have\n"
    "it: the listing is not sent again and its result is \"unknown\". Posting stops at the\n"
    "first other error.\n"
    "An interrupt (Ctrl-C) stops after the listing in progress and releases the object;\n"
    "a second one quits at once.\n"
    "\n"
    "Exit status: 0 when every listing got \"S\", 1 otherwise, 2 for bad input.";

const char LogDescription[] =
    "Writes one record into the component's activity log through the server.\n"
    "\n"
    "Exit status: 0 when written, 1 when the server could not be reached, 2 for bad input.";

const char HistoryDescription[] =
    "Lists the postings of one day from the component's activity log: time, action, job code\n"
    "and result (\"S\" and the job id from the recorded reply; \"F\" with the reply, or with the\n"
    "error's description and number; \"unknown\" when the log holds no outcome for it).\n"
    "\n"
    "The day's log lies beside the registered server (the Exec= program of\n"
    "OrvexKelPostJob.PostJob.service in $XDG_DATA_HOME/dbus-1/services, then in each\n"
    "$XDG_DATA_DIRS folder's), or in $XDG_STATE_HOME/OrvexKelPostJob when the user cannot write\n"
    "to that folder.\n"
    "\n"
    "Log records name no process: when several servers write one log at the same time, an\n"
    "outcome goes to the latest posting still waiting for one, so two overlapping postings\n"
    "that end in the order they began show each other's results. Records written by \"log\"\n"
    "look like postings and are listed as \"unknown\".\n"
    "\n"
    "Exit status: 0 when the log was read, 1 when it cannot be read, 2 for bad input.";

// QCommandLineParser names the executable path in its usage line; ours names the command.
QString commandHelp(const QCommandLineParser &parser, const QString &usage) {
    const QString text = parser.helpText();
    return usage + text.mid(text.indexOf(u'\n'));
}

QCommandLineOption helpOptionOf(const QString &command) {
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Displays help on the %1 command.").arg(command));
}

QString unexpectedArgument(const QString &argument) {
    return QStringLiteral("unexpected argument \"%1\"").arg(argument);
}

QString fieldElements(const Listing &listing) {
    QString elements;
    for (const auto &[name, value] : listing.fields)
        elements += fieldElement(name, value);
    return elements;
}

bool readListingsFile(const QString &path, QByteArray *content, QString *error) {
    QFile file(path);
    const bool opened = path == QLatin1StringView("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                       : file.open(QIODevice::ReadOnly);
    if (!opened) {
        *error = file.errorString();
        return false;
    }
    *content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    return true;
}

struct ListingResult {
    QString jobCode;
    QString result;
};

void printResultTable(QTextStream &out, const QList<ListingResult> &results) {
    const QString listingHeader = QStringLiteral("Listing");
    const QString jobCodeHeader = QStringLiteral("JobCode");
    qsizetype jobCodeWidth = jobCodeHeader.size();
    for (const ListingResult &row : results)
        jobCodeWidth = std::max(jobCodeWidth, row.jobCode.size());

    out << listingHeader << "  " << jobCodeHeader.leftJustified(jobCodeWidth) << "  Result\n";
    for (qsizetype i = 0; i < results.size(); ++i) {
        out << QString::number(i + 1).rightJustified(listingHeader.size()) << "  "
            << results.at(i).jobCode.leftJustified(jobCodeWidth) << "  " << results.at(i).result << '\n';
    }
    out.flush();
}

// Line breaks and tabs made visible, so that each posting keeps to its row.
QString oneLine(QString text) {
    return text.replace(u'\r', QLatin1StringView("\\r"))
        .replace(u'\n', QLatin1StringView("\\n"))
        .replace(u'\t', QLatin1StringView("\\t"));
}

QString historyResult(const LoggedPosting &posting) {
    switch (posting.outcome) {
    case LoggedPosting::Outcome::Unknown:
        return QStringLiteral("unknown");
    case LoggedPosting::Outcome::Error:
        return QStringLiteral("F %1 (%2)")
            .arg(posting.errorDescription, QString::number(posting.errorNumber));
    case LoggedPosting::Outcome::Reply:
        break;
    }
    if (posting.resultCode.startsWith(u'S'))
        return posting.resultCode;
    // An empty reply is what the component records when the board answered with another status than 200.
    return posting.reply.isEmpty() ? QStringLiteral("F (empty reply)") : QStringLiteral("F ") + posting.reply;
}

// The time of day; the date too for a posting of another day (an object keeps the file of its creation day).
QString historyTime(const QDateTime &time, const QDate &day) {
    return time.toString(time.date() == day ? u"HH:mm:ss" : u"yyyy-MM-dd HH:mm:ss");
}

void printHistoryTable(QTextStream &out, const QList<LoggedPosting> &postings, const QDate &day) {
    QList<QStringList> rows{{QStringLiteral("Time"), QStringLiteral("Action"), QStringLiteral("JobCode"),
                             QStringLiteral("Result")}};
    for (const LoggedPosting &posting : postings) {
        rows.append({historyTime(posting.time, day), oneLine(posting.action), oneLine(posting.jobCode),
                     oneLine(historyResult(posting))});
    }
    QList<qsizetype> widths(3, 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype column = 0; column < widths.size(); ++column)
            widths[column] = std::max(widths.at(column), row.at(column).size());
    }
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype column = 0; column < widths.size(); ++column)
            out << row.at(column).leftJustified(widths.at(column)) << "  ";
        out << row.last() << '\n';
    }
    out.flush();
}

QJsonObject historyObject(const LoggedPosting &posting) {
    QJsonObject object{{QStringLiteral("time"), posting.time.toString(Qt::ISODate)},
                       {QStringLiteral("action"), posting.action},
                       {QStringLiteral("jobCode"), posting.jobCode}};
    if (posting.outcome == LoggedPosting::Outcome::Unknown) {
        object.insert(QStringLiteral("result"), QStringLiteral("unknown"));
        return object;
    }
    object.insert(QStringLiteral("result"), posting.resultCode.left(1));
    if (posting.resultCode.startsWith(u'S'))
        object.insert(QStringLiteral("jobId"), posting.resultCode.mid(1));
    if (posting.outcome == LoggedPosting::Outcome::Reply || !posting.reply.isEmpty())
        object.insert(QStringLiteral("reply"), posting.reply);
    if (posting.outcome == LoggedPosting::Outcome::Error) {
        object.insert(QStringLiteral("error"),
                      QJsonObject{{QStringLiteral("description"), posting.errorDescription},
                                  {QStringLiteral("number"), posting.errorNumber}});
    }
    return object;
}

void printHistoryJson(QTextStream &out, const QList<LoggedPosting> &postings) {
    QJsonArray array;
    for (const LoggedPosting &posting : postings)
        array.append(historyObject(posting));
    out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    out.flush();
}

// The day's log of the registered server, as a native path; empty with the reason when there is none.
QString registeredLogFile(const QDate &day, QString *error) {
    QStringList searched;
    const QString serverFolder = registeredServerFolder(&searched);
    if (serverFolder.isEmpty()) {
        *error = QStringLiteral("no registered server names its folder (looked for %1); give --log")
                     .arg(searched.join(QStringLiteral(", ")));
        return QString();
    }
    return Files::nativePath(activityLogFile(ComponentFolders(serverFolder).filesFolder(), day));
}

} // namespace

PostJobTool::PostJobTool(QTextStream &out, QTextStream &err, bool progress)
    : m_out(out)
    , m_err(err)
    , m_progress(progress) {}

int PostJobTool::run(const QStringList &arguments) {
    m_program =
        arguments.isEmpty() ? QStringLiteral("orvex-postjob") : QFileInfo(arguments.first()).fileName();
    if (arguments.size() < 2) {
        m_err << globalHelp(m_program);
        return BadInput;
    }
    const QString command = arguments.at(1);
    QStringList rest = arguments.mid(2);
    if (command == QLatin1StringView("--help") || command == QLatin1StringView("-h") ||
        command == QLatin1StringView("help")) {
        if (!rest.isEmpty() && command == QLatin1StringView("help")) {
            // "help post" is "post --help".
            const QString topic = rest.first();
            if (topic == PostCommand)
                return runPost({QStringLiteral("--help")});
            if (topic == LogCommand)
                return runLog({QStringLiteral("--help")});
            if (topic == HistoryCommand)
                return runHistory({QStringLiteral("--help")});
            return badInput(QStringLiteral("unknown command \"%1\"").arg(topic), QString());
        }
        m_out << globalHelp(m_program);
        return Success;
    }
    if (command == QLatin1StringView("--version")) {
        m_out << m_program << ' ' << Identity::VersionText << '\n';
        return Success;
    }
    if (command == PostCommand)
        return runPost(rest);
    if (command == LogCommand)
        return runLog(rest);
    if (command == HistoryCommand)
        return runHistory(rest);
    return badInput(QStringLiteral("unknown command \"%1\"").arg(command), QString());
}

std::optional<int> PostJobTool::parseCommand(QCommandLineParser &parser, const QCommandLineOption &helpOption,
                                             const QString &command, const QString &synopsis,
                                             const QStringList &arguments) {
    if (!parser.parse(QStringList{m_program} + arguments))
        return badInput(parser.errorText(), command);
    if (parser.isSet(helpOption)) {
        m_out << commandHelp(parser, QStringLiteral("Usage: %1 %2 %3").arg(m_program, command, synopsis));
        return Success;
    }
    return std::nullopt;
}

int PostJobTool::runPost(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(PostDescription));
    const QCommandLineOption helpOption = helpOptionOf(PostCommand);
    const QCommandLineOption actionOption({QStringLiteral("a"), QStringLiteral("action")},
                                          QStringLiteral("The action word of the listing, such as Add."),
                                          QStringLiteral("word"));
    const QCommandLineOption fieldOption({QStringLiteral("f"), QStringLiteral("field")},
                                         QStringLiteral("One field of the listing; repeat in posting order."),
                                         QStringLiteral("Name=Value"));
    const QCommandLineOption fileOption(QStringLiteral("file"),
                                        QStringLiteral("Post the listings of a JSON file (see above)."),
                                        QStringLiteral("path"));
    const QCommandLineOption previewOption(
        QStringLiteral("preview"),
        QStringLiteral("Print the document each listing would post, and post nothing."));
    parser.addOptions({helpOption, actionOption, fieldOption, fileOption, previewOption});

    if (const std::optional<int> done =
            parseCommand(parser, helpOption, PostCommand, QStringLiteral("[options]"), arguments))
        return *done;
    if (!parser.positionalArguments().isEmpty())
        return badInput(unexpectedArgument(parser.positionalArguments().first()), PostCommand);

    QList<Listing> listings;
    if (parser.isSet(fileOption)) {
        if (parser.isSet(actionOption) || parser.isSet(fieldOption))
            return badInput(QStringLiteral("--file cannot be combined with --action or --field"),
                            PostCommand);
        const QStringList files = parser.values(fileOption);
        if (files.size() > 1)
            return badInput(QStringLiteral("give --file once"), PostCommand);
        QByteArray content;
        QString error;
        if (!readListingsFile(files.first(), &content, &error))
            return badInput(QStringLiteral("cannot read %1: %2").arg(files.first(), error), PostCommand);
        listings = parseListings(content, &error);
        if (listings.isEmpty()) {
            const QString name =
                files.first() == QLatin1StringView("-") ? QStringLiteral("standard input") : files.first();
            return badInput(QStringLiteral("%1: %2").arg(name, error), PostCommand);
        }
    } else {
        if (!parser.isSet(actionOption))
            return badInput(QStringLiteral("give --action and --field, or --file"), PostCommand);
        const QStringList actions = parser.values(actionOption);
        if (actions.size() > 1)
            return badInput(QStringLiteral("give --action once"), PostCommand);
        if (actions.first().isEmpty())
            return badInput(QStringLiteral("the action word is empty"), PostCommand);
        Listing listing;
        listing.action = actions.first();
        for (const QString &argument : parser.values(fieldOption)) {
            std::pair<QString, QString> field;
            if (!parseFieldArgument(argument, &field)) {
                return badInput(QStringLiteral("--field needs Name=Value with a non-empty name, got \"%1\"")
                                    .arg(argument),
                                PostCommand);
            }
            listing.fields.append(std::move(field));
        }
        listings.append(std::move(listing));
    }

    if (parser.isSet(previewOption)) {
        printPreview(listings);
        return Success;
    }
    return postListings(listings);
}

int PostJobTool::runLog(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(LogDescription));
    const QCommandLineOption helpOption = helpOptionOf(LogCommand);
    parser.addOption(helpOption);
    parser.addPositionalArgument(QStringLiteral("SubName"), QStringLiteral("Who writes the record."));
    parser.addPositionalArgument(QStringLiteral("Message"),
                                 QStringLiteral("The record's message (optional)."),
                                 QStringLiteral("[Message]"));

    if (const std::optional<int> done = parseCommand(
            parser, helpOption, LogCommand, QStringLiteral("[options] SubName [Message]"), arguments))
        return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return badInput(QStringLiteral("give SubName and, optionally, Message"), LogCommand);
    if (positional.size() > 2)
        return badInput(unexpectedArgument(positional.at(2)), LogCommand);

    try {
        RemotePostJob job;
        if (positional.size() == 1)
            job.WriteLog(positional.at(0));
        else
            job.WriteLog(positional.at(0), positional.at(1));
        job.release();
    } catch (const AutomationError &error) {
        m_err << m_program << ": " << describeError(error) << '\n';
        return PostingFailed;
    }
    return Success;
}

int PostJobTool::runHistory(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(HistoryDescription));
    const QCommandLineOption helpOption = helpOptionOf(HistoryCommand);
    const QCommandLineOption dateOption(QStringLiteral("date"),
                                        QStringLiteral("The day whose log is read (default today)."),
                                        QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption jobOption(
        QStringLiteral("job"), QStringLiteral("Only the postings of this job code."), QStringLiteral("code"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print a JSON array of postings instead of a table."));
    const QCommandLineOption logOption(QStringLiteral("log"),
                                       QStringLiteral("Read this log file instead of the day's log."),
                                       QStringLiteral("file"));
    parser.addOptions({helpOption, dateOption, jobOption, jsonOption, logOption});

    if (const std::optional<int> done =
            parseCommand(parser, helpOption, HistoryCommand, QStringLiteral("[options]"), arguments))
        return *done;
    if (!parser.positionalArguments().isEmpty())
        return badInput(unexpectedArgument(parser.positionalArguments().first()), HistoryCommand);
    for (const QCommandLineOption &option : {dateOption, jobOption, logOption}) {
        if (parser.values(option).size() > 1)
            return badInput(QStringLiteral("give --%1 once").arg(option.names().constFirst()),
                            HistoryCommand);
    }

    QDate day = QDate::currentDate();
    if (parser.isSet(dateOption)) {
        day = QDate::fromString(parser.value(dateOption), Qt::ISODate);
        if (!day.isValid())
            return badInput(
                QStringLiteral("--date needs YYYY-MM-DD, got \"%1\"").arg(parser.value(dateOption)),
                HistoryCommand);
    }

    QString error;
    const QString path = parser.isSet(logOption) ? parser.value(logOption) : registeredLogFile(day, &error);
    std::optional<ActivityLog> log;
    if (!path.isEmpty()) {
        log = ActivityLog::fromFile(path, &error);
        if (!log)
            error = QStringLiteral("cannot read the activity log %1: %2").arg(path, error);
    }
    if (!log) {
        m_err << m_program << ": " << error << '\n';
        m_err.flush();
        return LogUnreadable;
    }

    QList<LoggedPosting> postings = log->postings();
    if (parser.isSet(jobOption)) {
        const QString jobCode = parser.value(jobOption);
        postings.removeIf([&jobCode](const LoggedPosting &posting) { return posting.jobCode != jobCode; });
    }
    if (parser.isSet(jsonOption))
        printHistoryJson(m_out, postings);
    else
        printHistoryTable(m_out, postings, day);
    return Success;
}

int PostJobTool::postListings(const QList<Listing> &listings) {
    QList<ListingResult> results;
    results.reserve(listings.size());
    for (const Listing &listing : listings)
        results.append({listing.jobCode(), QStringLiteral("(not posted)")});

    std::unique_ptr<RemotePostJob> job;
    try {
        job = std::make_unique<RemotePostJob>();
    } catch (const AutomationError &error) {
        m_err << m_program << ": cannot create " << QString::fromLatin1(Identity::ProgId) << ": "
              << describeError(error) << '\n';
        m_err.flush();
        return PostingFailed;
    }

    bool allPosted = true;
    for (qsizetype i = 0; i < listings.size(); ++i) {
        if (stopRequested) {
            clearProgress();
            m_err << m_program << ": interrupted; listings from " << i + 1 << " on were not posted\n";
            m_err.flush();
            allPosted = false;
            break;
        }
        const Listing &listing = listings.at(i);
        showProgress(i, listings.size(), listing);
        try {
            for (const auto &[name, value] : listing.fields)
                job->Field(name, value);
            results[i].result = job->Action(listing.action);
            if (!results.at(i).result.startsWith(u'S'))
                allPosted = false;
        } catch (const AutomationError &error) {
            clearProgress();
            m_err << m_program << ": listing " << i + 1 << ": " << describeError(error) << '\n';
            m_err.flush();
            allPosted = false;
            // The board may hold it, so it is not sent again; the listings after it go to a new server.
            if (error.number() == ErrorNumber::OutcomeUnknown) {
                results[i].result = QStringLiteral("unknown");
                continue;
            }
            results[i].result = QStringLiteral("(error)");
            break;
        }
    }
    clearProgress();
    try {
        job->release();
    } catch (const AutomationError &error) {
        m_err << m_program << ": releasing the object: " << describeError(error) << '\n';
    }
    printResultTable(m_out, results);
    return allPosted ? Success : PostingFailed;
}

void PostJobTool::requestStop() {
    stopRequested = 1;
}

void PostJobTool::printPreview(const QList<Listing> &listings) {
    for (const Listing &listing : listings)
        m_out << postingDocument(listing.action, fieldElements(listing)) << '\n';
    m_out.flush();
}

void PostJobTool::showProgress(qsizetype index, qsizetype count, const Listing &listing) {
    if (!m_progress)
        return;
    m_err << "\r\x1b[K"
          << "Posting listing " << index + 1 << " of " << count;
    if (!listing.jobCode().isEmpty())
        m_err << " (" << listing.jobCode() << ')';
    m_err.flush();
}

void PostJobTool::clearProgress() {
    if (!m_progress)
        return;
    m_err << "\r\x1b[K";
    m_err.flush();
}

int PostJobTool::badInput(const QString &message, const QString &command) {
    m_err << m_program << ": " << message << '\n';
    if (command.isEmpty())
        m_err << "Run \"" << m_program << " --help\" for the commands.\n";
    else
        m_err << "Run \"" << m_program << ' ' << command << " --help\" for its options.\n";
    m_err.flush();
    return BadInput;
}

} // namespace Orvex
