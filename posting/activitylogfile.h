#pragma once

#include <QDate>
#include <QString>

namespace Orvex {

// The log's name before StampFileName works the date in, relative to the folder it lies in.
inline constexpr char16_t ActivityLogName[] = u"\\OrvexKelPostJobs.log";

// The log file of one day in folder, named as object creation names it ("folder\OrvexKelPostJobs
// 2010-01-19.log").
QString activityLogFile(const QString &folder, const QDate &day);

// The posting journal beside a log file: the log's name with ".jsonl" in place of ".log"
// ("folder\OrvexKelPostJobs 2010-01-19.jsonl"); empty, no journal, for a name not ending in ".log".
QString journalFileOf(const QString &logFile);

// The journal of one day in folder.
QString journalFile(const QString &folder, const QDate &day);

} // namespace Orvex
