#include "postingengine.h"

#include "distributionlogging.h"
#include "postjob.h"
#include "statusview.h"

#include <QThreadPool>

#include <atomic>

namespace Orvex {

namespace {

// The Posting/Posted lines each posting writes as the exchange has them. A worker thread runs one posting
// at a time, so a text per thread is that posting's own and no posting reads another's lines.
class WorkerStatusText final : public StatusView {
public:
    QString statusText() const override { return text(); }
    void setStatusText(const QString &value) override { text() = value; }

private:
    static QString &text() {
        thread_local QString current;
        return current;
    }
};

StatusView &workerStatusText() {
    static WorkerStatusText status;
    return status;
}

} // namespace

struct PostingEngine::Posting {
    std::unique_ptr<PostJob> job;
    QString action;
    QString board;
    Done done;
    // Set by whichever comes first, a worker starting it or the engine closing: it runs, or it is ended,
    // never both.
    std::atomic<bool> claimed = false;
    PostingOutcome outcome; // written by the worker before it hands the posting back

    bool claim() { return !claimed.exchange(true); }
};

PostingEngine::PostingEngine(const HostContext &process, InFlightStatus &status, HttpRequestFactory requests,
                             QObject *parent)
    : QObject(parent)
    , m_host{process.folders,          process.clock, workerStatusText(), std::move(requests),
             process.fileWarningGiven, &m_retryClock, process.journal}
    , m_status(status) {}

PostingEngine::~PostingEngine() {
    for (const std::shared_ptr<QThreadPool> &pool : std::as_const(m_pools))
        pool->waitForDone();
}

QThreadPool &PostingEngine::poolOf(const QString &board, int maxInFlight) {
    std::shared_ptr<QThreadPool> &pool = m_pools[board.toCaseFolded()];
    if (!pool)
        pool = std::make_shared<QThreadPool>();
    // The limit of the latest object's settings: a file edited meanwhile takes effect with new objects.
    pool->setMaxThreadCount(maxInFlight);
    return *pool;
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
    listing.fields([&job](const QString &name, const QString &value) { job->Field(name, value); });

    auto posting = std::make_shared<Posting>();
    posting->job = std::move(job);
    posting->action = listing.action;
    posting->board = listing.board;
    posting->done = std::move(done);
    m_unfinished.append(posting);
    poolOf(listing.board, listing.settings.maxInFlight).start([this, posting] {
        if (!posting->claim())
            return;
        QMetaObject::invokeMethod(
            this, [this, posting] { started(posting); }, Qt::QueuedConnection);
        posting->job->Action(posting->action);
        posting->outcome = posting->job->lastOutcome();
        // The engine outlives its workers (its destructor waits for them), so this always lands.
        QMetaObject::invokeMethod(
            this, [this, posting] { finish(posting); }, Qt::QueuedConnection);
    });
}

void PostingEngine::started(const std::shared_ptr<Posting> &posting) {
    qCDebug(lcDistribution) << "posting" << posting->job->jobCode() << "to" << posting->board;
    m_status.started(posting->board);
}

void PostingEngine::finish(const std::shared_ptr<Posting> &posting) {
    m_status.finished(posting->board, posting->job->jobCode());
    m_unfinished.removeOne(posting);
    posting->done(posting->outcome);
    if (m_unfinished.isEmpty())
        Q_EMIT idle();
}

void PostingEngine::close() {
    m_closed = true;
    m_retryClock.stop();
    for (const std::shared_ptr<Posting> &posting : std::exchange(m_unfinished, {})) {
        if (posting->claim())
            posting->done(std::nullopt);
        else
            m_unfinished.append(posting);
    }
}

} // namespace Orvex
