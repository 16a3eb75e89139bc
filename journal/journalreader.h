#pragma once

#include "linestream.h"
#include "listingrules.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

namespace Orvex {

// One posting as the posting journal tells it: its start line and, once the exchange ended, its end line.
struct JournalPosting {
    QDateTime time; // of the start line (of the end line when the start line is missing)
    qint64 processId = 0;
    QString objectPath;
    qint64 callSerial = 0;
    QString action;
    QString jobCode;
    bool started = false; // a start line was found
    bool ended = false;   // an end line was found; the fields below are read from it
    QString resultCode;
    QString jobId;
    int httpStatus = 0;
    qint32 errorNumber = 0;
    QString errorDescription;
    qint64 replyBytes = 0;
    qint64 durationMs = 0;
    QString deliveryClass; // a name of deliveryClassName(); empty when the line or row predates it
    QString board = ListingRules::DefaultBoardName.toString();
    QString host; // the machine that posted it; empty in rows and lines from before hosts were kept

    bool succeeded() const { return ended && resultCode.startsWith(u'S'); }
};

// The postings of a posting journal, paired by server process, object and call serial, so that lines of
// several servers written between each other stay apart.
class JournalReader {
public:
    using ReadResult = Orvex::ReadResult;

    // Reads the file as a stream, in memory that does not grow with its size, and hands each posting to
    // each in the order the exchanges started, once it has ended (or can no longer end). A line that is
    // not a journal object (one torn by a crash) is skipped. Missing when there is no such file; Refused,
    // with the reason in *error, for what is not a regular file, not a journal, or cannot be read.
    static ReadResult read(const QString &path, const std::function<void(JournalPosting &&)> &each,
                           QString *error);
};

} // namespace Orvex
