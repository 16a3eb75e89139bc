#include "activitylogfile.h"

#include "clock.h"
#include "stampfilename.h"

namespace Orvex {

QString activityLogFile(const QString &folder, const QDate &day) {
    QString path;
    FuncLib::StampFileName(folder + QString::fromUtf16(ActivityLogName), path, QStringLiteral("DateOnly"),
                           FixedClock(QDateTime(day, QTime(0, 0))));
    return path;
}

} // namespace Orvex
