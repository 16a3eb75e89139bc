#include "journalwriter.h"

#include "files.h"
#include "journallogging.h"
#include "postgresdatabase.h"

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

void JournalWriter::openIn(const QString &folder, int retentionDays, const QString &journal) {
    {
        const std::lock_guard lock(m_stateMutex);
        if (m_path.isEmpty()) {
            m_path = journal.isEmpty()
                         ? Files::nativePath(folder) + u'/' + QLatin1StringView(JournalStore::FileName)
                         : postgresDisplayText(journal);
            // The writer is opening it: a refusal replaces this, and starts wait for the open anyway.
            m_problem.clear();
        }
    }
    enqueue(Open{folder, journal, retentionDays, QString()});
}

void JournalWriter::refuse(const QString &why) {
    enqueue(Open{QString(), QString(), 0, why});
}

QString JournalWriter::path() const {
    const std::lock_guard lock(m_stateMutex);
    return m_path;
}

QString JournalWriter::problem() const {
    const std::lock_guard lock(m_stateMutex);
    return m_problem;
}

JournalStart JournalWriter::begin(const JournalPosting &start, const JournalClaim &claim) {
    std::promise<JournalStart> made;
    std::future<JournalStart> started = made.get_future();
    begin(start, claim, [&made](JournalStart row) { made.set_value(std::move(row)); });
    return started.get();
}

void JournalWriter::begin(const JournalPosting &start, const JournalClaim &claim,
                          std::function<void(JournalStart)> started) {
    enqueue(Begin{start, claim, std::move(started)});
}

void JournalWriter::complete(const JournalEnd &end) {
    std::promise<void> committed;
    std::future<void> done = committed.get_future();
    complete(end, [&committed] { committed.set_value(); });
    done.wait();
}

void JournalWriter::complete(const JournalEnd &end, std::function<void()> then) {
    enqueue(End{end, std::move(then)});
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
                // On this thread, which owns the connection: closing may checkpoint.
                m_store.close();
                return;
            }
            tasks.swap(m_tasks);
        }
        // Starts queued while the last commit synced share the next one.
        while (!tasks.empty()) {
            if (isRowTask(tasks.front())) {
                writeRows(tasks);
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
    const bool elsewhere = task.folder != m_folder || task.uri != m_uri;
    if (m_store.isOpen() && !elsewhere)
        return;
    m_store.close();
    // Row numbers of another journal mean nothing in this one; the same one reached again takes them.
    if (elsewhere)
        m_unwrittenEnds.clear();
    m_folder = task.folder;
    m_uri = task.uri;
    QString why;
    if (!ensureOpen(&why))
        failed(why);
}

bool JournalWriter::ensureOpen(QString *why) {
    if (m_store.isOpen())
        return true;
    if (m_folder.isEmpty() && m_uri.isEmpty()) {
        *why = m_refusal.isEmpty() ? QStringLiteral("not opened") : m_refusal;
        return false;
    }
    if (!m_store.openSetting(m_uri, m_folder, JournalStore::Access::Write, why)) {
        if (!m_uri.isEmpty())
            *why = QStringLiteral("Journal=%1 cannot be used: %2").arg(postgresDisplayText(m_uri), *why);
        return false;
    }
    // The same database reached again holds the rows begun before the connection was lost.
    if (m_uri.isEmpty() || m_uri != m_openedUri)
        ++m_opening;
    m_openedUri = m_uri;
    {
        const std::lock_guard lock(m_stateMutex);
        m_path = m_store.path();
    }
    succeeded();
    return true;
}

bool JournalWriter::isRowTask(const Task &task) {
    return std::holds_alternative<Begin>(task) || std::holds_alternative<End>(task);
}

void JournalWriter::writeRows(std::deque<Task> &tasks) {
    // Ends and starts queued together, in whatever turns, share the starts' commit, the ends first: a
    // start needs no end written after it, and a claim sees a posting that has ended as ended.
    std::deque<Task> ends;
    std::deque<Task> starts;
    while (!tasks.empty() && isRowTask(tasks.front())) {
        (std::holds_alternative<End>(tasks.front()) ? ends : starts).push_back(std::move(tasks.front()));
        tasks.pop_front();
    }
    std::vector<std::function<void()>> ended;
    QList<JournalEnd> endRows = takeEnds(ends, &ended);
    if (starts.empty())
        writeEnds(std::move(endRows));
    else
        beginAll(starts, std::move(endRows));
    for (std::function<void()> &done : ended)
        done();
}

QList<JournalEnd> JournalWriter::takeEnds(std::deque<Task> &tasks,
                                          std::vector<std::function<void()>> *ended) {
    QList<JournalEnd> ends;
    for (Task &task : tasks) {
        End &end = std::get<End>(task);
        // Ends of rows in a journal closed since go nowhere: that file takes no more rows, and a row number
        // means nothing in another.
        if (end.end.opening == m_opening)
            ends.append(end.end);
        ended->push_back(std::move(end.done));
    }
    return ends;
}

void JournalWriter::beginAll(std::deque<Task> &tasks, QList<JournalEnd> ends) {
    std::vector<Begin> group;
    QList<JournalPosting> starts;
    QList<JournalClaim> claims;
    for (Task &task : tasks) {
        group.push_back(std::move(std::get<Begin>(task)));
        starts.append(group.back().start);
        claims.append(group.back().claim);
    }
    QString why;
    std::optional<QList<qint64>> rows;
    QList<JournalBlock> blocks;
    if (ensureOpen(&why)) {
        if (!m_store.isStillAtItsName(&why)) {
            // The rows written so far must outlive the file: the next run reads them from its name.
            writeEnds(std::exchange(ends, {}));
            m_store.restoreAtItsName(&why);
            m_store.close();
            m_unwrittenEnds.clear();
        } else {
            ends = m_unwrittenEnds + ends;
            m_unwrittenEnds.clear();
            rows = m_store.beginDurably(starts, claims, &blocks, &why, ends);
        }
    }
    if (rows) {
        succeeded();
        if (!ends.isEmpty())
            m_store.pruneStep(ends.constLast().end);
    } else {
        failed(why);
        closeIfLost();
        // As writeEnds keeps them: for the journal that refused them, or the server reached again.
        if (m_store.isOpen() || !m_uri.isEmpty())
            keepUnwritten(std::move(ends));
    }
    const QString journalPath = path();
    for (std::size_t i = 0; i < group.size(); ++i) {
        const qsizetype at = qsizetype(i);
        const JournalBlock block = at < blocks.size() ? blocks.at(at) : JournalBlock();
        if (!rows)
            group[i].started(JournalStart{std::nullopt, 0, why, journalPath, {}});
        else if (block.reason != JournalBlock::Reason::None)
            group[i].started(JournalStart{std::nullopt, 0, QString(), journalPath, block});
        else
            group[i].started(JournalStart{rows->at(at), m_opening, QString(), journalPath, {}});
    }
}

void JournalWriter::keepUnwritten(QList<JournalEnd> ends) {
    constexpr qsizetype MostUnwritten = 100'000;
    m_unwrittenEnds = ends.size() > MostUnwritten ? ends.last(MostUnwritten) : std::move(ends);
}

void JournalWriter::writeEnds(QList<JournalEnd> ends) {
    // Writing an end again is harmless: only a row without one takes it.
    ends = m_unwrittenEnds + ends;
    m_unwrittenEnds.clear();
    QString why;
    // A journal server lost: its rows are there when it is reached again.
    if (!m_store.isOpen() && !m_uri.isEmpty() && !ends.isEmpty() && !ensureOpen(&why)) {
        keepUnwritten(std::move(ends));
        return;
    }
    if (!m_store.isOpen() || ends.isEmpty())
        return;
    if (!m_store.complete(ends, &why)) {
        failed(why);
        closeIfLost();
        keepUnwritten(std::move(ends));
        return;
    }
    m_store.pruneStep(ends.constLast().end);
}

void JournalWriter::closeIfLost() {
    // The next group connects again; the ends kept meanwhile go with its commit.
    if (m_store.isConnectionLost())
        m_store.close();
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
