#include "activitylogfile.h"
#include "boardendpoint.h"
#include "commandline_p.h"
#include "componentsettings.h"
#include "files.h"
#include "historytable.h"
#include "identity.h"
#include "journalfields.h"
#include "postingdocument.h"
#include "postingoutcome.h"
#include "postjobtool.h"
#include "printabletext.h"
#include "remoteerror.h"
#include "remotepostjob.h"
#include "urltext.h"
#include "wireencoding.h"
#include "xmltext.h"

#include <QCommandLineParser>
#include <QDBusConnection>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstring>
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
    "A file can be run again: a listing whose action and job code got \"S\" within --since days,\n"
    "as the posting journal tells, is skipped, and one whose outcome was unknown is held back\n"
    "until --resend-unknown; --force posts everything.\n"
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
// A journal a day is read for each day looked back; ten years is more than any rerun needs.
constexpr int MaxSinceDays = 3660;

// What the signal handler may touch: flags, and the in-flight listing's row prepared in advance, in one
// of two buffers so that the handler never sees one half written.
volatile std::sig_atomic_t postingNow = 0;
volatile std::sig_atomic_t interrupts = 0;
constexpr std::size_t InFlightCapacity = 8192;
char inFlightText[2][InFlightCapacity];
volatile std::sig_atomic_t inFlightLength[2] = {0, 0};
volatile std::sig_atomic_t inFlightSlot = -1;

void writeAll(int fd, const char *data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0)
            return;
        data += written;
        size -= std::size_t(written);
    }
}

void setInFlight(const QByteArray &text) {
    const int slot = inFlightSlot == 0 ? 1 : 0;
    const std::size_t size = std::min<std::size_t>(std::size_t(text.size()), InFlightCapacity);
    std::memcpy(inFlightText[slot], text.constData(), size);
    inFlightLength[slot] = std::sig_atomic_t(size);
    inFlightSlot = slot;
}

void clearInFlight() {
    inFlightSlot = -1;
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

QString fieldElements(const Listing &listing) {
    QString elements;
    for (const auto &[name, value] : listing.fields)
        elements += fieldElement(name, value);
    return elements;
}

// What the journals of the last days say of a listing, matched by action and job code.
struct PastPosting {
    enum class State { None, Unknown, Succeeded };
    State state = State::None;
    QDateTime time;
    QString resultCode;
};

using PastPostings = QHash<std::pair<QString, QString>, PastPosting>;

// unreadable: the journals that exist but could not be read, with why.
PastPostings readPastPostings(const QString &folder, const QDateTime &since, QStringList *unreadable) {
    PastPostings past;
    const std::function<void(JournalPosting &&)> each = [&](JournalPosting &&posting) {
        if (posting.jobCode.isEmpty() || posting.time < since)
            return;
        PastPosting &known = past[{posting.action, posting.jobCode}];
        if (posting.succeeded())
            known = {PastPosting::State::Succeeded, posting.time.toLocalTime(), posting.resultCode};
        else if (!posting.ended && known.state == PastPosting::State::None)
            known = {PastPosting::State::Unknown, posting.time.toLocalTime(), QString()};
    };
    for (QDate day = since.date(); day <= QDate::currentDate(); day = day.addDays(1)) {
        QString error;
        const QString path = Files::nativePath(journalFile(folder, day));
        if (JournalReader::read(path, each, &error) == JournalReader::ReadResult::Refused)
            unreadable->append(QStringLiteral("%1: %2").arg(path, error));
    }
    return past;
}

} // namespace

struct PostOptions {
    bool batch = false;
    bool json = false;
    bool force = false;
    bool resendUnknown = false;
    int sinceDays = DefaultSinceDays;
    int maxFailures = 0; // 0: no limit
};

namespace {

// One listing's row, kept until it is printed.
struct Row {
    qsizetype number = 0;
    QString action;
    QString jobCode;
    enum class Kind { Succeeded, Failed, Unknown, Skipped, NotPosted } kind = Kind::NotPosted;
    PostingOutcome outcome;
    QString note; // the reason of an F, or why a listing was skipped or not posted
    QDateTime time;
};

class RowPrinter {
public:
    RowPrinter(QTextStream &out, bool json, const QList<Listing> &listings)
        : m_out(out)
        , m_json(json) {
        m_jobCodeWidth = m_jobCodeHeader.size();
        for (const Listing &listing : listings)
            m_jobCodeWidth = std::max(m_jobCodeWidth, printableText(listing.jobCode()).size());
    }

    void print(const Row &row) {
        m_out << text(row);
        m_out.flush();
    }

    QString text(const Row &row) {
        if (m_json)
            return QString::fromUtf8(QJsonDocument(object(row)).toJson(QJsonDocument::Compact)) + u'\n';
        QString line;
        if (!m_headerDone) {
            line = m_listingHeader + QStringLiteral("  ") + m_jobCodeHeader.leftJustified(m_jobCodeWidth) +
                   QStringLiteral("  Result\n");
        }
        return line + QString::number(row.number).rightJustified(m_listingHeader.size()) +
               QStringLiteral("  ") + printableText(row.jobCode).leftJustified(m_jobCodeWidth) +
               QStringLiteral("  ") + printableText(result(row)) + u'\n';
    }

    // The header goes out once, with the first row.
    void markPrinted() { m_headerDone = true; }

private:
    static QString result(const Row &row) {
        switch (row.kind) {
        case Row::Kind::Succeeded:
            return row.outcome.resultCode;
        case Row::Kind::Failed:
            return row.note.isEmpty() ? QStringLiteral("F") : QStringLiteral("F ") + row.note;
        case Row::Kind::Unknown:
            return QStringLiteral("unknown");
        case Row::Kind::Skipped:
            return QStringLiteral("skipped (") + row.note + u')';
        case Row::Kind::NotPosted:
            break;
        }
        return row.note.isEmpty() ? QStringLiteral("(not posted)")
                                  : QStringLiteral("(not posted: ") + row.note + u')';
    }

    static QJsonObject object(const Row &row) {
        QJsonObject object{{QStringLiteral("listing"), row.number},
                           {QLatin1StringView(JournalField::ActionWord), printableJsonText(row.action)},
                           {QLatin1StringView(JournalField::JobCode), printableJsonText(row.jobCode)}};
        if (row.time.isValid())
            object.insert(QLatin1StringView(JournalField::Time),
                          row.time.toOffsetFromUtc(row.time.offsetFromUtc()).toString(Qt::ISODateWithMs));
        switch (row.kind) {
        case Row::Kind::Succeeded:
        case Row::Kind::Failed:
            object.insert(QLatin1StringView(JournalField::ResultCode),
                          printableJsonText(row.outcome.resultCode));
            object.insert(QLatin1StringView(JournalField::HttpStatus), row.outcome.httpStatus);
            object.insert(QLatin1StringView(JournalField::ErrorNumber), row.outcome.errorNumber);
            object.insert(QLatin1StringView(JournalField::ErrorDescription),
                          printableJsonText(withoutUserInfo(row.outcome.errorDescription)));
            if (row.kind == Row::Kind::Succeeded)
                object.insert(QLatin1StringView(JournalField::JobId),
                              printableJsonText(row.outcome.resultCode.mid(1)));
            else if (!row.note.isEmpty())
                object.insert(QStringLiteral("reason"), printableJsonText(row.note));
            break;
        case Row::Kind::Unknown:
            object.insert(QLatin1StringView(JournalField::ResultCode), QStringLiteral("unknown"));
            break;
        case Row::Kind::Skipped:
            object.insert(QLatin1StringView(JournalField::ResultCode), QStringLiteral("skipped"));
            object.insert(QStringLiteral("reason"), printableJsonText(row.note));
            break;
        case Row::Kind::NotPosted:
            object.insert(QLatin1StringView(JournalField::ResultCode), QStringLiteral("not posted"));
            if (!row.note.isEmpty())
                object.insert(QStringLiteral("reason"), printableJsonText(row.note));
            break;
        }
        return object;
    }

    QTextStream &m_out;
    bool m_json;
    const QString m_listingHeader = QStringLiteral("Listing");
    const QString m_jobCodeHeader = QStringLiteral("JobCode");
    qsizetype m_jobCodeWidth = 0;
    bool m_headerDone = false;
};

// The posting of one listing with its outcome, the reason of an F taken from the call's own reply.
PostingOutcome postListing(RemotePostJob &job, const Listing &listing) {
    for (const auto &[name, value] : listing.fields)
        job.Field(name, value);
    return job.ActionWithOutcome(listing.action);
}

// The listings to post, in order. A batch skips what got "S" and holds back what is unknown, unless
// told otherwise; a single posting of what got "S" today is only warned of.
QList<qsizetype> selectListings(const QList<Listing> &listings, const PostOptions &options,
                                const PastPostings &past, QList<Row> &rows, QTextStream &err,
                                const QString &program) {
    QList<qsizetype> toPost;
    for (qsizetype i = 0; i < listings.size(); ++i) {
        const Listing &listing = listings.at(i);
        const PastPosting known = past.value({listing.action, listing.jobCode()});
        if (!options.batch) {
            if (known.state == PastPosting::State::Succeeded) {
                err << program << ": warning: " << printableText(listing.jobCode()) << " got "
                    << printableText(known.resultCode) << " today at " << known.time.toString(u"HH:mm:ss")
                    << "; posting it again\n";
            }
        } else if (!options.force && known.state == PastPosting::State::Succeeded) {
            rows[i].kind = Row::Kind::Skipped;
            rows[i].note =
                QStringLiteral("%1 on %2").arg(known.resultCode, known.time.toString(u"yyyy-MM-dd HH:mm"));
            continue;
        } else if (!options.force && !options.resendUnknown && known.state == PastPosting::State::Unknown) {
            rows[i].note = QStringLiteral("unknown outcome on %1; give --resend-unknown")
                               .arg(known.time.toString(u"yyyy-MM-dd HH:mm"));
            continue;
        }
        toPost.append(i);
    }
    const qsizetype withoutCode = std::count_if(
        toPost.cbegin(), toPost.cend(), [&](qsizetype i) { return listings.at(i).jobCode().isEmpty(); });
    if (options.batch && !options.force && withoutCode > 0) {
        // The journal knows a listing by its job code: one without cannot be told from an earlier run.
        err << program << ": warning: " << withoutCode
            << " listing(s) without a JobCode field are posted whatever an earlier run did\n";
    }
    return toPost;
}

} // namespace

void PostJobTool::onInterruptSignal(int) {
    if (!postingNow)
        ::_exit(Interrupted);
    interrupts = interrupts + 1;
    if (interrupts == 1) {
        static const char notice[] =
            "\norvex-postjob: stopping once the listing in progress returns; interrupt "
            "again to quit at once\n";
        writeAll(STDERR_FILENO, notice, sizeof notice - 1);
        return;
    }
    const std::sig_atomic_t slot = inFlightSlot;
    if (slot >= 0)
        writeAll(STDOUT_FILENO, inFlightText[slot], std::size_t(inFlightLength[slot]));
    ::_exit(Interrupted);
}

int PostJobTool::runPost(const QStringList &arguments) {
    const QString name = QStringLiteral("post");
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(PostDescription));
    const QCommandLineOption helpOption = helpOptionOf(name);
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
        QStringLiteral("Print the target URL and the bytes each listing would post, and post nothing."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral("Print one JSON object per listing as it completes (JSON Lines), under the "
                       "journal's field names, instead of the table."));
    const QCommandLineOption sinceOption(
        QStringLiteral("since"),
        QStringLiteral("Skip a file's listings that got \"S\" within this many days (default %1).")
            .arg(DefaultSinceDays),
        QStringLiteral("days"));
    const QCommandLineOption forceOption(
        QStringLiteral("force"),
        QStringLiteral("Post every listing of the file, whatever the journal says."));
    const QCommandLineOption resendOption(
        QStringLiteral("resend-unknown"),
        QStringLiteral("Also post listings whose earlier outcome is unknown; the board may get them twice."));
    const QCommandLineOption maxFailuresOption(
        QStringLiteral("max-failures"),
        QStringLiteral("Stop after this many listings got \"F\"; the rest are not posted."),
        QStringLiteral("N"));
    parser.addOptions({helpOption, actionOption, fieldOption, fileOption, previewOption, jsonOption,
                       sinceOption, forceOption, resendOption, maxFailuresOption});

    if (const std::optional<int> done = parseCommand(parser, helpOption, name, arguments))
        return *done;
    if (!parser.positionalArguments().isEmpty())
        return badInput(unexpectedArgument(parser.positionalArguments().first()), name);

    PostOptions options;
    options.json = parser.isSet(jsonOption);
    options.force = parser.isSet(forceOption);
    options.resendUnknown = parser.isSet(resendOption);
    for (const auto &[option, target] :
         {std::pair{&sinceOption, &options.sinceDays}, std::pair{&maxFailuresOption, &options.maxFailures}}) {
        if (!parser.isSet(*option))
            continue;
        bool ok = false;
        *target = parser.value(*option).toInt(&ok);
        const bool tooFarBack = option == &sinceOption && *target > MaxSinceDays;
        if (!ok || *target < 1 || tooFarBack || parser.values(*option).size() > 1) {
            return badInput(
                QStringLiteral("give --%1 once, a whole number from 1 (--since up to %3), got \"%2\"")
                    .arg(option->names().constFirst(), parser.values(*option).join(u' '))
                    .arg(MaxSinceDays),
                name);
        }
    }

    QList<Listing> listings;
    if (parser.isSet(fileOption)) {
        if (parser.isSet(actionOption) || parser.isSet(fieldOption))
            return badInput(QStringLiteral("--file cannot be combined with --action or --field"), name);
        const QStringList files = parser.values(fileOption);
        if (files.size() > 1)
            return badInput(QStringLiteral("give --file once"), name);
        QByteArray content;
        QString error;
        if (!readListingsFile(files.first(), &content, &error))
            return badInput(QStringLiteral("cannot read %1: %2").arg(files.first(), error), name);
        listings = parseListings(content, &error);
        if (listings.isEmpty()) {
            const QString file =
                files.first() == QLatin1StringView("-") ? QStringLiteral("standard input") : files.first();
            return badInput(QStringLiteral("%1: %2").arg(file, error), name);
        }
        options.batch = true;
    } else {
        if (parser.isSet(forceOption) || parser.isSet(resendOption) || parser.isSet(sinceOption))
            return badInput(QStringLiteral("--force, --resend-unknown and --since go with --file"), name);
        if (!parser.isSet(actionOption))
            return badInput(QStringLiteral("give --action and --field, or --file"), name);
        const QStringList actions = parser.values(actionOption);
        if (actions.size() > 1)
            return badInput(QStringLiteral("give --action once"), name);
        if (actions.first().isEmpty())
            return badInput(QStringLiteral("the action word is empty"), name);
        Listing listing;
        listing.action = actions.first();
        if (const QString problem = XmlText::textProblem(listing.action); !problem.isEmpty())
            return badInput(QStringLiteral("the action word %1").arg(problem), name);
        for (const QString &argument : parser.values(fieldOption)) {
            std::pair<QString, QString> field;
            if (!parseFieldArgument(argument, &field)) {
                return badInput(QStringLiteral("--field needs Name=Value with a non-empty name, got \"%1\"")
                                    .arg(argument),
                                name);
            }
            QString error;
            if (!isWellFormedField(field, &error))
                return badInput(QStringLiteral("--field %1").arg(error), name);
            listing.fields.append(std::move(field));
        }
        listings.append(std::move(listing));
    }

    if (parser.isSet(previewOption)) {
        printPreview(listings);
        return Success;
    }
    return postListings(listings, options);
}

void PostJobTool::printPreview(const QList<Listing> &listings) {
    QString url = boardEndpointUrl();
    try {
        const ComponentSettings settings = ComponentSettings::read(settingsFile());
        if (!settings.importUrl.isEmpty())
            url = settings.importUrl;
    } catch (const AutomationError &error) {
        m_err << m_program << ": warning: " << printableText(withoutUserInfo(error.description())) << '\n';
        m_err.flush();
    }
    m_out << "POST " << printableText(withoutUserInfo(url)) << '\n';
    // The bytes as they go on the wire: ISO-8859-1, other characters as character references.
    for (const Listing &listing : listings)
        m_out << QString::fromLatin1(toWireBytes(postingDocument(listing.action, fieldElements(listing))))
              << '\n';
    m_out.flush();
}

int PostJobTool::postListings(const QList<Listing> &listings, const PostOptions &options) {
    QList<Row> rows(listings.size());
    for (qsizetype i = 0; i < listings.size(); ++i)
        rows[i] = {i + 1, listings.at(i).action, listings.at(i).jobCode(), Row::Kind::NotPosted, {}, {}, {}};
    RowPrinter printer(m_out, options.json, listings);
    auto print = [&](const Row &row) {
        clearProgress();
        printer.print(row);
        printer.markPrinted();
    };

    QString folderError;
    const QString folder = componentFilesFolder(&folderError);
    const QDateTime since = QDateTime::currentDateTime().addDays(options.batch ? -options.sinceDays : 0);
    const QDateTime startOfToday = QDateTime(QDate::currentDate(), QTime(0, 0));
    PastPostings past;
    if (folder.isEmpty()) {
        if (options.batch && !options.force)
            m_err << m_program << ": cannot tell what was posted before (" << folderError
                  << "); posting all\n";
    } else if (!options.batch || !options.force) {
        QStringList unreadable;
        past = readPastPostings(folder, options.batch ? since : startOfToday, &unreadable);
        for (const QString &problem : std::as_const(unreadable))
            m_err << m_program << ": warning: cannot read the journal " << printableText(problem) << '\n';
    }

    const QList<qsizetype> toPost = selectListings(listings, options, past, rows, m_err, m_program);
    const qsizetype skipped = std::count_if(rows.cbegin(), rows.cend(),
                                            [](const Row &row) { return row.kind == Row::Kind::Skipped; });
    if (skipped > 0) {
        m_err << m_program << ": skipping " << skipped << " listing(s) that got \"S\" within "
              << options.sinceDays << " day(s); --force posts them\n";
    }
    m_err.flush();

    qsizetype printed = 0;
    auto printUpTo = [&](qsizetype end) {
        for (; printed < end; ++printed)
            print(rows.at(printed));
    };

    std::unique_ptr<RemotePostJob> job;
    if (!toPost.isEmpty()) {
        if (!QDBusConnection::sessionBus().isConnected())
            return cannotCreate(QDBusConnection::sessionBus().lastError().message());
        try {
            job = std::make_unique<RemotePostJob>();
        } catch (const AutomationError &error) {
            return cannotCreate(describeError(error));
        }
    }

    postingNow = 1;
    int failures = 0;
    bool anyUnknown = false;
    qsizetype next = 0;
    for (; next < toPost.size(); ++next) {
        const qsizetype index = toPost.at(next);
        if (interrupts > 0) {
            clearProgress();
            m_err << m_program << ": interrupted; listings from " << index + 1 << " on were not posted\n";
            m_err.flush();
            break;
        }
        if (options.maxFailures > 0 && failures >= options.maxFailures) {
            m_err << m_program << ": stopped after " << failures << " failure(s) (--max-failures)\n";
            m_err.flush();
            break;
        }
        printUpTo(index);
        const Listing &listing = listings.at(index);
        Row &row = rows[index];
        showProgress(index, listings.size(), listing);
        Row unknownRow = row;
        unknownRow.kind = Row::Kind::Unknown;
        setInFlight(printer.text(unknownRow).toUtf8());
        bool stop = false;
        row.time = QDateTime::currentDateTime();
        try {
            row.outcome = postListing(*job, listing);
            row.kind = row.outcome.resultCode.startsWith(u'S') ? Row::Kind::Succeeded : Row::Kind::Failed;
            if (row.kind == Row::Kind::Failed) {
                row.note = failureReason(row.outcome.httpStatus, row.outcome.errorNumber,
                                         row.outcome.errorDescription, row.outcome.reply);
                ++failures;
            }
        } catch (const AutomationError &error) {
            clearProgress();
            const QString described = printableText(withoutUserInfo(describeError(error)));
            m_err << m_program << ": listing " << index + 1 << ": " << described << '\n';
            if (error.number() == ErrorNumber::OutcomeUnknown) {
                // The board may hold it, so it is not sent again; the listings after it go to a new server.
                row.kind = Row::Kind::Unknown;
                anyUnknown = true;
            } else {
                row.kind = Row::Kind::Failed;
                row.note = described;
                ++failures;
                stop = true;
            }
        }
        m_err.flush();
        print(row);
        printed = index + 1;
        clearInFlight();
        if (stop)
            break;
    }
    postingNow = 0;
    clearProgress();
    if (options.maxFailures > 0 && failures >= options.maxFailures) {
        for (qsizetype i = next; i < toPost.size(); ++i) {
            if (rows.at(toPost.at(i)).kind == Row::Kind::NotPosted && rows.at(toPost.at(i)).note.isEmpty())
                rows[toPost.at(i)].note = QStringLiteral("--max-failures reached");
        }
    }
    printUpTo(rows.size());
    if (job) {
        try {
            job->release();
        } catch (const AutomationError &error) {
            m_err << m_program << ": releasing the object: " << printableText(describeError(error)) << '\n';
            m_err.flush();
        }
    }
    if (interrupts > 0)
        return Interrupted;
    if (failures > 0)
        return SomeFailed;
    const bool heldBack = std::any_of(rows.cbegin(), rows.cend(),
                                      [](const Row &row) { return row.kind == Row::Kind::NotPosted; });
    return anyUnknown || heldBack ? SomeUnknown : Success;
}

} // namespace Orvex
