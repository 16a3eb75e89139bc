#include "postingengine.h"

#include "distributionlogging.h"
#include "errortable.h"
#include "journalwriter.h"
#include "postjob.h"
#include "retrypolicy.h"
#include "statusview.h"

#include <QRandomGenerator>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <deque>

namespace Orvex {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The Posting/Posted lines each posting of its own writes as the exchange has them.
StatusView &workerStatusText() {
    static ThreadStatusText status;
    return status;
}

} // namespace

struct PostingEngine::Posting {
    std::unique_ptr<PostJob> ownJob; // a listing of its own; none for an object's serial posting
    PostJob *job = nullptr;
    QString boardKey;
    QString action;
    Done done;
    quint64 callSerial = 0;
    quint64 arrival = 0; // its place in line among every posting of the engine
    SteadyClock::time_point firstTry;
    std::chrono::seconds retryFor{0};
    // The board's failures in a row when this try started: a try started before the board went down
    // does not count the same outage again.
    int failuresAtStart = 0;
    bool tried = false;
    PostingOutcome outcome;
    std::optional<std::chrono::milliseconds> retryAfter;
};

struct PostingEngine::Board {
    QString name; // as the first posting to it named it
    int maxInFlight = 1;
    int inFlight = 0;
    std::deque<std::shared_ptr<Posting>> waiting;
    // Failures in a row that say the board is down (not sent, 429, 503); 0 while it is up.
    int failures = 0;
    // While it is down, when the next probe may start.
    SteadyClock::time_point nextTry;
    QTimer probeTimer;
    // The board's own threads: an exchange to another board never waits for one of them.
    QThreadPool threads;
};

PostingEngine::PostingEngine(const HostContext &process, InFlightStatus &status, QObject *parent)
    : QObject(parent)
    , m_host{process.folders,          process.clock, workerStatusText(), process.requestFactory,
             process.fileWarningGiven, nullptr,       process.journal}
    , m_status(status) {}

PostingEngine::~PostingEngine() {
    // Their last hand-back is posted to this object and dropped with it; the journal's thread hands back
    // the tries whose end rows it still has.
    // A start row the journal still has starts its exchange as it is written.
    if (m_host.journal)
        m_host.journal->flush();
    for (const std::shared_ptr<Board> &board : std::as_const(m_boards))
        board->threads.waitForDone();
    if (m_host.journal)
        m_host.journal->flush();
}

void PostingEngine::post(Listing listing, Done done) {
    if (m_closed) {
        done(std::nullopt);
        return;
    }
    auto job = std::make_unique<PostJob>(m_host, listing.logFile, listing.settings);
    job->setObjectPath(listing.objectPath);
    job->setBoard(listing.board);
    job->setJournalRequired(true);
    job->setJournalClaim(listing.claim);
    listing.fields([&job](const QString &name, const QString &value) { job->Field(name, value); });

    auto posting = std::make_shared<Posting>();
    posting->job = job.get();
    posting->ownJob = std::move(job);
    posting->action = listing.action;
    posting->done = std::move(done);
    enqueue(std::move(posting), listing.board, listing.settings);
}

void PostingEngine::post(PostJob &job, const QString &board, const ComponentSettings &settings,
                         const QString &action, Done done) {
    if (m_closed) {
        job.endListing();
        done(std::nullopt);
        return;
    }
    auto posting = std::make_shared<Posting>();
    posting->job = &job;
    posting->action = action;
    posting->done = std::move(done);
    enqueue(std::move(posting), board, settings);
}

void PostingEngine::enqueue(std::shared_ptr<Posting> posting, const QString &board,
                            const ComponentSettings &settings) {
    static quint64 arrivals = 0;
    posting->arrival = ++arrivals;
    posting->callSerial = nextCallSerial();
    posting->firstTry = SteadyClock::now();
    posting->retryFor = settings.retryFor;
    Board &queue = boardNamed(board, settings.maxInFlight);
    posting->boardKey = board.toCaseFolded();
    queue.waiting.push_back(std::move(posting));
    ++m_unfinished;
    dispatch(queue);
}

PostingEngine::Board &PostingEngine::boardNamed(const QString &name, int maxInFlight) {
    std::shared_ptr<Board> &board = m_boards[name.toCaseFolded()];
    if (!board) {
        board = std::make_shared<Board>();
        board->name = name;
        board->probeTimer.setSingleShot(true);
        Board *probed = board.get();
        connect(&board->probeTimer, &QTimer::timeout, this, [this, probed] { dispatch(*probed); });
    }
    // The limit of the latest call's settings: a file edited meanwhile takes effect with new objects.
    board->maxInFlight = std::max(1, maxInFlight);
    board->threads.setMaxThreadCount(board->maxInFlight);
    return *board;
}

void PostingEngine::dispatch(Board &board) {
    while (!m_closed && !board.waiting.empty()) {
        const bool down = board.failures > 0;
        if (board.inFlight >= (down ? 1 : board.maxInFlight))
            return;
        if (down) {
            const SteadyClock::time_point now = SteadyClock::now();
            if (now < board.nextTry) {
                board.probeTimer.start(std::chrono::ceil<std::chrono::milliseconds>(board.nextTry - now));
                return;
            }
        }
        std::shared_ptr<Posting> posting = std::move(board.waiting.front());
        board.waiting.pop_front();
        start(board, posting);
    }
}

void PostingEngine::start(Board &board, const std::shared_ptr<Posting> &posting) {
    ++board.inFlight;
    posting->failuresAtStart = board.failures;
    qCDebug(lcDistribution) << "posting" << posting->job->jobCode() << "to" << board.name;
    if (posting->ownJob)
        m_status.started(board.name);
    // The journal's thread takes the start row and, once it is on disk, hands the exchange to one of the
    // board's threads: no thread of the board waits for the journal.
    const auto exchange = [this, posting](std::optional<JournalStart> started) {
        // The try is back once this thread is done with it and its end row is committed, whichever comes
        // last: the journal's thread hands it back itself, so this one need not wait for the commit.
        auto handsLeft = std::make_shared<std::atomic<int>>(2);
        const auto handBack = [this, posting, handsLeft] {
            if (handsLeft->fetch_sub(1) == 1)
                QMetaObject::invokeMethod(
                    this, [this, posting] { tried(posting); }, Qt::QueuedConnection);
        };
        if (started)
            posting->job->finishTry(posting->action, std::move(*started), handBack);
        else
            posting->job->tryOnce(posting->action, posting->callSerial, handBack);
        posting->outcome = posting->job->lastOutcome();
        posting->retryAfter = posting->job->retryAfter();
        handBack();
    };
    QThreadPool *threads = &board.threads;
    const bool handed = posting->job->beginTry(
        posting->action, posting->callSerial, [threads, exchange](JournalStart started) {
            threads->start([exchange, started]() mutable { exchange(std::move(started)); });
        });
    if (!handed)
        threads->start([exchange] { exchange(std::nullopt); });
}

void PostingEngine::tried(const std::shared_ptr<Posting> &posting) {
    posting->tried = true;
    Board &board = *m_boards.value(posting->boardKey);
    --board.inFlight;
    if (posting->ownJob)
        m_status.finished(board.name, posting->job->jobCode());
    if (mayTryAgain(board, *posting)) {
        // Back in its place in line, ahead of those that came after it.
        auto later = std::find_if(board.waiting.begin(), board.waiting.end(),
                                  [&](const auto &waiting) { return waiting->arrival > posting->arrival; });
        board.waiting.insert(later, posting);
    } else {
        finish(posting);
    }
    dispatch(board);
}

bool PostingEngine::mayTryAgain(Board &board, Posting &posting) {
    // Never sent for want of its journal row: that says nothing of the board.
    if (posting.outcome.errorNumber == ErrorNumber::JournalNotRecorded)
        return false;
    if (!RetryPolicy::mayRetry(posting.outcome)) {
        // The board answered, or may have the listing: either way it is there.
        board.failures = 0;
        return false;
    }
    const SteadyClock::time_point now = SteadyClock::now();
    if (board.failures == posting.failuresAtStart) {
        ++board.failures;
        const double jitter = QRandomGenerator::global()->generateDouble();
        const std::chrono::milliseconds wait =
            posting.retryFor > std::chrono::seconds::zero()
                ? RetryPolicy::delayAfter(board.failures, jitter, posting.retryAfter)
                : std::chrono::milliseconds::zero();
        board.nextTry = now + wait;
        qCDebug(lcDistribution) << board.name << "looks down; next probe in" << wait.count() << "ms";
    }
    // The last try starts within RetryFor.
    return !m_closed && posting.retryFor > std::chrono::seconds::zero() &&
           std::max(board.nextTry, now) <= posting.firstTry + posting.retryFor;
}

void PostingEngine::finish(const std::shared_ptr<Posting> &posting) {
    posting->job->endListing();
    --m_unfinished;
    posting->done(posting->tried ? std::optional(posting->outcome) : std::nullopt);
    if (m_unfinished == 0)
        Q_EMIT idle();
}

void PostingEngine::close() {
    m_closed = true;
    for (const std::shared_ptr<Board> &board : std::as_const(m_boards)) {
        board->probeTimer.stop();
        for (const std::shared_ptr<Posting> &posting : std::exchange(board->waiting, {}))
            finish(posting);
    }
}

} // namespace Orvex
