#pragma once

#include "automationerror.h"
#include "listing.h"
#include "postingoutcome.h"
#include "remotepostjob.h"

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QHash>
#include <QList>

#include <memory>
#include <optional>

namespace Orvex {

// How one posting call ended, as far as the tool can tell.
struct CallResult {
    qsizetype task = -1;
    std::optional<PostingOutcome> outcome; // the server's answer: "S" or a definite "F"
    std::optional<AutomationError> error;  // otherwise why: OutcomeUnknown when the board may have it
    bool resend = false;                   // it never reached the object: safe to send again
};

// Posting calls on one PostJob object. The serial kind waits for each reply and lets the client
// library settle a lost server from its journal; the concurrent kind keeps several calls on the bus and
// reads each reply as it comes, renewing the object once every call of a lost server has returned. Where
// no session bus answers, the calls go to the posting engine in this process instead.
class PostCalls {
public:
    virtual ~PostCalls();
    PostCalls(const PostCalls &) = delete;
    PostCalls &operator=(const PostCalls &) = delete;

    // Makes the object and asks the server how many calls each board runs at once: one call at a time
    // when that is all the boards take together, else several. Throws AutomationError when no object can
    // be made or the server knows no such board.
    static std::unique_ptr<PostCalls> create(const QStringList &boards);
    // The calls to keep out to the board at that place in create's list: the server alone limits them, and
    // no more than it runs at once wait there, so an interrupt or a stopped board leaves none queued.
    int window(qsizetype board) const { return m_windows.at(board); }

    // Why the server cannot write its journal, or empty; nothing when the question failed.
    virtual std::optional<QString> journalProblem();
    // once: the journal's check the server makes with the start row; none, a posting as before.
    virtual void send(qsizetype task, const QString &board, const Listing &listing,
                      const std::optional<OncePerListing> &once) = 0;
    virtual qsizetype pending() const = 0;
    // False while calls of a lost server are still out: the next goes to a new one once they are back.
    bool canSend() const { return !m_serverLost || pending() == 0; }
    // Waits for the next call to end; only while pending() > 0.
    virtual CallResult next() = 0;
    // Releases the object: its server ends. Throws AutomationError.
    virtual void release();

protected:
    PostCalls();
    // The object, made again after its server was lost.
    RemotePostJob &job();
    void serverLost() { m_serverLost = true; }

private:
    std::unique_ptr<RemotePostJob> m_job;
    QList<int> m_windows;
    bool m_serverLost = false;
};

} // namespace Orvex
