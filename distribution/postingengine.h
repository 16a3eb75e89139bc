#pragma once

#include "componentsettings.h"
#include "hostcontext.h"
#include "inflightstatus.h"
#include "journalstore.h"
#include "postingoutcome.h"

#include <QHash>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class PostJob;

namespace Orvex {

// Every posting of the process, whichever call starts it: one queue per board, and each board's exchanges
// on threads of its own, so a board that is slow or down holds up none but its own postings. A board never
// has more postings in flight than its MaxInFlight, from every call, object and client together; the rest
// wait in arrival order. The tries of a posting are the engine's: a board that fails as not sent or with
// 429/503 is down, and while it is, one posting at a time probes it, each after the board's wait (its
// Retry-After, else a doubling backoff), so an outage costs the board one request per wait. Everything but
// the exchanges runs on the thread that made the engine, which never waits for one.
class PostingEngine final : public QObject {
    Q_OBJECT

public:
    using FieldSink = std::function<void(const QString &name, const QString &value)>;
    // A listing of its own, posted through a fresh PostJob with its board's settings.
    struct Listing {
        QString board; // as the INI file writes it: the journal and the status window name it so
        ComponentSettings settings;
        QString logFile;
        QString objectPath;
        QString action;
        // Hands each field to add in order, so a listing need not be held whole beside its document.
        std::function<void(const FieldSink &add)> fields;
        // What its start row asks of the journal (PostOnceToBoard); none: it posts as before.
        JournalClaim claim;
    };
    // Runs on the engine's thread with what the posting came to, its result code included; nothing when it
    // never started because the engine closed first.
    using Done = std::function<void(std::optional<PostingOutcome>)>;

    // process: the folders, clock, journal and file warning of the process, shared with its other postings.
    // status: what the window shows of the postings of their own; a serial posting shows itself through
    // its object's status view.
    PostingEngine(const HostContext &process, InFlightStatus &status, QObject *parent = nullptr);
    // Waits for the exchanges in flight.
    ~PostingEngine() override;

    // Takes the listing's fields at once (throwing AutomationError as Field does, and then posting
    // nothing); done follows once the board has had it.
    void post(Listing listing, Done done);
    // Action of an object's own PostJob, which holds the fields its calls gave: the caller keeps job, and
    // calls nothing of it, until done.
    void post(PostJob &job, const QString &board, const ComponentSettings &settings, const QString &action,
              Done done);
    // From now on nothing starts, not even another try: a posting that never started is done with nothing,
    // one waiting to try again with its last outcome. Those in flight finish.
    void close();
    bool isClosed() const { return m_closed; }
    // Postings taken and not yet done: in flight, or waiting their turn.
    int unfinished() const { return m_unfinished; }

Q_SIGNALS:
    // The last unfinished posting is done.
    void idle();

private:
    struct Posting;
    struct Board;

    void enqueue(std::shared_ptr<Posting> posting, const QString &board, const ComponentSettings &settings);
    Board &boardNamed(const QString &name, int maxInFlight);
    // Starts what the board has room and time for.
    void dispatch(Board &board);
    void start(Board &board, const std::shared_ptr<Posting> &posting);
    void tried(const std::shared_ptr<Posting> &posting);
    // Whether the posting goes back in line for another try; notes what its outcome says of the board.
    bool mayTryAgain(Board &board, Posting &posting);
    void finish(const std::shared_ptr<Posting> &posting);

    HostContext m_host;
    InFlightStatus &m_status;
    // By board name without regard to letter case, as the INI file matches sections.
    QHash<QString, std::shared_ptr<Board>> m_boards;
    int m_unfinished = 0;
    bool m_closed = false;
};

} // namespace Orvex
