#pragma once

#include "postingoutcome.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace Orvex {

// Which call of which server a journal line belongs to. Object path and serial together name one call of
// one server process; the process id tells the servers of one day apart.
struct JournalCall {
    qint64 processId = 0;
    QString objectPath;
    quint64 serial = 0;
    QString action;
    QString jobCode;
    // The board's name as the INI file writes it; "default" for [General].
    QString board = QStringLiteral("default");
};

// The next call serial of this process, counted from 1.
quint64 nextCallSerial();

// The journal lines of one posting, each a compact JSON object ended by "\n". Every text is escaped, so a
// line holds no line break whatever the action, job code or error says.
QByteArray journalStartLine(const QDateTime &time, const JournalCall &call);
QByteArray journalEndLine(const QDateTime &time, const JournalCall &call, const PostingOutcome &outcome,
                          qint64 replyBytes, qint64 durationMs);

// Appends one line with one write, as the activity log is written; false when it was not written.
bool appendJournalLine(const QString &journalFile, const QByteArray &line);

// Makes the journal, empty, unless it is there: a reader can then tell a call that left no start line
// from a journal that could not be written at all. False when it could not be made.
bool createJournal(const QString &journalFile);

} // namespace Orvex
