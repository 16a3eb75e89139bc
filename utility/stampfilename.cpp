#include "stampfilename.h"

#include "clock.h"
#include "textutils.h"

namespace FuncLib {

namespace {

QString twoDigits(int value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString dateStamp(const QDate &date) {
    return u' ' + QString::number(date.year()) + u'-' + twoDigits(date.month()) + u'-' +
           twoDigits(date.day());
}

QString timeStamp(const QTime &time) {
    return u' ' + twoDigits(time.hour()) + u'-' + twoDigits(time.minute()) + u'-' + twoDigits(time.second());
}

} // namespace

void StampFileName(const QString &SourcePath, QString &StampedPath, const QString &StampMode) {
    StampFileName(SourcePath, StampedPath, StampMode, Orvex::systemClock());
}

void StampFileName(const QString &SourcePath, QString &StampedPath, const QString &StampMode,
                   const Orvex::Clock &clock) {
    if (IsBlank(SourcePath))
        return;

    // Separators are not looked at: a "." in a folder name takes the stamp when the file name has none.
    const qsizetype dot = SourcePath.lastIndexOf(u'.');
    QString stamped = dot < 0 ? SourcePath : SourcePath.left(dot);
    const QString extension = dot < 0 ? QString() : SourcePath.mid(dot + 1);

    const QDateTime now = clock.now();
    if (StampMode == u"DateOnly") {
        stamped += dateStamp(now.date());
    } else if (StampMode == u"TimeOnly") {
        stamped += timeStamp(now.time());
    } else {
        stamped += dateStamp(now.date());
        stamped += timeStamp(now.time());
    }

    if (!IsBlank(extension))
        stamped += u'.' + extension;
    StampedPath = stamped;
}

} // namespace FuncLib
