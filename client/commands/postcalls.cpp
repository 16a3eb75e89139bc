#include "postcalls.h"

#include "listingfields.h"
#include "localengine.h"
#include "remoteerror.h"
#include "remotepostjob.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>

#include <chrono>
#include <deque>

namespace Orvex {

namespace {

// Runs this thread's events until a call has ended, and takes the first that did.
CallResult nextEnded(std::deque<CallResult> &ended) {
    QEventLoop loop;
    while (ended.empty())
        loop.processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
    CallResult result = std::move(ended.front());
    ended.pop_front();
    return result;
}

// One call at a time through the client library, which sends again what certainly never ran and reads
// the journal of a server lost mid-call: today's behaviour for one listing in flight.
class SerialCalls final : public PostCalls {
public:
    void send(qsizetype task, const QString &board, const Listing &listing,
              const std::optional<OncePerListing> &once) override {
        m_task = task;
        m_board = board;
        m_listing = listing;
        m_once = once;
    }
    qsizetype pending() const override { return m_task >= 0 ? 1 : 0; }
    CallResult next() override {
        CallResult result{std::exchange(m_task, -1), {}, {}, false};
        try {
            for (const auto &[name, value] : m_listing.fields)
                job().Field(name, value);
            result.outcome = job().postToBoard(m_board, m_listing.action, m_once);
        } catch (const AutomationError &error) {
            result.error = error;
        }
        return result;
    }

private:
    qsizetype m_task = -1;
    QString m_board;
    Listing m_listing;
    std::optional<OncePerListing> m_once;
};

// Several PostToBoard calls on the bus at once, each reply read as it comes.
class ConcurrentCalls final : public PostCalls {
public:
    void send(qsizetype task, const QString &board, const Listing &listing,
              const std::optional<OncePerListing> &once) override;
    // Out, or back and not yet taken: two replies may arrive in one pass of the loop.
    qsizetype pending() const override { return m_pending + qsizetype(m_ended.size()); }
    CallResult next() override;

private:
    struct Sent {
        QString board;
        QString action;
        QString jobCode;
    };
    CallResult resultOf(qsizetype task, const Sent &sent, const QDBusPendingCall &call);

    qsizetype m_pending = 0;
    std::deque<CallResult> m_ended;
};

void ConcurrentCalls::send(qsizetype task, const QString &board, const Listing &listing,
                           const std::optional<OncePerListing> &once) {
    auto *watcher = new QDBusPendingCallWatcher(
        job().sendPostToBoard(board, listing.action, ListingFields(listing.fields), once));
    ++m_pending;
    const Sent sent{board, listing.action, listing.jobCode()};
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [this, task, sent](QDBusPendingCallWatcher *call) {
                         m_ended.push_back(resultOf(task, sent, *call));
                         --m_pending;
                         call->deleteLater();
                     });
}

CallResult ConcurrentCalls::next() {
    return nextEnded(m_ended);
}

CallResult ConcurrentCalls::resultOf(qsizetype task, const Sent &sent, const QDBusPendingCall &call) {
    CallResult result{task, {}, {}, false};
    if (call.isError()) {
        const QDBusError error = call.error();
        if (isServerGone(error))
            serverLost();
        switch (callOutcome(error)) {
        case CallOutcome::NotDelivered:
            serverLost();
            result.resend = true;
            result.error = fromBusError(error, CallStage::ObjectCall);
            break;
        case CallOutcome::Failed:
            result.error = fromBusError(error, CallStage::ObjectCall);
            break;
        case CallOutcome::Unknown:
            // Lost with its server: its journal may say what the call came to, as for a serial call.
            if (const std::optional<PostingOutcome> settled =
                    job().settleLostListing(error, sent.board, sent.action, sent.jobCode))
                result.outcome = *settled;
            else
                result.error = outcomeUnknown(error);
            break;
        }
        return result;
    }
    try {
        result.outcome = RemotePostJob::outcomeOf(call.reply());
    } catch (const AutomationError &error) {
        result.error = error;
    }
    return result;
}

// The calls to the posting engine in this process: what the server does with each PostToBoard, without the
// bus, each outcome taken as it comes. No server to lose: nothing is ever sent again.
class EngineCalls final : public PostCalls {
public:
    void send(qsizetype task, const QString &board, const Listing &listing,
              const std::optional<OncePerListing> &once) override {
        JournalClaim claim;
        if (once)
            claim = JournalClaim{true, once->since};
        m_engine.post(board, listing.action, listing.fields, claim,
                      [this, task](std::optional<PostingOutcome> outcome) {
                          m_ended.push_back(resultOf(task, outcome));
                          --m_pending;
                      });
        ++m_pending;
    }
    qsizetype pending() const override { return m_pending + qsizetype(m_ended.size()); }
    CallResult next() override { return nextEnded(m_ended); }
    std::optional<QString> journalProblem() override { return m_engine.journalProblem(); }
    void release() override {}
    int maxInFlight(const QString &board) const { return m_engine.maxInFlight(board); }

private:
    static CallResult resultOf(qsizetype task, const std::optional<PostingOutcome> &outcome) {
        CallResult result{task, {}, {}, false};
        try {
            if (!outcome)
                throw AutomationError::runtime(ErrorNumber::Ended);
            result.outcome = RemotePostJob::knownOutcome(*outcome);
        } catch (const AutomationError &error) {
            result.error = error;
        }
        return result;
    }

    LocalEngine m_engine;
    qsizetype m_pending = 0;
    std::deque<CallResult> m_ended;
};

} // namespace

PostCalls::PostCalls() = default;
PostCalls::~PostCalls() = default;

std::unique_ptr<PostCalls> PostCalls::create(const QStringList &boards) {
    if (LocalEngine::isChosen()) {
        auto engine = std::make_unique<EngineCalls>();
        for (const QString &board : boards)
            engine->m_windows.append(std::max(1, engine->maxInFlight(board)));
        return engine;
    }
    auto job = std::make_unique<RemotePostJob>();
    QList<int> windows;
    int total = 0;
    for (const QString &board : boards) {
        windows.append(std::max(1, job->maxInFlight(board)));
        total += windows.last();
    }
    std::unique_ptr<PostCalls> calls;
    if (total > 1)
        calls = std::make_unique<ConcurrentCalls>();
    else
        calls = std::make_unique<SerialCalls>();
    calls->m_job = std::move(job);
    calls->m_windows = std::move(windows);
    return calls;
}

RemotePostJob &PostCalls::job() {
    // A lost server's object is renewed only once none of its calls is still out.
    if (m_serverLost && pending() == 0) {
        m_job.reset();
        m_serverLost = false;
    }
    if (!m_job)
        m_job = std::make_unique<RemotePostJob>();
    return *m_job;
}

std::optional<QString> PostCalls::journalProblem() {
    try {
        return job().journalProblem();
    } catch (const AutomationError &) {
        return std::nullopt;
    }
}

void PostCalls::release() {
    if (m_job && !m_serverLost)
        m_job->release();
}

} // namespace Orvex
