#include "activitylogfile.h"

#include "clock.h"
#include "journaldayname.h"
#include "stampfilename.h"

namespace Orvex {

QString activityLogFile(const QString &folder, const QDate &day) {
    QString path;
    FuncLib::StampFileName(folder + QString::fromUtf16(ActivityLogName), path, QStringLiteral("DateOnly"),
                           FixedClock(QDateTime(day, QTime(0, 0))));
    return path;
}

QString journalFileOf(const QString &logFile) {
    const QLatin1StringView logSuffix(".log");
    if (!logFile.endsWith(logSuffix))
        return QString();
    return logFile.chopped(logSuffix.size()) + JournalDayName::Suffix;
}

QString journalFile(const QString &folder, const QDate &day) {
    return journalFileOf(activityLogFile(folder, day));
}

} // namespace Orvex
