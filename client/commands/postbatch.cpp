#include "postbatch.h"

#include "activitylogfile.h"
#include "command.h"
#include "console.h"
#include "files.h"
#include "historytable.h"
#include "journalreader.h"
#include "printabletext.h"
#include "remoteerror.h"
#include "remotepostjob.h"
#include "settingsfiles.h"
#include "urltext.h"

#include <QDBusConnection>
#include <QHash>

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace Orvex {

namespace {

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

// What the journals of the last days say of a listing, matched by action and job code.
struct PastPosting {
    enum class State { None, Unknown, Succeeded };
    State state = State::None;
    QDateTime time;
    QString resultCode;
};

using PastPostings = QHash<std::pair<QString, QString>, PastPosting>;

void remember(PastPostings &past, const JournalPosting &posting) {
    PastPosting &known = past[{posting.action, posting.jobCode}];
    if (posting.succeeded())
        known = {PastPosting::State::Succeeded, posting.time.toLocalTime(), posting.resultCode};
    else if (!posting.ended && known.state == PastPosting::State::None)
        known = {PastPosting::State::Unknown, posting.time.toLocalTime(), QString()};
}

// The postings since since; the journals that exist but could not be read are warned of.
PastPostings readPastPostings(const QString &folder, const QDateTime &since, Console &console) {
    PastPostings past;
    const std::function<void(JournalPosting &&)> each = [&](JournalPosting &&posting) {
        if (!posting.jobCode.isEmpty() && posting.time >= since)
            remember(past, posting);
    };
    for (QDate day = since.date(); day <= QDate::currentDate(); day = day.addDays(1)) {
        QString error;
        const QString path = Files::nativePath(journalFile(folder, day));
        if (JournalReader::read(path, each, &error) == JournalReader::ReadResult::Refused)
            console.warn(QStringLiteral("cannot read the journal ") +
                         printableText(QStringLiteral("%1: %2").arg(path, error)));
    }
    return past;
}

} // namespace

PostBatch::PostBatch(const QList<Listing> &listings, const PostOptions &options, Console &console)
    : m_listings(listings)
    , m_options(options)
    , m_console(console)
    , m_rows(listings.size())
    , m_printer(console.out(), options.json, listings) {
    for (qsizetype i = 0; i < listings.size(); ++i)
        m_rows[i] = {i + 1, listings.at(i).action, listings.at(i).jobCode(), PostRow::Kind::NotPosted, {}, {},
                     {}};
}

PostBatch::~PostBatch() = default;

void PostBatch::onInterruptSignal(int) {
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

int PostBatch::run() {
    const QList<qsizetype> toPost = plan();
    if (!toPost.isEmpty()) {
        if (!QDBusConnection::sessionBus().isConnected())
            return m_console.cannotCreate(QDBusConnection::sessionBus().lastError().message());
        try {
            m_job = std::make_unique<RemotePostJob>();
        } catch (const AutomationError &error) {
            return m_console.cannotCreate(describeError(error));
        }
    }
    postAll(toPost);
    printUpTo(m_rows.size());
    release();
    return exitStatus();
}

namespace {

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

} // namespace

QList<qsizetype> PostBatch::plan() {
    QString folderError;
    const QString folder = componentFilesFolder(&folderError);
    PastPostings past;
    if (folder.isEmpty()) {
        if (m_options.batch && !m_options.force)
            m_console.fail(
                QStringLiteral("cannot tell what was posted before (%1); posting all").arg(folderError), 0);
    } else if (!m_options.batch || !m_options.force) {
        const QDateTime since = m_options.batch ? QDateTime::currentDateTime().addDays(-m_options.sinceDays)
                                                : QDateTime(QDate::currentDate(), QTime(0, 0));
        past = readPastPostings(folder, since, m_console);
    }
    QList<qsizetype> toPost;
    qsizetype skipped = 0;
    qsizetype withoutCode = 0;
    for (qsizetype i = 0; i < m_listings.size(); ++i) {
        const PastPosting known = past.value({m_listings.at(i).action, m_listings.at(i).jobCode()});
        if (!m_options.batch && known.state == PastPosting::State::Succeeded)
            m_console.warn(QStringLiteral("%1 got %2 today at %3; posting it again")
                               .arg(printableText(m_listings.at(i).jobCode()),
                                    printableText(known.resultCode), known.time.toString(u"HH:mm:ss")));
        if (leftOut(known, m_options, m_rows[i])) {
            skipped += m_rows.at(i).kind == PostRow::Kind::Skipped ? 1 : 0;
            continue;
        }
        withoutCode += m_listings.at(i).jobCode().isEmpty() ? 1 : 0;
        toPost.append(i);
    }
    // The journal knows a listing by its job code: one without cannot be told from an earlier run.
    if (m_options.batch && !m_options.force && withoutCode > 0)
        m_console.warn(
            QStringLiteral("%1 listing(s) without a JobCode field are posted whatever an earlier run did")
                .arg(withoutCode));
    if (skipped > 0)
        m_console.fail(
            QStringLiteral("skipping %1 listing(s) that got \"S\" within %2 day(s); --force posts them")
                .arg(skipped)
                .arg(m_options.sinceDays),
            0);
    return toPost;
}

void PostBatch::postAll(const QList<qsizetype> &toPost) {
    postingNow = 1;
    qsizetype next = 0;
    for (; next < toPost.size(); ++next) {
        const qsizetype index = toPost.at(next);
        if (interrupts > 0) {
            m_console.fail(QStringLiteral("interrupted; listings from %1 on were not posted").arg(index + 1),
                           0);
            break;
        }
        if (m_options.maxFailures > 0 && m_failures >= m_options.maxFailures) {
            m_console.fail(QStringLiteral("stopped after %1 failure(s) (--max-failures)").arg(m_failures), 0);
            break;
        }
        printUpTo(index);
        const bool goOn = post(index);
        m_printer.print(m_rows.at(index));
        m_printed = index + 1;
        inFlightSlot = -1;
        if (!goOn)
            break;
    }
    postingNow = 0;
    m_console.clearProgress();
    if (m_options.maxFailures > 0 && m_failures >= m_options.maxFailures) {
        for (qsizetype i = next; i < toPost.size(); ++i) {
            PostRow &row = m_rows[toPost.at(i)];
            if (row.kind == PostRow::Kind::NotPosted && row.note.isEmpty())
                row.note = QStringLiteral("--max-failures reached");
        }
    }
}

bool PostBatch::post(qsizetype index) {
    const Listing &listing = m_listings.at(index);
    PostRow &row = m_rows[index];
    m_console.showProgress(index, m_listings.size(), listing.jobCode());
    PostRow unknownRow = row;
    unknownRow.kind = PostRow::Kind::Unknown;
    setInFlight(m_printer.text(unknownRow).toUtf8());
    row.time = QDateTime::currentDateTime();
    try {
        for (const auto &[name, value] : listing.fields)
            m_job->Field(name, value);
        row.outcome = m_job->ActionWithOutcome(listing.action);
    } catch (const AutomationError &error) {
        const QString described = printableText(withoutUserInfo(describeError(error)));
        m_console.fail(QStringLiteral("listing %1: %2").arg(index + 1).arg(described), 0);
        // The board may hold it, so it is not sent again; the listings after it go to a new server.
        const bool unknown = error.number() == ErrorNumber::OutcomeUnknown;
        row.kind = unknown ? PostRow::Kind::Unknown : PostRow::Kind::Failed;
        row.note = unknown ? QString() : described;
        m_anyUnknown = m_anyUnknown || unknown;
        m_failures += unknown ? 0 : 1;
        return unknown;
    }
    row.kind = row.outcome.resultCode.startsWith(u'S') ? PostRow::Kind::Succeeded : PostRow::Kind::Failed;
    if (row.kind == PostRow::Kind::Failed) {
        row.note = failureReason(row.outcome.httpStatus, row.outcome.errorNumber,
                                 row.outcome.errorDescription, row.outcome.reply);
        ++m_failures;
    }
    m_console.clearProgress();
    return true;
}

void PostBatch::printUpTo(qsizetype end) {
    for (; m_printed < end; ++m_printed) {
        m_console.clearProgress();
        m_printer.print(m_rows.at(m_printed));
    }
}

void PostBatch::release() {
    if (!m_job)
        return;
    try {
        m_job->release();
    } catch (const AutomationError &error) {
        m_console.fail(QStringLiteral("releasing the object: ") + printableText(describeError(error)), 0);
    }
}

int PostBatch::exitStatus() const {
    if (interrupts > 0)
        return Interrupted;
    if (m_failures > 0)
        return SomeFailed;
    const bool heldBack = std::any_of(m_rows.cbegin(), m_rows.cend(), [](const PostRow &row) {
        return row.kind == PostRow::Kind::NotPosted;
    });
    return m_anyUnknown || heldBack ? SomeUnknown : Success;
}

} // namespace Orvex
