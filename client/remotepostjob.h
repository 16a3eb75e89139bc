#pragma once

#include "automationerror.h"
#include "identity.h"
#include "listingfields.h"
#include "postingoutcome.h"
#include "postjobinterface.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class OrvexKelPostJob_PostJobInterface;
class OrvexKelPostJobIUnknownInterface;
class OrvexKelPostJobListingInterface;

namespace Orvex {

struct LostCall;

// A posting the server checks against its journal in the step that writes its start row (PostOnceToBoard):
// not sent while the listing is in flight elsewhere, nor, with since (a rerun's time), once it got "S"
// since then.
struct OncePerListing {
    std::optional<QDateTime> since;
};

// A PostJob object in the automation server on the bus. Creation starts the server if it is not
// running; destruction releases the object, which ends the server process (and every object in it).
// Needs a QCoreApplication. Failures throw Orvex::AutomationError as the server raised them.
//
// The listing is kept here: Field only appends to it, and Action sends the whole listing in one call.
// A call that certainly never reached the server (it ended first, or was gone) is sent again on a new
// object in a new server. A call whose server was lost while holding it may have run: it is not sent
// again and fails with ErrorNumber::OutcomeUnknown, unless the server's posting journal settles it: no
// start line for the call (it never ran, so it is sent again) or its end line (what it came to). Texts
// holding U+0000, which the bus cannot carry, and a listing that would not make a well-formed document (a
// field name that is not an XML name, a name, value or action word holding a character XML forbids) are
// refused with ErrorNumber::InvalidProcedureCall, naming the text, before anything is sent.
class RemotePostJob final : public PostJobInterface {
public:
    // Creates by ProgID, which is the server's bus name.
    explicit RemotePostJob(const QString &progId = QString::fromLatin1(Identity::ProgId),
                           const QDBusConnection &bus = QDBusConnection::sessionBus());
    // Creates by class identifier; an identifier no server is known for fails as "Class not registered".
    explicit RemotePostJob(const QUuid &classId, const QDBusConnection &bus = QDBusConnection::sessionBus());
    ~RemotePostJob() override;

    RemotePostJob(const RemotePostJob &) = delete;
    RemotePostJob &operator=(const RemotePostJob &) = delete;

    // The ProgID registered for a class identifier, or an empty text.
    static QString progIdForClassId(const QUuid &classId);

    // Appends the field to the listing kept here and returns the empty text; nothing goes on the bus.
    // A refused field is not appended.
    QString Field(const QString &FieldName, const QString &FieldValue) override;
    // Posts the listing in one call; afterwards the listing is empty, whatever the outcome.
    QString Action(const QString &ActionType) override;
    // Action that also says why a listing failed: the HTTP status, the error of the exchange, and whether
    // the board may have it (deliveryClass). A posting the board may have without a word (a time limit or
    // a lost connection after the listing left) fails with ErrorNumber::OutcomeUnknown, as a lost server
    // does, so that no caller takes it for an "F" to post again.
    PostingOutcome ActionWithOutcome(const QString &ActionType);
    // ActionWithOutcome to a board of the INI file by name; empty or "default" is [General]'s board.
    PostingOutcome postToBoard(const QString &Board, const QString &ActionType,
                               const std::optional<OncePerListing> &once = std::nullopt);
    // PostToBoard of a whole listing, sent and not awaited, for a caller that keeps several calls out;
    // outcomeOf reads its reply.
    QDBusPendingCall sendPostToBoard(const QString &Board, const QString &ActionType,
                                     const ListingFields &fields,
                                     const std::optional<OncePerListing> &once = std::nullopt);
    // The outcome of a call of sendPostToBoard lost with its server, where the server's journal holds the
    // end of that listing's one call to that board; nothing where it cannot say.
    std::optional<PostingOutcome> settleLostListing(const QDBusError &error, const QString &Board,
                                                    const QString &ActionType, const QString &jobCode);
    // What a PostToBoard reply says, as the server decided it; throws OutcomeUnknown where the server says
    // the board may have the listing without a word, so that no caller takes it for an "F" to post again.
    static PostingOutcome outcomeOf(const QDBusMessage &reply);
    // The outcome as a caller takes it: throws OutcomeUnknown where the board may have the listing
    // without a word.
    static PostingOutcome knownOutcome(const PostingOutcome &outcome);
    // Why the server cannot write its posting journal, or empty while it can.
    QString journalProblem();
    // How many PostToBoard calls the server runs at once to the board (its MaxInFlight): the calls a caller
    // keeps out to feed it. Throws AutomationError as postToBoard does for an unknown board.
    int maxInFlight(const QString &Board);
    using PostJobInterface::WriteLog;
    void WriteLog(const QString &SubName, const QString &Message, const Orvex::Variant &AnyOther) override;

    // Releases the object now. The server ends; later calls fail. Releasing twice does nothing.
    void release();

    bool isReleased() const { return m_released; }
    // The unique bus name of the serving process and the object's path there.
    QString serverName() const;
    QString objectPath() const;

private:
    void create();
    void bind(const QString &serverName, const QString &path);
    void renew();
    // What the posting journal settled of a call whose reply was lost.
    enum class Settled { No, NeverRan, Finished };
    using Settle = std::function<Settled(const QDBusError &)>;
    // Sends the call, again on a new object while it certainly never arrived; returns the reply, or an
    // invalid message when settle found the call's end in the journal.
    QDBusMessage deliver(const std::function<QDBusPendingCall()> &send, const Settle &settle = {});
    // The lost call as the journal of its ended server names it; false while the server may still run.
    bool lostCallOf(const QDBusError &error, const QString &ActionType, const QString &jobCode,
                    LostCall *call);
    Settled settleFromJournal(const QDBusError &error, const QString &ActionType, const QString &jobCode,
                              PostingOutcome *outcome);
    void ensureNotReleased() const;

    QString m_progId;
    QDBusConnection m_bus;
    std::unique_ptr<OrvexKelPostJob_PostJobInterface> m_object;
    std::unique_ptr<OrvexKelPostJobListingInterface> m_listing;
    std::unique_ptr<OrvexKelPostJobIUnknownInterface> m_unknown;
    ListingFields m_fields;
    // The object's journal and its server's process id, asked for at creation while the server lives.
    QDBusPendingReply<QString, uint> m_journal;
    QDBusPendingReply<QString> m_journalHost;
    // Before any row of the object: the journal's rows of an earlier process with the same id are older.
    QDateTime m_boundAt;
    // The object's listing calls known to have run, and the job code the object holds after them.
    int m_callsRun = 0;
    QString m_jobCode;
    bool m_released = false;
    bool m_serverGone = false;
};

} // namespace Orvex
