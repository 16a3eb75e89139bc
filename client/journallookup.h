#pragma once

#include "postingoutcome.h"

#include <QDateTime>
#include <QString>

namespace Orvex {

// A listing call whose reply was lost, as the server's posting journal can name it: the server process,
// the object, since when (a process id is used again, years later), how many of the object's calls are
// known to have run (each left a start row), and what the lost call would have written.
struct LostCall {
    QString journalFile;
    qint64 processId = 0;
    QString objectPath;
    QDateTime since;
    int callsRun = 0;
    QString action;
    QString jobCode;
    // The host its server's rows name; empty: any, as in a journal only one machine writes.
    QString host;
};

// What the journal says of a lost call.
struct JournalVerdict {
    enum class Kind {
        Unsettled, // it may have posted: a start row without an end, or a journal that cannot be trusted
        NeverRan,  // no start row where one would be: the board never saw it
        Finished,  // its end is there: outcome holds what it came to
    };
    Kind kind = Kind::Unsettled;
    PostingOutcome outcome;
};

// Reads the verdict from the journal. Only for a server that has ended: a live one could still write the
// start row after the journal was read.
JournalVerdict lookUpLostCall(const LostCall &call);
// The same for a listing call that was out beside others of its object (PostToBoard to board): the calls
// did not run in the order they were sent, so only an end row of exactly one call for this listing and
// board settles it; never "NeverRan".
JournalVerdict lookUpLostListing(const LostCall &call, const QString &board);

// Whether the process has ended (or is a zombie, which runs nothing), waiting up to timeoutMs for it.
bool waitForProcessEnd(qint64 processId, int timeoutMs);

} // namespace Orvex
