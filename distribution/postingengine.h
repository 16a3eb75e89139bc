#pragma once

#include "componentsettings.h"
#include "hostcontext.h"
#include "inflightstatus.h"
#include "postingoutcome.h"
#include "retryclock.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QThreadPool;

namespace Orvex {

// Posts listings side by side, each through a fresh PostJob with its board's settings on a worker thread,
// so each runs the steps of Action as a serial posting does (log records, debug copy, journal lines,
// outcome). Each board has a pool of at most MaxInFlight threads, so it never has more postings in flight
// than that, from every client of the process, and the rest wait in arrival order; a thread keeps its
// connection to its board between postings. Everything but the exchanges runs on the thread that made the
// engine: calls, answers and the status window.
class PostingEngine final : public QObject {
    Q_OBJECT

public:
    using FieldSink = std::function<void(const QString &name, const QString &value)>;
    struct Listing {
        QString board; // as the INI file writes it: the journal and the status window name it so
        ComponentSettings settings;
        QString logFile;
        QString objectPath;
        QString action;
        // Hands each field to add in order, so a listing need not be held whole beside its document.
        std::function<void(const FieldSink &add)> fields;
    };
    // Runs on the engine's thread with what the posting came to; nothing when it never started because
    // the engine closed first.
    using Done = std::function<void(std::optional<PostingOutcome>)>;

    // The postings send through requests directly (they already run off the main thread) and write their
    // Posting/Posted lines to a text of their own: status shows what is in flight instead. process: the
    // folders, clock, journal and file warning of the process, shared with its other postings.
    // status: what the window shows of every posting in flight, serial ones too.
    PostingEngine(const HostContext &process, InFlightStatus &status, HttpRequestFactory requests,
                  QObject *parent = nullptr);
    // Waits for the postings in flight.
    ~PostingEngine() override;

    // Takes the listing's fields at once (throwing AutomationError as Field does, and then posting
    // nothing); done follows once the board has had it.
    void post(Listing listing, Done done);
    // From now on nothing starts, not even another try: every waiting posting is done with nothing. Those
    // in flight finish.
    void close();
    bool isClosed() const { return m_closed; }
    // Postings taken and not yet done: in flight, or waiting for a thread of their board.
    int unfinished() const { return int(m_unfinished.size()); }

Q_SIGNALS:
    // The last unfinished posting is done.
    void idle();

private:
    struct Posting;

    QThreadPool &poolOf(const QString &board, int maxInFlight);
    void started(const std::shared_ptr<Posting> &posting);
    void finish(const std::shared_ptr<Posting> &posting);

    // Declared before m_host, which points to it.
    BlockingRetryClock m_retryClock;
    HostContext m_host;
    InFlightStatus &m_status;
    // By board name without regard to letter case, as the INI file matches sections.
    QHash<QString, std::shared_ptr<QThreadPool>> m_pools;
    QList<std::shared_ptr<Posting>> m_unfinished;
    bool m_closed = false;
};

} // namespace Orvex
