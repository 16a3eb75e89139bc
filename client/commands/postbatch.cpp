#include "postbatch.h"

#include "command.h"
#include "console.h"
#include "exchangelimits.h"
#include "historytable.h"
#include "localengine.h"
#include "postcalls.h"
#include "postgresdatabase.h"
#include "postrerun.h"
#include "printabletext.h"
#include "remoteerror.h"
#include "settingsfiles.h"
#include "urltext.h"

#include <QDBusConnection>

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace Orvex {

namespace {

// What the signal handler may touch: flags, and the in-flight listings' rows prepared in advance, in one
// of two buffers so that the handler never sees one half written.
volatile std::sig_atomic_t postingNow = 0;
volatile std::sig_atomic_t interrupts = 0;
constexpr std::size_t InFlightCapacity = 64 * 1024;
char inFlightText[2][InFlightCapacity];
volatile std::sig_atomic_t inFlightLength[2] = {0, 0};
volatile std::sig_atomic_t inFlightSlot = -1;

const char JournalRemedy[] = "Give the account a folder of its own that it can write, through XDG_STATE_HOME "
                             "(see the README's \"Machines without a desktop\")";

// The row of a listing left unsent because its board looked down.
const QString BoardDownNote = QStringLiteral("--max-failures reached");

// The bus refuses more than 128 replies outstanding on one connection.
constexpr int MostCallsOut = 100;
// A call the server certainly never ran goes again, to a new server, as often as the client library does.
constexpr int MostSends = ExchangeLimits::MostSends;

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

// Whether a batch leaves a listing out, with its row saying why; a single posting of what got "S" today
// is only warned of.
bool leftOut(const PastPosting &known, const PostOptions &options, PostRow &row) {
    if (!options.batch || options.force)
        return false;
    if (known.state == PastPosting::State::Succeeded) {
        row.kind = PostRow::Kind::Skipped;
        row.note = QStringLiteral("%1 on %2").arg(known.resultCode, known.time.toString(u"yyyy-MM-dd HH:mm"));
        return true;
    }
    if (!options.resendUnknown && known.state == PastPosting::State::Unknown) {
        row.note = QStringLiteral("unknown outcome on %1; give --resend-unknown")
                       .arg(known.time.toString(u"yyyy-MM-dd HH:mm"));
        return true;
    }
    return false;
}

bool isHeldByTheJournal(qint32 errorNumber) {
    return errorNumber == ErrorNumber::InFlightElsewhere || errorNumber == ErrorNumber::AlreadyPosted;
}

// A failure that says the board is down rather than that it refused this listing.
bool looksLikeOutage(const PostRow &row) {
    return row.kind == PostRow::Kind::Failed &&
           (row.outcome.deliveryClass == DeliveryClass::NotSent || row.outcome.httpStatus >= 500);
}

// The table shows the board only when there is more than one.
qsizetype boardWidth(const QList<BoardTarget> &boards) {
    qsizetype width = 0;
    for (const BoardTarget &board : boards)
        width = std::max(width, printableText(board.name).size());
    return boards.size() > 1 ? width : 0;
}

} // namespace

void ListingsSummary::add(const Listing &listing) {
    const QString jobCode = listing.jobCode();
    ++count;
    jobCodeWidth = std::max(jobCodeWidth, printableText(jobCode).size());
    withoutJobCode += jobCode.isEmpty() ? 1 : 0;
}

BatchListings::BatchListings(QList<Listing> listings)
    : m_listings(std::move(listings)) {
    for (const Listing &listing : std::as_const(m_listings))
        m_summary.add(listing);
}

BatchListings::BatchListings(std::unique_ptr<CsvListingFile> file, const ListingsSummary &summary)
    : m_csv(std::move(file))
    , m_summary(summary) {}

BatchListings::Cursor BatchListings::cursor() const {
    Cursor cursor;
    if (m_csv)
        cursor.m_csv = m_csv->cursor();
    else
        cursor.m_listings = &m_listings;
    return cursor;
}

std::optional<std::pair<qsizetype, Listing>> BatchListings::Cursor::next(QString *error) {
    if (!m_csv) {
        if (m_index == m_listings->size())
            return std::nullopt;
        ++m_index;
        return std::pair{m_index, m_listings->at(m_index - 1)};
    }
    std::optional<CsvListing> read = m_csv->next(error);
    if (!read)
        return std::nullopt;
    return std::pair{read->line, std::move(read->listing)};
}

PostBatch::PostBatch(const BatchListings &listings, const PostOptions &options, Console &console)
    : m_listings(listings)
    , m_options(options)
    , m_console(console)
    , m_printer(console.out(), options.json, listings.summary().jobCodeWidth, boardWidth(options.boards))
    , m_inFlight(options.boards.size(), 0)
    , m_failuresInARow(options.boards.size(), 0)
    , m_boardDown(options.boards.size(), false) {
    for (qsizetype board = 0; board < options.boards.size(); ++board)
        m_feeds.push_back(Feed{listings.cursor(), 0, {}, std::nullopt});
}

PostBatch::~PostBatch() = default;

void PostBatch::onInterruptSignal(int) {
    if (!postingNow)
        ::_exit(Interrupted);
    interrupts = interrupts + 1;
    if (interrupts == 1) {
        static const char notice[] = "\norvex-postjob: stopping once the listings in progress return; "
                                     "interrupt again to quit at once\n";
        writeAll(STDERR_FILENO, notice, sizeof notice - 1);
        return;
    }
    const std::sig_atomic_t slot = inFlightSlot;
    if (slot >= 0)
        writeAll(STDOUT_FILENO, inFlightText[slot], std::size_t(inFlightLength[slot]));
    ::_exit(Interrupted);
}

int PostBatch::run() {
    if (const std::optional<int> stop = plan())
        return *stop;
    // Each board reads up to its first listing to send: a rerun that skips them all needs no server.
    bool anyToSend = false;
    for (qsizetype board = 0; board < qsizetype(m_feeds.size()); ++board)
        anyToSend = nextTask(board).has_value() || anyToSend;
    if (m_planFailed)
        return BadInput;
    if (anyToSend) {
        if (!LocalEngine::isChosen() && !QDBusConnection::sessionBus().isConnected())
            return m_console.cannotCreate(QDBusConnection::sessionBus().lastError().message());
        QStringList boards;
        for (const BoardTarget &board : std::as_const(m_options.boards))
            boards.append(board.name);
        try {
            m_calls = PostCalls::create(boards);
        } catch (const AutomationError &error) {
            return m_console.cannotCreate(describeError(error));
        }
        if (const std::optional<int> stop = checkJournal()) {
            release();
            return *stop;
        }
    }
    postAll();
    printRest();
    if (m_skipped > 0)
        m_console.fail(
            QStringLiteral("skipped %1 listing(s) that got \"S\" within %2 day(s); --force posts them")
                .arg(m_skipped)
                .arg(m_options.sinceDays),
            0);
    release();
    return exitStatus();
}

std::optional<int> PostBatch::plan() {
    QString folderError;
    const QString folder = componentFilesFolder(&folderError);
    // Settings that cannot be read stop the batch as it reads its boards.
    QString settingsError;
    const QString journal = journalSetting(&settingsError).value_or(QString());
    const QString where = journal.isEmpty() ? QStringLiteral("in ") + printableText(folder)
                                            : QStringLiteral("at Journal=") + postgresDisplayText(journal);
    if (folder.isEmpty() && journal.isEmpty()) {
        if (m_options.batch && !m_options.force)
            m_console.fail(
                QStringLiteral("cannot tell what was posted before (%1); posting all").arg(folderError), 0);
    } else if (!m_options.batch || !m_options.force) {
        const QDateTime since = m_options.batch ? QDateTime::currentDateTime().addDays(-m_options.sinceDays)
                                                : QDateTime(QDate::currentDate(), QTime(0, 0));
        // The check above is asked again by the server as each start row is written: another batch or
        // host may post the same listing meanwhile. A single post only waits for no one else's.
        m_once = OncePerListing{m_options.batch ? std::optional<QDateTime>(since) : std::nullopt};
        QString why;
        if (!m_rerun.open(folder, since, &why, journal) && m_options.batch)
            return m_console.fail(
                QStringLiteral("cannot read the posting journal %1 (%2), so a rerun could not tell what was "
                               "posted before; nothing was posted. %3, or give --force to post everything")
                    .arg(where, printableText(why), QLatin1StringView(JournalRemedy)),
                BadInput);
        if (!why.isEmpty())
            m_console.warn(
                QStringLiteral("cannot read the posting journal %1 (%2)").arg(where, printableText(why)));
    }
    // The journal knows a listing by its job code: one without cannot be told from an earlier run.
    const qsizetype withoutCode = m_listings.summary().withoutJobCode;
    if (m_options.batch && !m_options.force && withoutCode > 0)
        m_console.warn(
            QStringLiteral("%1 listing(s) without a JobCode field are posted whatever an earlier run did")
                .arg(withoutCode));
    return std::nullopt;
}

// The board's next task to send, read and planned if need be; nothing when it has none left. Rows the
// journal leaves out are printed on the way.
std::optional<qsizetype> PostBatch::nextTask(qsizetype board) {
    Feed &feed = m_feeds[board];
    if (m_boardDown.at(board))
        return std::nullopt;
    if (!feed.again.empty())
        return feed.again.front();
    while (!feed.next && !m_stopped) {
        const std::optional<qsizetype> task = readTask(board);
        if (!task)
            break;
        if (planTask(m_tasks[*task]))
            feed.next = task;
        else if (m_lookUps)
            printTask(*task);
    }
    return feed.next;
}

qsizetype PostBatch::takeTask(qsizetype board) {
    Feed &feed = m_feeds[board];
    if (!feed.again.empty()) {
        const qsizetype task = feed.again.front();
        feed.again.pop_front();
        return task;
    }
    return *std::exchange(feed.next, std::nullopt);
}

// Reads the board's next listing into a task of its own, its row not posted until it is.
std::optional<qsizetype> PostBatch::readTask(qsizetype board) {
    Feed &feed = m_feeds[board];
    if (feed.read == m_listings.size())
        return std::nullopt;
    QString error;
    std::optional<std::pair<qsizetype, Listing>> read = feed.cursor.next(&error);
    if (!read) {
        // Checked whole before, so it was changed since.
        stopReading(QStringLiteral("the listings file no longer reads as it did when it was checked (%1); "
                                   "the rest were not posted")
                        .arg(printableText(error.isEmpty() ? QStringLiteral("it ends early") : error)));
        feed.read = m_listings.size();
        return std::nullopt;
    }
    const qsizetype task = feed.read++ * m_options.boards.size() + board;
    auto &[number, listing] = *read;
    Task &made = m_tasks[task];
    made.row = {number, listing.action,    listing.jobCode(), PostRow::Kind::NotPosted, {}, {},
                {},     boardOf(task).name};
    made.listing = std::move(listing);
    return task;
}

// Whether the task is to be sent; false, its row saying why, when the journal leaves it out.
bool PostBatch::planTask(Task &task) {
    if (!m_lookUps)
        return false;
    QString why;
    const std::optional<PastPosting> known =
        m_rerun.lookUp(task.row.board, task.row.action, task.row.jobCode, &why);
    if (!known) {
        m_planFailed = m_calls == nullptr;
        // A journal lost mid-batch (its server down) stops the batch as one that cannot record does.
        m_journalFailed = m_calls != nullptr;
        stopReading(QStringLiteral("cannot read the posting journal: %1; --force posts without it")
                        .arg(printableText(why)));
        m_lookUps = false;
        return false;
    }
    if (!m_options.batch && known->state == PastPosting::State::Succeeded)
        m_console.warn(QStringLiteral("%1 got %2 today at %3; posting it again")
                           .arg(printableText(task.row.jobCode), printableText(known->resultCode),
                                known->time.toString(u"HH:mm:ss")));
    if (!leftOut(*known, m_options, task.row))
        return true;
    m_skipped += task.row.kind == PostRow::Kind::Skipped ? 1 : 0;
    return false;
}

// Nothing more is sent: the rest is printed as not posted.
void PostBatch::stopReading(const QString &message) {
    m_console.fail(message, 0);
    m_stopped = true;
}

std::optional<int> PostBatch::checkJournal() {
    const QString problem = m_calls->journalProblem().value_or(QString());
    if (problem.isEmpty())
        return std::nullopt;
    QString folderError;
    const QString folder = componentFilesFolder(&folderError);
    // A journal on a PostgreSQL server is named by the problem itself (Journal=...), never by a file.
    QString settingError;
    const bool inFile = journalSetting(&settingError).value_or(QString()).isEmpty();
    const QString where =
        folder.isEmpty() || !inFile
            ? QString()
            : u' ' + printableText(folder + u'/' + QLatin1StringView(JournalStore::FileName));
    // The tool never sends what the journal cannot record: a rerun would post it again.
    return m_console.fail(
        QStringLiteral("the posting journal%1 cannot be written (%2), so a rerun could not tell what "
                       "was posted; nothing was posted. %3")
            .arg(where, printableText(problem), QLatin1StringView(JournalRemedy)),
        BadInput);
}

void PostBatch::postAll() {
    if (!m_calls)
        return;
    postingNow = 1;
    while (sendWhatFits() || m_calls->pending() > 0) {
        take(m_calls->next());
        noteInFlight();
    }
    postingNow = 0;
    inFlightSlot = -1;
    m_console.clearProgress();
}

// Sends the next listing of each board that has room; false when nothing is out or left to send.
bool PostBatch::sendWhatFits() {
    if (!m_calls || stopSending())
        return false;
    int out = 0;
    for (const int count : std::as_const(m_inFlight))
        out += count;
    bool sent = false;
    for (qsizetype board = 0; board < qsizetype(m_feeds.size()) && m_calls->canSend(); ++board) {
        while (m_inFlight.at(board) < m_calls->window(board) && out < MostCallsOut && m_calls->canSend() &&
               nextTask(board)) {
            const qsizetype task = takeTask(board);
            Task &sending = m_tasks[task];
            m_console.showProgress(listingOf(task), m_listings.size(), sending.row.jobCode);
            sending.row.time = QDateTime::currentDateTime();
            ++sending.sends;
            sending.out = true;
            PostRow unknown = sending.row;
            unknown.kind = PostRow::Kind::Unknown;
            sending.unknownLine = m_printer.line(unknown).toUtf8();
            ++m_inFlight[board];
            ++out;
            sent = true;
            try {
                m_calls->send(task, boardOf(task).name, sending.listing, m_once);
            } catch (const AutomationError &error) {
                // No new object for the calls after a lost server: nothing more goes out.
                take({task, {}, error, false});
                --out;
            }
        }
    }
    if (sent)
        noteInFlight();
    return out > 0;
}

// Whether the batch sends nothing more; the first time, says why and marks the rest.
bool PostBatch::stopSending() {
    if (m_stopped)
        return true;
    if (interrupts > 0)
        markRest(QString());
    return m_stopped;
}

// The board's listings read and not sent, and those not read yet.
qsizetype PostBatch::unsent(const Feed &feed) const {
    return qsizetype(feed.again.size()) + (feed.next ? 1 : 0) + m_listings.size() - feed.read;
}

void PostBatch::markRest(const QString &note) {
    m_stopped = true;
    m_restNote = note;
    // Those left out by the journal among them are printed as such.
    qsizetype rest = 0;
    for (qsizetype board = 0; board < qsizetype(m_feeds.size()); ++board)
        rest += m_boardDown.at(board) ? 0 : unsent(m_feeds.at(board));
    m_console.fail(QStringLiteral("interrupted; %1 listing(s) were not posted").arg(rest), 0);
}

// A board that looks down: its listings not yet sent are not posted, and the other boards go on.
void PostBatch::stopBoard(qsizetype board) {
    m_boardDown[board] = true;
    const qsizetype rest = unsent(m_feeds.at(board));
    if (rest == 0)
        return;
    const BoardTarget &target = m_options.boards.at(board);
    const QString retry =
        target.retryFor.count() > 0
            ? QStringLiteral("the server already tries each listing for up to RetryFor=%1 seconds")
                  .arg(target.retryFor.count())
            : QStringLiteral("RetryFor= in the settings lets the server wait out an outage");
    m_console.fail(
        QStringLiteral("board %1: stopped after %2 failures in a row that look like the board is down "
                       "(not sent, or HTTP 5xx); %3 of its listing(s) were not posted, and a rerun "
                       "of the same listings posts them. %4; --max-failures 0 never stops")
            .arg(printableText(target.name))
            .arg(m_failuresInARow.at(board))
            .arg(rest)
            .arg(retry),
        0);
}

void PostBatch::take(const CallResult &result) {
    const qsizetype task = result.task;
    const qsizetype board = task % m_options.boards.size();
    --m_inFlight[board];
    Task &taken = m_tasks[task];
    taken.out = false;
    PostRow &row = taken.row;
    if (result.resend && taken.sends < MostSends) {
        // It never reached the server: it goes again, first of its board's, to a new server.
        if (!m_stopped && !m_boardDown.at(board))
            m_feeds[board].again.push_front(task);
        return;
    }
    if (result.outcome && result.outcome->errorNumber == ErrorNumber::JournalNotRecorded) {
        row.outcome = *result.outcome;
        stopForJournal(row);
    } else if (result.outcome && isHeldByTheJournal(result.outcome->errorNumber)) {
        // Not sent, and no failure: in flight elsewhere (a rerun completes it), or posted since.
        row.outcome = *result.outcome;
        const bool posted = row.outcome.errorNumber == ErrorNumber::AlreadyPosted;
        row.kind = posted ? PostRow::Kind::Skipped : PostRow::Kind::NotPosted;
        row.note = printableText(row.outcome.errorDescription);
        m_skipped += posted ? 1 : 0;
    } else if (result.outcome) {
        row.outcome = *result.outcome;
        row.kind = row.outcome.resultCode.startsWith(u'S') ? PostRow::Kind::Succeeded : PostRow::Kind::Failed;
        if (row.kind == PostRow::Kind::Failed)
            row.note = failureReason(row.outcome.httpStatus, row.outcome.errorNumber,
                                     row.outcome.errorDescription, row.outcome.reply);
    } else {
        takeError(row, *result.error);
    }
    countFailure(board, row);
    printTask(task);
}

// The server sent nothing of this listing because its start row could not be recorded: nothing more goes
// out, since the journal is what lets a rerun complete the batch.
void PostBatch::stopForJournal(PostRow &row) {
    row.kind = PostRow::Kind::NotPosted;
    row.outcome.deliveryClass = DeliveryClass::NotSent;
    row.note = QStringLiteral("journal failed");
    m_journalFailed = true;
    if (m_stopped)
        return;
    m_stopped = true;
    m_restNote = row.note;
    qsizetype rest = 0;
    for (qsizetype board = 0; board < qsizetype(m_feeds.size()); ++board)
        rest += m_boardDown.at(board) ? 0 : unsent(m_feeds.at(board));
    m_console.fail(QStringLiteral("%1; %2 listing(s) were not posted. A rerun completes the batch once the "
                                  "journal can be written again")
                       .arg(printableText(withoutUserInfo(row.outcome.errorDescription)))
                       .arg(rest + 1),
                   0);
}

void PostBatch::takeError(PostRow &row, const AutomationError &error) {
    const QString described = printableText(withoutUserInfo(describeError(error)));
    m_console.fail(QStringLiteral("listing %1: %2").arg(row.number).arg(described), 0);
    // The board may hold it, so it is not sent again.
    const bool unknown = error.number() == ErrorNumber::OutcomeUnknown;
    row.kind = unknown ? PostRow::Kind::Unknown : PostRow::Kind::Failed;
    row.outcome.deliveryClass = unknown ? DeliveryClass::Unknown : DeliveryClass::NotSent;
    row.note = unknown ? QString() : described;
    m_anyUnknown = m_anyUnknown || unknown;
    // Another error of the call itself would come again for every listing.
    if (!unknown)
        m_stopped = true;
}

// Each board counts its own failures in a row: one board's outage stops no other board.
void PostBatch::countFailure(qsizetype board, const PostRow &row) {
    m_failures += row.kind == PostRow::Kind::Failed ? 1 : 0;
    int &inARow = m_failuresInARow[board];
    inARow = looksLikeOutage(row) ? inARow + 1 : 0;
    if (m_options.maxFailures > 0 && inARow >= m_options.maxFailures && !m_boardDown.at(board))
        stopBoard(board);
}

// The rows a second interrupt prints: every listing still out may have reached its board.
void PostBatch::noteInFlight() {
    QByteArray text;
    for (const Task &task : std::as_const(m_tasks)) {
        if (task.out)
            text += task.unknownLine;
    }
    setInFlight(text.isEmpty() ? text : m_printer.header().toUtf8() + text);
}

void PostBatch::printRow(const PostRow &row) {
    m_console.clearProgress();
    m_printer.print(row);
    m_anyHeldBack = m_anyHeldBack || row.kind == PostRow::Kind::NotPosted;
}

void PostBatch::printTask(qsizetype task) {
    const auto found = m_tasks.find(task);
    printRow(found->row);
    m_tasks.erase(found);
}

// Once nothing is out: every row not yet printed, in listing order, the rest of the file read for them.
void PostBatch::printRest() {
    const qsizetype boards = m_options.boards.size();
    for (;;) {
        // The lowest task held, or that a board reads next.
        qsizetype lowest = -1;
        for (auto it = m_tasks.cbegin(); it != m_tasks.cend(); ++it)
            lowest = lowest < 0 ? it.key() : std::min(lowest, it.key());
        qsizetype reader = -1;
        for (qsizetype board = 0; board < boards; ++board) {
            const qsizetype next = m_feeds.at(board).read * boards + board;
            if (m_feeds.at(board).read < m_listings.size() && (lowest < 0 || next < lowest)) {
                lowest = next;
                reader = board;
            }
        }
        if (lowest < 0)
            return;
        if (reader >= 0 && !readTask(reader))
            continue;
        Task &task = m_tasks[lowest];
        if (reader >= 0)
            planTask(task); // a row the journal leaves out says so
        if (task.row.note.isEmpty() && task.row.kind == PostRow::Kind::NotPosted)
            task.row.note = m_boardDown.at(lowest % boards) ? BoardDownNote : m_restNote;
        printTask(lowest);
    }
}

void PostBatch::release() {
    if (!m_calls)
        return;
    try {
        m_calls->release();
    } catch (const AutomationError &error) {
        m_console.fail(QStringLiteral("releasing the object: ") + printableText(describeError(error)), 0);
    }
}

int PostBatch::exitStatus() const {
    if (interrupts > 0)
        return Interrupted;
    if (m_journalFailed)
        return BadInput;
    if (m_failures > 0)
        return SomeFailed;
    return m_anyUnknown || m_anyHeldBack ? SomeUnknown : Success;
}

} // namespace Orvex
