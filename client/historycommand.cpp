#include "activitylogfile.h"
#include "commandline_p.h"
#include "files.h"
#include "historytable.h"
#include "postjobtool.h"

#include <QCommandLineParser>
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

using Sink = std::function<void(HistoryPosting &&)>;

// A file named by the user: a journal by its name, else an activity log.
ActivityLog::ReadResult readAnyFile(const QString &path, const Sink &sink, QString *error) {
    if (path.endsWith(QLatin1StringView(".jsonl"))) {
        const std::function<void(JournalPosting &&)> each = [&sink](JournalPosting &&posting) {
            sink(HistoryPosting::fromJournal(posting));
        };
        return JournalReader::read(path, each, error);
    }
    const std::function<void(LoggedPosting &&)> each = [&sink](LoggedPosting &&posting) {
        sink(HistoryPosting::fromLog(posting));
    };
    return ActivityLog::read(path, each, error);
}

// One day: its journal, else its log. Missing files are an empty day.
bool readDay(const QString &logFile, const Sink &sink, QString *error, QString *failedPath) {
    const QString journal = journalFileOf(logFile);
    for (const QString &path : {journal, logFile}) {
        switch (readAnyFile(path, sink, error)) {
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
    // Each day costs two files looked for, twice; a range wider than this is a typo in a year.
    constexpr qint64 MaxDays = 3660;
    if (from.daysTo(to) >= MaxDays)
        return badInput(QStringLiteral("give at most %1 days from --from to --to").arg(MaxDays), name);
    const QString resultFilter = parser.value(resultOption);
    if (parser.isSet(resultOption) && resultFilter != QLatin1StringView("S") &&
        resultFilter != QLatin1StringView("F") && resultFilter != QLatin1StringView("unknown"))
        return badInput(QStringLiteral("--result needs S, F or unknown, got \"%1\"").arg(resultFilter), name);

    const bool datesGiven = parser.isSet(dateOption) || parser.isSet(fromOption) || parser.isSet(toOption);
    const QString jobCode = parser.value(jobOption);
    auto wanted = [&](const HistoryPosting &posting) {
        if (parser.isSet(logOption) && datesGiven && (posting.time.date() < from || posting.time.date() > to))
            return false;
        if (parser.isSet(jobOption) && posting.jobCode != jobCode)
            return false;
        return !parser.isSet(resultOption) || posting.resultName() == resultFilter;
    };
    QString folder;
    if (!parser.isSet(logOption)) {
        QString error;
        folder = componentFilesFolder(&error);
        if (folder.isEmpty()) {
            m_err << m_program << ": " << error << "; give --log\n";
            m_err.flush();
            return NoServer;
        }
    }
    // Every file is read twice, so that nothing is held: once to check it and measure the table, then to
    // print; a file refused on the first reading prints nothing.
    auto readAll = [&](const Sink &sink, QString *error, QString *failedPath) {
        const Sink filtered = [&](HistoryPosting &&posting) {
            if (wanted(posting))
                sink(std::move(posting));
        };
        if (parser.isSet(logOption)) {
            *failedPath = parser.value(logOption);
            return readAnyFile(*failedPath, filtered, error) != ActivityLog::ReadResult::Refused;
        }
        for (QDate day = from; day <= to; day = day.addDays(1)) {
            if (!readDay(Files::nativePath(activityLogFile(folder, day)), filtered, error, failedPath))
                return false;
        }
        return true;
    };

    HistoryTable table;
    const bool json = parser.isSet(jsonOption);
    QString error;
    QString failedPath;
    if (!readAll([&](HistoryPosting &&posting) { table.measure(posting); }, &error, &failedPath)) {
        m_err << m_program << ": cannot read " << failedPath << ": " << error << '\n';
        m_err.flush();
        return BadInput;
    }
    bool first = true;
    const Sink print = [&](HistoryPosting &&posting) {
        if (!json) {
            table.print(m_out, posting);
            return;
        }
        const QByteArray object = QJsonDocument(historyObject(posting)).toJson(QJsonDocument::Compact);
        m_out << (first ? "[\n  " : ",\n  ") << QString::fromUtf8(object);
        first = false;
    };
    // A file that changed in between (a server appending) is read as it is now.
    readAll(print, &error, &failedPath);
    if (json)
        m_out << (first ? "[]\n" : "\n]\n");
    m_out.flush();
    return Success;
}

} // namespace Orvex
