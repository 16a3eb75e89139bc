#include "activitylogfile.h"
#include "commandline_p.h"
#include "files.h"
#include "historytable.h"
#include "postjobtool.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>

namespace Orvex {

namespace {

const char HistoryDescription[] =
    "Lists postings: date, time, action, job code and result (\"S\" and the job id; \"F\" and\n"
    "why: the HTTP status when it was not 200, the error's description and number, or the\n"
    "board's refusal; \"unknown\" when the exchange has no recorded end).\n"
    "\n"
    "Each day is read from its posting journal (OrvexKelPostJobs YYYY-MM-DD.jsonl), which the\n"
    "server writes beside the activity log and which no board reply can forge. A day written\n"
    "before the journal existed is read from its activity log instead, whose records name no\n"
    "process: there, when several servers wrote at once, two overlapping postings may show each\n"
    "other's results, and the board's reply is shown decoded. A day without postings lists\n"
    "nothing.\n"
    "\n"
    "The files lie beside the registered server (the Exec= program of\n"
    "OrvexKelPostJob.PostJob.service in $XDG_DATA_HOME/dbus-1/services, then in each\n"
    "$XDG_DATA_DIRS folder's), or in $XDG_STATE_HOME/OrvexKelPostJob when the user cannot write\n"
    "to that folder.\n"
    "\n"
    "Exit status: 0 when read (also when there was nothing), 2 for bad input or a file that is\n"
    "not a regular file, not a journal or log, or unreadable, 4 when no registered server\n"
    "names the folder (give --log).";

std::optional<QDate> parseDay(const QString &text) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    return day.isValid() && text.size() == 10 ? std::optional<QDate>(day) : std::nullopt;
}

// A file named by the user: a journal by its name, else an activity log.
ActivityLog::ReadResult readAnyFile(const QString &path, QList<HistoryPosting> *postings, QString *error) {
    if (path.endsWith(QLatin1StringView(".jsonl"))) {
        QList<JournalPosting> journal;
        const auto result = JournalReader::read(path, &journal, error);
        for (const JournalPosting &posting : std::as_const(journal))
            postings->append(HistoryPosting::fromJournal(posting));
        return ActivityLog::ReadResult(int(result));
    }
    QList<LoggedPosting> logged;
    const auto result = ActivityLog::read(path, &logged, error);
    for (const LoggedPosting &posting : std::as_const(logged))
        postings->append(HistoryPosting::fromLog(posting));
    return result;
}

// One day: its journal, else its log. Missing files are an empty day.
bool readDay(const QString &logFile, QList<HistoryPosting> *postings, QString *error, QString *failedPath) {
    const QString journal = journalFileOf(logFile);
    for (const QString &path : {journal, logFile}) {
        switch (readAnyFile(path, postings, error)) {
        case ActivityLog::ReadResult::Read:
            return true;
        case ActivityLog::ReadResult::Refused:
            *failedPath = path;
            return false;
        case ActivityLog::ReadResult::Missing:
            break;
        }
    }
    return true;
}

} // namespace

int PostJobTool::runHistory(const QStringList &arguments) {
    const QString name = QStringLiteral("history");
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(HistoryDescription));
    const QCommandLineOption helpOption = helpOptionOf(name);
    const QCommandLineOption dateOption(QStringLiteral("date"),
                                        QStringLiteral("The one day to list (default today)."),
                                        QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption fromOption(QStringLiteral("from"),
                                        QStringLiteral("The first day to list (default: --to, or today)."),
                                        QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption toOption(QStringLiteral("to"),
                                      QStringLiteral("The last day to list (default today)."),
                                      QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption jobOption(
        QStringLiteral("job"), QStringLiteral("Only the postings of this job code."), QStringLiteral("code"));
    const QCommandLineOption resultOption(QStringLiteral("result"),
                                          QStringLiteral("Only the postings with this result."),
                                          QStringLiteral("S|F|unknown"));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral(
            "Print a JSON array of postings, under the journal's field names, instead of a table."));
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Read this file instead of the days' files: a journal when its name ends in .jsonl, "
                       "else an activity log. Dates given filter its postings."),
        QStringLiteral("file"));
    parser.addOptions(
        {helpOption, dateOption, fromOption, toOption, jobOption, resultOption, jsonOption, logOption});

    if (const std::optional<int> done = parseCommand(parser, helpOption, name, arguments))
        return *done;
    if (!parser.positionalArguments().isEmpty())
        return badInput(unexpectedArgument(parser.positionalArguments().first()), name);
    for (const QCommandLineOption &option :
         {dateOption, fromOption, toOption, jobOption, resultOption, logOption}) {
        if (parser.values(option).size() > 1)
            return badInput(QStringLiteral("give --%1 once").arg(option.names().constFirst()), name);
    }
    if (parser.isSet(dateOption) && (parser.isSet(fromOption) || parser.isSet(toOption)))
        return badInput(QStringLiteral("give --date, or --from and --to"), name);

    QDate from = QDate::currentDate();
    QDate to = from;
    for (const auto &[option, day] :
         {std::pair{&dateOption, &from}, std::pair{&fromOption, &from}, std::pair{&toOption, &to}}) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<QDate> parsed = parseDay(parser.value(*option));
        if (!parsed) {
            return badInput(QStringLiteral("--%1 needs YYYY-MM-DD, got \"%2\"")
                                .arg(option->names().constFirst(), parser.value(*option)),
                            name);
        }
        *day = *parsed;
    }
    if (parser.isSet(dateOption))
        to = from;
    else if (parser.isSet(toOption) && !parser.isSet(fromOption))
        from = to;
    if (from > to)
        return badInput(QStringLiteral("--from is after --to"), name);
    const QString resultFilter = parser.value(resultOption);
    if (parser.isSet(resultOption) && resultFilter != QLatin1StringView("S") &&
        resultFilter != QLatin1StringView("F") && resultFilter != QLatin1StringView("unknown"))
        return badInput(QStringLiteral("--result needs S, F or unknown, got \"%1\"").arg(resultFilter), name);

    QList<HistoryPosting> postings;
    QString error;
    QString failedPath;
    bool read = true;
    if (parser.isSet(logOption)) {
        failedPath = parser.value(logOption);
        read = readAnyFile(failedPath, &postings, &error) != ActivityLog::ReadResult::Refused;
        const bool datesGiven =
            parser.isSet(dateOption) || parser.isSet(fromOption) || parser.isSet(toOption);
        if (datesGiven) {
            postings.removeIf([&](const HistoryPosting &posting) {
                return posting.time.date() < from || posting.time.date() > to;
            });
        }
    } else {
        const QString folder = componentFilesFolder(&error);
        if (folder.isEmpty()) {
            m_err << m_program << ": " << error << "; give --log\n";
            m_err.flush();
            return NoServer;
        }
        for (QDate day = from; read && day <= to; day = day.addDays(1))
            read = readDay(Files::nativePath(activityLogFile(folder, day)), &postings, &error, &failedPath);
    }
    if (!read) {
        m_err << m_program << ": cannot read " << failedPath << ": " << error << '\n';
        m_err.flush();
        return BadInput;
    }

    if (parser.isSet(jobOption)) {
        const QString jobCode = parser.value(jobOption);
        postings.removeIf([&](const HistoryPosting &posting) { return posting.jobCode != jobCode; });
    }
    if (parser.isSet(resultOption))
        postings.removeIf(
            [&](const HistoryPosting &posting) { return posting.resultName() != resultFilter; });

    if (parser.isSet(jsonOption)) {
        QJsonArray array;
        for (const HistoryPosting &posting : std::as_const(postings))
            array.append(historyObject(posting));
        m_out << QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
        m_out.flush();
    } else {
        printHistoryTable(m_out, postings);
    }
    return Success;
}

} // namespace Orvex
