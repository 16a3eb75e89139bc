#include "postcommand.h"

#include "automationerror.h"
#include "boardendpoint.h"
#include "boardsettings.h"
#include "componentsettings.h"
#include "console.h"
#include "inireader.h"
#include "postingdocument.h"
#include "printabletext.h"
#include "settingsfiles.h"
#include "urltext.h"
#include "wireencoding.h"
#include "xmltext.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSet>

#include <unistd.h>

namespace Orvex {

namespace {

const char PostDescription[] =
    "Posts job listings to the board through the server and prints a row per listing as it\n"
    "completes (listing number, job code, result: \"S\" and the job id; \"F\" and why; \"unknown\";\n"
    "\"skipped\"; or \"not posted\").\n"
    "\n"
    "One listing from the command line:\n"
    "  post --action Add --field JobCode=J1 --field \"Title=R&D lead\"\n"
    "Fields are posted in the order given; a value may contain \"=\". A job code that got \"S\"\n"
    "today is posted again, with a warning.\n"
    "\n"
    "Several listings from a file (\"-\" reads standard input): a JSON array of listings,\n"
    "each with its action and its fields in order, every field a [name, value] pair\n"
    "or a {\"name\": .., \"value\": ..} object:\n"
    "  [{\"action\": \"Add\", \"fields\": [[\"JobCode\", \"J1\"], [\"Title\", \"R&D\"]]},\n"
    "   {\"action\": \"Add\", \"fields\": [{\"name\": \"JobCode\", \"value\": \"J2\"}]}]\n"
    "Names and values are texts. An object keyed by field name is refused: it loses the order.\n"
    "A field name must be an XML name, and no name, value or action may hold a character XML\n"
    "forbids (controls other than tab, CR and LF; U+FFFE, U+FFFF): the board could not read the\n"
    "document. Such a file is refused whole, before anything is sent.\n"
    "\n"
    "A spreadsheet's CSV export is read as well (a name ending in .csv, or --format csv): a header\n"
    "row naming the fields in order, an optional Action column (else --action, or Add); each row is\n"
    "numbered by the line it starts on. It is read as UTF-8 unless it starts with a byte order mark\n"
    "(UTF-8, UTF-16) or --encoding names its encoding: a spreadsheet's plain \"CSV\" export is often\n"
    "--encoding windows-1252; its \"CSV UTF-8\" needs no option. Cells are split at commas, or at\n"
    "the --delimiter, or at what a first line \"sep=;\" names (as spreadsheets write it). The whole\n"
    "file is checked before anything is sent, then read again as it is posted, so a large file\n"
    "starts at once and is never held in memory.\n"
    "\n"
    "A file can be run again: a listing whose board, action and job code got \"S\" within --since\n"
    "days, as the posting journal tells, is skipped, and one whose outcome was unknown is held back\n"
    "until --resend-unknown; --force posts everything. The JobCode field is what a rerun matches on.\n"
    "A batch does not start when the server cannot write its journal (give the account a folder of\n"
    "its own through XDG_STATE_HOME).\n"
    "\n"
    "--board NAME (repeatable) posts every listing to every board named in the settings, as many at\n"
    "once as their MaxInFlight allow; one row per listing and board.\n"
    "\n"
    "Each listing goes to the server in one call. When the server ends before a listing\n"
    "reached it (another client released its object), the listing is sent again to a new\n"
    "server. When the server is lost while it holds a listing, the board may or may not have\n"
    "it: unless the server's journal shows the exchange never started (sent again) or how it\n"
    "ended, it is not sent again and its result is \"unknown\". Posting stops at the first\n"
    "other error.\n"
    "An interrupt (Ctrl-C, SIGTERM, SIGHUP) stops after the listing in progress and releases the\n"
    "object; a second one prints that listing as \"unknown\" and quits at once.\n"
    "\n"
    "Exit status: 0 when every listing got \"S\" or was skipped, 1 when one got \"F\", 2 for bad\n"
    "input, 3 when an outcome is unknown, 4 without a bus or server, 130 when interrupted.";

constexpr int DefaultSinceDays = 7;
// Ten years is more than any rerun needs.
constexpr int MaxSinceDays = 3660;

QString fieldElements(const Listing &listing) {
    QString elements;
    for (const auto &[name, value] : listing.fields)
        elements += fieldElement(name, value);
    return elements;
}

// A whole number from least for --since or --max-failures, given once; false when it is not.
bool readCount(const QCommandLineParser &parser, const QCommandLineOption &option, int least, int most,
               int *target) {
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    *target = parser.value(option).toInt(&ok);
    return ok && *target >= least && *target <= most && parser.values(option).size() == 1;
}

// CSV is told by the file's name, or by --format for standard input and other names.
std::optional<bool> isCsv(const QString &format, const QString &file) {
    if (format.isEmpty())
        return file.endsWith(QLatin1StringView(".csv"), Qt::CaseInsensitive);
    if (format == QLatin1StringView("csv") || format == QLatin1StringView("json"))
        return format == QLatin1StringView("csv");
    return std::nullopt;
}

} // namespace

PostCommand::PostCommand()
    : Command({"post", "Post one listing (--action, --field) or the listings of a JSON or CSV file (--file)",
               "[options]", PostDescription})
    , m_action({QStringLiteral("a"), QStringLiteral("action")},
               QStringLiteral("The action word of the listing, such as Add."), QStringLiteral("word"))
    , m_field({QStringLiteral("f"), QStringLiteral("field")},
              QStringLiteral("One field of the listing; repeat in posting order."),
              QStringLiteral("Name=Value"))
    , m_file(QStringLiteral("file"), QStringLiteral("Post the listings of a JSON or CSV file (see above)."),
             QStringLiteral("path"))
    , m_preview(
          QStringLiteral("preview"),
          QStringLiteral("Print the target URL and the bytes each listing would post, and post nothing."))
    , m_json(QStringLiteral("json"),
             QStringLiteral("Print one JSON object per listing as it completes (JSON Lines), under the "
                            "journal's field names, instead of the table."))
    , m_since(QStringLiteral("since"),
              QStringLiteral("Skip a file's listings that got \"S\" within this many days (default %1).")
                  .arg(DefaultSinceDays),
              QStringLiteral("days"))
    , m_force(QStringLiteral("force"),
              QStringLiteral("Post every listing of the file, whatever the journal says."))
    , m_resendUnknown(
          QStringLiteral("resend-unknown"),
          QStringLiteral(
              "Also post listings whose earlier outcome is unknown; the board may get them twice."))
    , m_maxFailures(QStringLiteral("max-failures"),
                    QStringLiteral("Stop posting to a board after this many failures in a row that look "
                                   "like it is down (not sent, or HTTP 5xx); its other listings are not "
                                   "posted, and the other boards go on (default %1; 0 never stops).")
                        .arg(PostOptions().maxFailures),
                    QStringLiteral("N"))
    , m_board(QStringLiteral("board"),
              QStringLiteral("Post to the board of this name in the settings (repeatable; default: "
                             "the default board, [General])."),
              QStringLiteral("name"))
    , m_format(QStringLiteral("format"),
               QStringLiteral("The listings file's format, csv or json (default: csv for a name ending "
                              "in .csv, else json)."),
               QStringLiteral("csv|json"))
    , m_encoding(QStringLiteral("encoding"),
                 QStringLiteral("The CSV file's encoding, any name the system's converters know, such as "
                                "windows-1252, iso-8859-15 or utf-16 (default: UTF-8, or what the file's "
                                "byte order mark says)."),
                 QStringLiteral("name"))
    , m_delimiter(QStringLiteral("delimiter"),
                  QStringLiteral("What separates a CSV file's cells: , ; | or tab (default: what a first "
                                 "line \"sep=X\" says, else a comma)."),
                  QStringLiteral("char")) {}

void PostCommand::declare(QCommandLineParser &parser) {
    parser.addOptions({m_action, m_field, m_file, m_preview, m_json, m_since, m_force, m_resendUnknown,
                       m_maxFailures, m_board, m_format, m_encoding, m_delimiter});
}

void PostCommand::onInterruptSignal(int signal) {
    PostBatch::onInterruptSignal(signal);
}

int PostCommand::run(const QCommandLineParser &parser, Console &console) {
    if (!parser.positionalArguments().isEmpty())
        return console.badInput(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()), name());
    QString error;
    std::optional<PostOptions> options = optionsOf(parser, &error);
    std::optional<BatchListings> listings = options ? listingsOf(parser, &error) : std::nullopt;
    if (!listings)
        return console.badInput(error, name());
    if (parser.isSet(m_preview)) {
        printPreview(*listings, console);
        return Success;
    }
    if (const std::optional<int> stop = checkSettings(console))
        return *stop;
    std::optional<QList<BoardTarget>> boards = boardsOf(parser, &error);
    if (!boards)
        return console.badInput(error, name());
    options->boards = std::move(*boards);
    options->batch = parser.isSet(m_file);
    return PostBatch(*listings, *options, console).run();
}

std::optional<PostOptions> PostCommand::optionsOf(const QCommandLineParser &parser, QString *error) const {
    PostOptions options;
    options.sinceDays = DefaultSinceDays;
    options.json = parser.isSet(m_json);
    options.force = parser.isSet(m_force);
    options.resendUnknown = parser.isSet(m_resendUnknown);
    for (const auto &[option, least, most, target] :
         {std::tuple{&m_since, 1, MaxSinceDays, &options.sinceDays},
          std::tuple{&m_maxFailures, 0, std::numeric_limits<int>::max(), &options.maxFailures}}) {
        if (!readCount(parser, *option, least, most, target)) {
            *error = QStringLiteral("give --%1 once, a whole number from %4 (--since up to %3), got \"%2\"")
                         .arg(option->names().constFirst(), parser.values(*option).join(u' '))
                         .arg(MaxSinceDays)
                         .arg(least);
            return std::nullopt;
        }
    }
    if (!parser.isSet(m_file) && (options.force || options.resendUnknown || parser.isSet(m_since))) {
        *error = QStringLiteral("--force, --resend-unknown and --since go with --file");
        return std::nullopt;
    }
    return options;
}

std::optional<BatchListings> PostCommand::listingsOf(const QCommandLineParser &parser, QString *error) const {
    if (!parser.isSet(m_file)) {
        if (parser.isSet(m_format) || parser.isSet(m_encoding) || parser.isSet(m_delimiter)) {
            *error = QStringLiteral("--format, --encoding and --delimiter go with --file");
            return std::nullopt;
        }
        std::optional<Listing> listing = listingOfArguments(parser, error);
        return listing ? std::optional<BatchListings>(BatchListings(QList<Listing>{std::move(*listing)}))
                       : std::nullopt;
    }
    const QStringList files = parser.values(m_file);
    if (files.size() > 1 || parser.values(m_format).size() > 1) {
        *error = QStringLiteral("give --file and --format once");
        return std::nullopt;
    }
    return listingsOfFile(parser, error);
}

std::optional<BatchListings> PostCommand::listingsOfFile(const QCommandLineParser &parser,
                                                         QString *error) const {
    const QString file = parser.value(m_file);
    const std::optional<bool> csv = isCsv(parser.value(m_format), file);
    if (!csv) {
        *error = QStringLiteral("--format is csv or json, got \"%1\"").arg(parser.value(m_format));
        return std::nullopt;
    }
    // A CSV file's rows may leave out the action; a JSON file's listings each carry theirs.
    if (parser.isSet(m_field) || (parser.isSet(m_action) && !*csv)) {
        *error = QStringLiteral("--file cannot be combined with --field, nor a JSON file with --action");
        return std::nullopt;
    }
    const QString shownName = file == u"-" ? QStringLiteral("standard input") : file;
    if (*csv)
        return csvListingsOf(parser, error);
    if (parser.isSet(m_encoding) || parser.isSet(m_delimiter)) {
        *error = QStringLiteral("--encoding and --delimiter go with a CSV file; JSON is UTF-8");
        return std::nullopt;
    }
    const std::optional<QByteArray> content = readListingsFile(file, error);
    if (!content)
        return std::nullopt;
    QList<Listing> listings = parseListings(*content, error);
    if (listings.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(shownName, *error);
        return std::nullopt;
    }
    return BatchListings(std::move(listings));
}

std::optional<BatchListings> PostCommand::csvListingsOf(const QCommandLineParser &parser,
                                                        QString *error) const {
    CsvFormat format;
    if (parser.isSet(m_action))
        format.defaultAction = parser.value(m_action);
    if (QString problem; !isWellFormedAction(format.defaultAction, &problem)) {
        *error = QStringLiteral("the action word %1").arg(problem);
        return std::nullopt;
    }
    if (parser.values(m_encoding).size() > 1 || parser.values(m_delimiter).size() > 1) {
        *error = QStringLiteral("give --encoding and --delimiter once");
        return std::nullopt;
    }
    format.encoding = parser.value(m_encoding);
    if (parser.isSet(m_encoding)) {
        if (const QString problem = csvEncodingProblem(format.encoding); !problem.isEmpty()) {
            *error = printableText(problem);
            return std::nullopt;
        }
    }
    if (parser.isSet(m_delimiter) && (format.delimiter = csvDelimiter(parser.value(m_delimiter))) == 0) {
        *error = QStringLiteral("--delimiter is one of , ; | or tab, got \"%1\"")
                     .arg(printableText(parser.value(m_delimiter)));
        return std::nullopt;
    }
    ListingsSummary summary;
    std::unique_ptr<CsvListingFile> file = CsvListingFile::check(
        parser.value(m_file), format, [&summary](const CsvListing &read) { summary.add(read.listing); },
        error);
    if (!file)
        return std::nullopt;
    return BatchListings(std::move(file), summary);
}

std::optional<QList<BoardTarget>> PostCommand::boardsOf(const QCommandLineParser &parser,
                                                        QString *error) const {
    QStringList names = parser.values(m_board);
    if (names.isEmpty())
        names.append(BoardSettings::DefaultBoard.toString());
    const QString file = SettingsFiles::find().effective;
    QList<BoardTarget> boards;
    QSet<QString> seen;
    try {
        const BoardSettings settings = BoardSettings::read(file, ComponentSettings::read(file));
        for (const QString &name : std::as_const(names)) {
            if (!settings.names().contains(name, Qt::CaseInsensitive)) {
                const std::optional<QString> meant = likelyName(name, settings.names());
                *error = QStringLiteral("there is no board named \"%1\"%2; the boards are %3")
                             .arg(printableText(name),
                                  meant ? QStringLiteral(" (did you mean %1?)").arg(*meant) : QString(),
                                  settings.names().join(QStringLiteral(", ")));
                return std::nullopt;
            }
            const BoardSettings::Board &board = settings.board(name);
            // A board named twice would get every listing twice.
            if (!seen.contains(board.name.toCaseFolded())) {
                seen.insert(board.name.toCaseFolded());
                boards.append({board.name, board.settings.retryFor});
            }
        }
    } catch (const AutomationError &error_) {
        *error = printableText(withoutUserInfo(error_.description()));
        return std::nullopt;
    }
    return boards;
}

std::optional<Listing> PostCommand::listingOfArguments(const QCommandLineParser &parser,
                                                       QString *error) const {
    const QStringList actions = parser.values(m_action);
    if (actions.isEmpty())
        *error = QStringLiteral("give --action and --field, or --file");
    else if (actions.size() > 1)
        *error = QStringLiteral("give --action once");
    else if (QString problem; !isWellFormedAction(actions.first(), &problem))
        *error = QStringLiteral("the action word %1").arg(problem);
    if (!error->isEmpty())
        return std::nullopt;
    Listing listing{actions.first(), {}};
    for (const QString &argument : parser.values(m_field)) {
        std::pair<QString, QString> field;
        if (!parseFieldArgument(argument, &field))
            *error =
                QStringLiteral("--field needs Name=Value with a non-empty name, got \"%1\"").arg(argument);
        else if (QString problem; !isWellFormedField(field, &problem))
            *error = QStringLiteral("--field %1").arg(problem);
        if (!error->isEmpty())
            return std::nullopt;
        listing.fields.append(std::move(field));
    }
    return listing;
}

std::optional<int> PostCommand::checkSettings(Console &console) {
    const QString file = SettingsFiles::find().effective;
    warnOfUnreadLines(ProfileFile(file), file, console);
    try {
        ComponentSettings::read(file);
    } catch (const AutomationError &error) {
        // The server would refuse every object on it: a setting to correct, not a missing server.
        return console.fail(printableText(withoutUserInfo(error.description())), BadInput);
    }
    return std::nullopt;
}

void PostCommand::printPreview(const BatchListings &listings, Console &console) {
    QString url = boardEndpointUrl();
    try {
        const ComponentSettings settings = ComponentSettings::read(SettingsFiles::find().effective);
        if (!settings.importUrl.isEmpty())
            url = settings.importUrl;
    } catch (const AutomationError &error) {
        console.warn(printableText(withoutUserInfo(error.description())));
    }
    console.out() << "POST " << printableText(withoutUserInfo(url)) << '\n';
    // The bytes as they go on the wire: ISO-8859-1, other characters as character references.
    BatchListings::Cursor cursor = listings.cursor();
    QString error;
    while (const std::optional<std::pair<qsizetype, Listing>> read = cursor.next(&error)) {
        const Listing &listing = read->second;
        console.out() << QString::fromLatin1(
                             toWireBytes(postingDocument(listing.action, fieldElements(listing))))
                      << '\n';
    }
    console.out().flush();
}

} // namespace Orvex
