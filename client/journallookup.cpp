#include "journallookup.h"

#include "clientlogging.h"
#include "journalstore.h"
#include "listingrules.h"
#include "postgresdatabase.h"
#include "processstate.h"

#include <QDeadlineTimer>
#include <QThread>

#include <unistd.h>

namespace Orvex {

namespace {

using Kind = JournalVerdict::Kind;

constexpr int ProcessPollMs = 20;
// The class of the row that settles a lost call. A row without one promises nothing about the board,
// unless the board's "S" is in it.
DeliveryClass deliveryClassOf(const JournalPosting &posting) {
    if (const std::optional<DeliveryClass> known = deliveryClassFromName(posting.deliveryClass))
        return *known;
    return posting.succeeded() ? DeliveryClass::Posted : DeliveryClass::Unknown;
}

// The journal the server named: its file, or its PostgreSQL URI as it may be shown (a password is best in
// ~/.pgpass, so that this reaches it too).
bool openJournalOf(JournalStore &journal, const LostCall &call, QString *why) {
    if (isPostgresUri(call.journalFile))
        return journal.openUri(call.journalFile, JournalStore::Access::Read, why);
    return journal.openFile(call.journalFile, why);
}

// Another machine's rows carry process ids and object paths of their own, which may be the same.
bool isOfTheCall(const JournalPosting &posting, const LostCall &call) {
    return call.host.isEmpty() || posting.host.isEmpty() || posting.host == call.host;
}

} // namespace

JournalVerdict lookUpLostCall(const LostCall &call) {
    if (call.journalFile.isEmpty() || call.processId <= 0 || !call.since.isValid())
        return {};
    // Opened under the server's own rules: a link or another user's file is no journal of ours.
    JournalStore journal;
    QString why;
    if (!openJournalOf(journal, call, &why)) {
        qCDebug(lcClient).noquote() << "cannot read the journal" << call.journalFile << why;
        return {};
    }
    // The tries of one call share its serial, each a row of its own: the calls are the distinct serials,
    // and a call's last row is its last try.
    QList<qint64> calls;
    std::optional<JournalPosting> lastOfLastCall;
    if (!journal.readCallsOf(
            call.processId, call.objectPath, call.since,
            [&](JournalPosting &&posting) {
                if (!isOfTheCall(posting, call))
                    return true;
                if (calls.isEmpty() || calls.constLast() != posting.callSerial)
                    calls.append(posting.callSerial);
                lastOfLastCall = std::move(posting);
                // More than one call beyond those accounted for settles nothing.
                return calls.size() <= call.callsRun + 1;
            },
            &why)) {
        qCDebug(lcClient).noquote() << "cannot read the journal" << call.journalFile << why;
        return {};
    }

    if (calls.size() == call.callsRun) {
        qCDebug(lcClient) << "the journal holds no start for the lost call on" << call.objectPath;
        return {Kind::NeverRan, {}};
    }
    // Anything else than one more call, for this listing, is a journal that lost rows or a call of
    // someone else's: no verdict.
    if (calls.size() != call.callsRun + 1)
        return {};
    const JournalPosting &lost = *lastOfLastCall;
    if (lost.action != call.action || lost.jobCode != call.jobCode || !lost.ended)
        return {};
    return {Kind::Finished, PostingOutcome{lost.resultCode, lost.httpStatus, lost.errorNumber,
                                           lost.errorDescription, QString(), deliveryClassOf(lost)}};
}

JournalVerdict lookUpLostListing(const LostCall &call, const QString &board) {
    if (call.journalFile.isEmpty() || call.processId <= 0 || !call.since.isValid())
        return {};
    JournalStore journal;
    QString why;
    if (!openJournalOf(journal, call, &why)) {
        qCDebug(lcClient).noquote() << "cannot read the journal" << call.journalFile << why;
        return {};
    }
    const QString wantedBoard = board.isEmpty() ? ListingRules::DefaultBoardName.toString() : board;
    QList<qint64> calls;
    std::optional<JournalPosting> last;
    const bool read = journal.readCallsOf(
        call.processId, call.objectPath, call.since,
        [&](JournalPosting &&posting) {
            if (!isOfTheCall(posting, call))
                return true;
            if (posting.action != call.action || posting.jobCode != call.jobCode ||
                posting.board.compare(wantedBoard, Qt::CaseInsensitive) != 0)
                return true;
            if (!calls.contains(posting.callSerial))
                calls.append(posting.callSerial);
            if (posting.callSerial == calls.constFirst())
                last = std::move(posting);
            return calls.size() <= 1;
        },
        &why);
    // Two calls for one listing and board, or none: the journal cannot say which was lost.
    if (!read || calls.size() != 1 || !last || !last->ended)
        return {};
    const PostingOutcome outcome{last->resultCode,       last->httpStatus, last->errorNumber,
                                 last->errorDescription, QString(),        deliveryClassOf(*last)};
    if (outcome.deliveryClass == DeliveryClass::Unknown)
        return {};
    return {Kind::Finished, outcome};
}

bool waitForProcessEnd(qint64 processId, int timeoutMs) {
    if (processId <= 0)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (hasProcessEnded(processId))
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(ProcessPollMs);
    }
}

} // namespace Orvex
