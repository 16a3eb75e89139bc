#include "backgroundhttprequest.h"

#include <QEventLoop>
#include <QScopeGuard>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace Orvex {

namespace {
// An exchange over within this is waited for without running the loop: waking the loop costs more than
// the rest of a fast exchange's hand-over, and a window misses at most a frame or so.
constexpr std::chrono::milliseconds QuickExchange{10};
} // namespace

// One thread that runs the jobs handed to it in turn. A thread per exchange cost a clone and a teardown
// each time, a good part of a fast exchange. Started on first use, so a process that never posts has none.
class BackgroundHttpRequest::Worker {
public:
    Worker() = default;
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // Runs what was already handed over, then joins.
    ~Worker() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

    // Runs work on the worker thread, then done while holding the lock that wait() takes, so that wait()
    // never returns while done is still at work.
    void start(std::function<void()> work, std::function<void()> done) {
        {
            const std::lock_guard lock(m_mutex);
            m_jobs.push_back({std::move(work), std::move(done)});
            ++m_unfinished;
            if (!m_thread.joinable())
                m_thread = std::thread(&Worker::serve, this);
        }
        m_wake.notify_one();
    }

    // Until every job handed over has run.
    void wait() {
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [this] { return m_unfinished == 0; });
    }

    // Until every job handed over has run, true, or until limit has passed, false; then late runs first,
    // under the lock that a job's done runs under.
    bool waitFor(std::chrono::milliseconds limit, const std::function<void()> &late) {
        std::unique_lock lock(m_mutex);
        if (m_finished.wait_for(lock, limit, [this] { return m_unfinished == 0; }))
            return true;
        late();
        return false;
    }

private:
    struct Job {
        std::function<void()> work;
        std::function<void()> done;
    };

    void serve() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            Job job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job.work();
            lock.lock();
            --m_unfinished;
            m_finished.notify_all();
            job.done();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finished;
    std::deque<Job> m_jobs;
    int m_unfinished = 0;
    bool m_stopping = false;
    std::thread m_thread; // last: the thread starts and ends while everything above exists
};

BackgroundHttpRequest::BackgroundHttpRequest(std::unique_ptr<HttpRequest> request, ExchangeWatcher watcher,
                                             std::shared_ptr<Worker> worker)
    : m_request(std::move(request))
    , m_watcher(std::move(watcher))
    , m_worker(worker ? std::move(worker) : std::make_shared<Worker>()) {}

void BackgroundHttpRequest::open(const QString &method, const QString &url, bool async) {
    m_request->open(method, url, async);
}

void BackgroundHttpRequest::send(const QByteArray &body) {
    if (m_watcher)
        m_watcher(true);
    const auto exchangeOver = qScopeGuard([this] {
        if (m_watcher)
            m_watcher(false);
    });

    QEventLoop loop;
    bool looping = false;
    std::exception_ptr failure;
    m_worker->start(
        [&] {
            try {
                m_request->send(body);
            } catch (...) {
                failure = std::current_exception();
            }
        },
        // Posted, so it also ends a loop that has not started yet.
        [&] {
            if (looping)
                QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    if (!m_worker->waitFor(QuickExchange, [&] { looping = true; }))
        loop.exec();
    // The loop also ends early when the application exits, while the job may still use this frame.
    m_worker->wait();
    if (failure)
        std::rethrow_exception(failure);
}

int BackgroundHttpRequest::readyState() const {
    return m_request->readyState();
}

int BackgroundHttpRequest::status() const {
    return m_request->status();
}

QString BackgroundHttpRequest::responseText() const {
    return m_request->responseText();
}

QString BackgroundHttpRequest::getResponseHeader(const QString &name) const {
    return m_request->getResponseHeader(name);
}

DeliveryClass BackgroundHttpRequest::failedDelivery() const {
    return m_request->failedDelivery();
}

HttpRequestFactory backgroundHttpRequestFactory(HttpRequestFactory factory,
                                                BackgroundHttpRequest::ExchangeWatcher watcher) {
    auto worker = std::make_shared<BackgroundHttpRequest::Worker>();
    return [factory = std::move(factory), watcher = std::move(watcher),
            worker = std::move(worker)](const HttpSettings &settings) -> std::unique_ptr<HttpRequest> {
        std::unique_ptr<HttpRequest> request = factory ? factory(settings) : nullptr;
        if (!request)
            return nullptr;
        return std::make_unique<BackgroundHttpRequest>(std::move(request), watcher, worker);
    };
}

} // namespace Orvex
