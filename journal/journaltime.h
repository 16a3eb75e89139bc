#pragma once

#include <QDateTime>
#include <QString>

namespace Orvex {

// A posting's time as the journal keeps it: the instant and the UTC offset in force where it was written.
// Its text is worked out from those two numbers alone, so that a long history costs no look-up of the
// time zone (and no file system call) per row.
class JournalTime {
public:
    JournalTime(qint64 msecsSinceEpoch, int offsetSeconds);
    // A time read from the journal, which carries its offset.
    static JournalTime of(const QDateTime &time);

    QString dateText() const;  // yyyy-MM-dd, local to the offset
    QString clockText() const; // HH:mm:ss
    // yyyy-MM-ddTHH:mm:ss.zzz and the offset: "Z" for UTC, else +hh:mm or -hh:mm.
    QString isoText() const;

private:
    qint64 m_localMs; // the instant plus the offset: the wall clock's reading, counted as UTC
    int m_offsetSeconds;
};

} // namespace Orvex
