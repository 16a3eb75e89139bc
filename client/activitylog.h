#pragma once

#include "linestream.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

namespace Orvex {

// One posting as the activity log tells it: its action record and the outcome paired with it.
struct LoggedPosting {
    enum class Outcome { Unknown, Reply, Error };

    QDateTime time; // of the action record
    QString action;
    QString jobCode;
    Outcome outcome = Outcome::Unknown;
    QString reply;            // the recorded reply (its beginning), also when an error followed it
    QString errorDescription; // Outcome::Error
    qint32 errorNumber = 0;   // Outcome::Error
    QString resultCode;       // "S" and the job id, or "F"; empty while Unknown
};

// The postings of one activity log, read back from its records.
class ActivityLog {
public:
    using ReadResult = Orvex::ReadResult;

    explicit ActivityLog(const QString &text);

    // Reads the file as a stream and hands each posting to each, in the order of the action records, once
    // its outcome is known; memory is bounded by the longest record, not by the file's size. Missing when
    // there is no such file; Refused, with the reason in *error, for what is not a regular file, not an
    // activity log, or cannot be read (each may have had some postings by then).
    static ReadResult read(const QString &path, const std::function<void(LoggedPosting &&)> &each,
                           QString *error);

    const QList<LoggedPosting> &postings() const { return m_postings; }

private:
    QList<LoggedPosting> m_postings;
};

} // namespace Orvex
