#include "historycommand.h"

#include "console.h"
#include "historysource.h"
#include "settingsfiles.h"

#include <QCommandLineParser>
#include <QJsonDocument>

namespace Orvex {

namespace {

const char HistoryDescription[] =
    "Lists postings: date, time, board, action, job code and result (\"S\" and the job id; \"F\"\n"
    "and why: the HTTP status when it was not 200, the error's description and number, or the\n"
    "board's refusal; \"unknown\" when the exchange has no recorded end). Each time is the local\n"
    "time where the posting was made. --latest lists, for each job code and board, its last\n"
    "posting of any day: what is live where.\n"
    "\n"
    "The postings are read from the posting journal (OrvexKelPostJob.sqlite3), which the server\n"
    "writes beside the activity log and which no board reply can forge; the journals of earlier\n"
    "versions (OrvexKelPostJobs YYYY-MM-DD.jsonl) are imported into it once. The activity log is\n"
    "not read: a reply can look like a record there. A day without postings lists nothing.\n"
    "\n"
    "The files lie beside the registered server (the Exec= program of\n"
    "OrvexKelPostJob.PostJob.service in $XDG_DATA_HOME/dbus-1/services, then in each\n"
    "$XDG_DATA_DIRS folder's), or in $XDG_STATE_HOME/OrvexKelPostJob when the user cannot write\n"
    "to that folder.\n"
    "\n"
    "Exit status: 0 when read (also when there was nothing), 2 for bad input or a file that is\n"
    "missing, not a regular file, not a journal, or unreadable, 4 when no registered server\n"
    "names the folder (give --log).";

// Each day costs a file looked for, twice; a range wider than this is a typo in a year.
constexpr qint64 MaxDays = 3660;

std::optional<QDate> parseDay(const QString &text) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    return day.isValid() && text.size() == 10 ? std::optional<QDate>(day) : std::nullopt;
}

// A journal refused midway prints nothing: the rows are printed once all were read.
int printTable(const HistorySource &source, Console &console) {
    QString problem;
    return printHistoryTable(source, console.out(), &problem) ? Success : console.fail(problem, BadInput);
}

// JSON has no columns to measure: one reading. A journal refused midway leaves no array behind.
int printJson(const HistorySource &source, Console &console) {
    QTextStream &out = console.out();
    bool first = true;
    QString problem;
    const bool read = source.read(
        [&](HistoryPosting &&posting) {
            const QByteArray object = QJsonDocument(historyObject(posting)).toJson(QJsonDocument::Compact);
            out << (first ? "[\n  " : ",\n  ") << QString::fromUtf8(object);
            first = false;
        },
        &problem);
    if (read)
        out << (first ? "[]\n" : "\n]\n");
    out.flush();
    return read ? Success : console.fail(problem, BadInput);
}

} // namespace

HistoryCommand::HistoryCommand()
    : Command({"history", "List postings and their results from the posting journal", "[options]",
               HistoryDescription})
    , m_date(QStringLiteral("date"), QStringLiteral("The one day to list (default today)."),
             QStringLiteral("YYYY-MM-DD"))
    , m_from(QStringLiteral("from"), QStringLiteral("The first day to list (default: --to, or today)."),
             QStringLiteral("YYYY-MM-DD"))
    , m_to(QStringLiteral("to"), QStringLiteral("The last day to list (default today)."),
           QStringLiteral("YYYY-MM-DD"))
    , m_job(QStringLiteral("job"), QStringLiteral("Only the postings of this job code."),
            QStringLiteral("code"))
    , m_result(QStringLiteral("result"), QStringLiteral("Only the postings with this result."),
               QStringLiteral("S|F|unknown"))
    , m_board(QStringLiteral("board"),
              QStringLiteral("Only the postings to this board (\"default\": [General]'s)."),
              QStringLiteral("name"))
    , m_host(QStringLiteral("host"),
             QStringLiteral("Only the postings made on this machine (its HostName=, else its name), where "
                            "several share one journal."),
             QStringLiteral("name"))
    , m_latest(QStringLiteral("latest"),
               QStringLiteral("For each job code and board, only its last posting, of any day."))
    , m_json(QStringLiteral("json"),
             QStringLiteral(
                 "Print a JSON array of postings, under the journal's field names, instead of a table."))
    , m_log(QStringLiteral("log"),
            QStringLiteral("Read this posting journal (a database, or a .jsonl day of an earlier version) "
                           "instead of the server's. Dates given filter its postings."),
            QStringLiteral("file")) {}

void HistoryCommand::declare(QCommandLineParser &parser) {
    parser.addOptions({m_date, m_from, m_to, m_job, m_board, m_host, m_latest, m_result, m_json, m_log});
}

int HistoryCommand::run(const QCommandLineParser &parser, Console &console) {
    QString error;
    const std::optional<HistoryFilter> filter = filterOf(parser, &error);
    if (!filter)
        return console.badInput(error, name());
    QString folder;
    QString journal;
    if (filter->file.isEmpty()) {
        const std::optional<QString> setting = journalSetting(&error);
        if (!setting)
            return console.fail(error, BadInput);
        journal = *setting;
    }
    if (filter->file.isEmpty() && journal.isEmpty()) {
        folder = componentFilesFolder(&error);
        if (folder.isEmpty())
            return console.fail(error + QStringLiteral("; give --log"), NoServer);
    }
    const HistorySource source(folder, *filter, journal);
    return parser.isSet(m_json) ? printJson(source, console) : printTable(source, console);
}

std::optional<HistoryFilter> HistoryCommand::filterOf(const QCommandLineParser &parser,
                                                      QString *error) const {
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return std::nullopt;
    }
    for (const QCommandLineOption &option : {m_date, m_from, m_to, m_job, m_board, m_host, m_result, m_log}) {
        if (parser.values(option).size() > 1) {
            *error = QStringLiteral("give --%1 once").arg(option.names().constFirst());
            return std::nullopt;
        }
    }
    HistoryFilter filter;
    if (!readDays(parser, filter, error))
        return std::nullopt;
    const QString result = parser.value(m_result);
    if (parser.isSet(m_result) && result != u"S" && result != u"F" && result != u"unknown") {
        *error = QStringLiteral("--result needs S, F or unknown, got \"%1\"").arg(result);
        return std::nullopt;
    }
    if (parser.isSet(m_result))
        filter.result = result;
    if (parser.isSet(m_job))
        filter.jobCode = parser.value(m_job);
    if (parser.isSet(m_board))
        filter.board = parser.value(m_board);
    if (parser.isSet(m_host))
        filter.host = parser.value(m_host);
    filter.latest = parser.isSet(m_latest);
    filter.file = parser.value(m_log);
    return filter;
}

bool HistoryCommand::readDays(const QCommandLineParser &parser, HistoryFilter &filter, QString *error) const {
    if (parser.isSet(m_date) && (parser.isSet(m_from) || parser.isSet(m_to))) {
        *error = QStringLiteral("give --date, or --from and --to");
        return false;
    }
    if (parser.isSet(m_latest) && (parser.isSet(m_date) || parser.isSet(m_from) || parser.isSet(m_to))) {
        *error = QStringLiteral("--latest looks at every day: give it without --date, --from or --to");
        return false;
    }
    filter.from = filter.to = QDate::currentDate();
    for (const auto &[option, day] :
         {std::pair{&m_date, &filter.from}, std::pair{&m_from, &filter.from}, std::pair{&m_to, &filter.to}}) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<QDate> parsed = parseDay(parser.value(*option));
        if (!parsed) {
            *error = QStringLiteral("--%1 needs YYYY-MM-DD, got \"%2\"")
                         .arg(option->names().constFirst(), parser.value(*option));
            return false;
        }
        *day = *parsed;
    }
    if (parser.isSet(m_date))
        filter.to = filter.from;
    else if (parser.isSet(m_to) && !parser.isSet(m_from))
        filter.from = filter.to;
    filter.datesGiven = parser.isSet(m_date) || parser.isSet(m_from) || parser.isSet(m_to);
    if (filter.from > filter.to)
        *error = QStringLiteral("--from is after --to");
    else if (filter.from.daysTo(filter.to) >= MaxDays)
        *error = QStringLiteral("give at most %1 days from --from to --to").arg(MaxDays);
    return error->isEmpty();
}

} // namespace Orvex
