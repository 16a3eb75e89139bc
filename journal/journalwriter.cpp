#include "journalwriter.h"

#include "files.h"
#include "journallogging.h"

#include <atomic>

namespace Orvex {

quint64 nextCallSerial() {
    static std::atomic<quint64> lastSerial = 0;
    return ++lastSerial;
}

JournalWriter::JournalWriter()
    : m_thread([this] { run(); }) {}

JournalWriter::~JournalWriter() {
    {
        const std::lock_guard lock(m_queueMutex);
        m_stopping = true;
    }
    m_queued.notify_one();
    m_thread.join();
}

void JournalWriter::openIn(const QString &folder, int retentionDays) {
    {
        const std::lock_guard lock(m_stateMutex);
        if (m_path.isEmpty()) {
            m_path = Files::nativePath(folder) + u'/' + QLatin1StringView(JournalStore::FileName);
            // The writer is opening it: a refusal replaces this, and starts wait for the open anyway.
            m_problem.clear();
        }
    }
    enqueue(Open{folder, retentionDays, QString()});
}

void JournalWriter::refuse(const QString &why) {
    enqueue(Open{QString(), 0, why});
}

QString JournalWriter::path() const {
    const std::lock_guard lock(m_stateMutex);
    return m_path;
}

QString JournalWriter::problem() const {
    const std::lock_guard lock(m_stateMutex);
    return m_problem;
}

JournalStart JournalWriter::begin(const JournalPosting &start) {
    Begin task{start, {}};
    std::future<JournalStart> started = task.started.get_future();
    enqueue(std::move(task));
    return started.get();
}

void JournalWriter::complete(const JournalEnd &end) {
    End task{end, {}};
    std::future<void> done = task.done.get_future();
    enqueue(std::move(task));
    done.wait();
}

void JournalWriter::flush() {
    Flush task;
    std::future<void> done = task.get_future();
    enqueue(std::move(task));
    done.wait();
}

void JournalWriter::enqueue(Task task) {
    {
        const std::lock_guard lock(m_queueMutex);
        m_tasks.push_back(std::move(task));
    }
    m_queued.notify_one();
}

void JournalWriter::run() {
    for (;;) {
        std::deque<Task> tasks;
        {
            std::unique_lock lock(m_queueMutex);
            m_queued.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty()) {
                writeEnds({});
                return;
            }
            tasks.swap(m_tasks);
        }
        // Starts queued while the last commit synced share the next one.
        while (!tasks.empty()) {
            if (std::holds_alternative<Begin>(tasks.front())) {
                beginAll(tasks);
            } else if (std::holds_alternative<End>(tasks.front())) {
                completeAll(tasks);
            } else if (const auto *task = std::get_if<Open>(&tasks.front())) {
                open(*task);
                tasks.pop_front();
            } else {
                std::get<Flush>(tasks.front()).set_value();
                tasks.pop_front();
            }
        }
    }
}

void JournalWriter::open(const Open &task) {
    m_refusal = task.refusal;
    if (!m_refusal.isEmpty()) {
        m_store.close();
        m_folder.clear();
        failed(m_refusal);
        return;
    }
    m_store.setRetentionDays(task.retentionDays);
    if (m_store.isOpen() && task.folder == m_folder)
        return;
    m_folder = task.folder;
    QString why;
    if (!ensureOpen(&why))
        failed(why);
}

bool JournalWriter::ensureOpen(QString *why) {
    if (m_store.isOpen())
        return true;
    if (m_folder.isEmpty()) {
        *why = m_refusal.isEmpty() ? QStringLiteral("not opened") : m_refusal;
        return false;
    }
    if (!m_store.open(m_folder, JournalStore::Access::Write, why))
        return false;
    ++m_opening;
    {
        const std::lock_guard lock(m_stateMutex);
        m_path = m_store.path();
    }
    succeeded();
    return true;
}

void JournalWriter::beginAll(std::deque<Task> &tasks) {
    std::vector<Begin> group;
    QList<JournalPosting> starts;
    while (!tasks.empty() && std::holds_alternative<Begin>(tasks.front())) {
        group.push_back(std::move(std::get<Begin>(tasks.front())));
        starts.append(group.back().start);
        tasks.pop_front();
    }
    QString why;
    std::optional<QList<qint64>> rows;
    if (ensureOpen(&why)) {
        if (!m_store.isStillAtItsName(&why)) {
            // The rows written so far must outlive the file: the next run reads them from its name.
            m_store.restoreAtItsName(&why);
            m_store.close();
            m_unwrittenEnds.clear();
        } else {
            rows = m_store.beginDurably(starts, &why);
        }
    }
    if (rows) {
        succeeded();
        writeEnds({});
    } else {
        failed(why);
    }
    const QString journalPath = path();
    for (std::size_t i = 0; i < group.size(); ++i)
        group[i].started.set_value(
            rows ? JournalStart{rows->at(qsizetype(i)), m_opening, QString(), journalPath}
                 : JournalStart{std::nullopt, 0, why, journalPath});
}

void JournalWriter::completeAll(std::deque<Task> &tasks) {
    QList<JournalEnd> ends;
    std::vector<std::promise<void>> waiting;
    while (!tasks.empty() && std::holds_alternative<End>(tasks.front())) {
        End &task = std::get<End>(tasks.front());
        // Ends of rows in a journal closed since go nowhere: that file takes no more rows, and a row number
        // means nothing in another.
        if (task.end.opening == m_opening)
            ends.append(task.end);
        waiting.push_back(std::move(task.done));
        tasks.pop_front();
    }
    writeEnds(std::move(ends));
    for (std::promise<void> &done : waiting)
        done.set_value();
}

void JournalWriter::writeEnds(QList<JournalEnd> ends) {
    // Writing an end again is harmless: only a row without one takes it.
    constexpr qsizetype MostUnwritten = 100'000;
    ends = m_unwrittenEnds + ends;
    m_unwrittenEnds.clear();
    if (!m_store.isOpen() || ends.isEmpty())
        return;
    QString why;
    if (!m_store.complete(ends, &why)) {
        failed(why);
        m_unwrittenEnds = ends.size() > MostUnwritten ? ends.last(MostUnwritten) : ends;
        return;
    }
    m_store.pruneStep(ends.constLast().end);
}

void JournalWriter::failed(const QString &why) {
    const std::lock_guard lock(m_stateMutex);
    m_problem = why;
    // The type library's postings go ahead without their rows, so whoever runs the server must learn it:
    // once, not per posting.
    if (m_warningGiven)
        return;
    m_warningGiven = true;
    qCWarning(lcJournal).noquote()
        << "cannot write the posting journal" << m_path + u':' << why
        << "- postings that need their rows are not sent, others go unrecorded; this is said only once";
}

void JournalWriter::succeeded() {
    const std::lock_guard lock(m_stateMutex);
    m_problem.clear();
}

} // namespace Orvex
