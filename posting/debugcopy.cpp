#include "debugcopy.h"

#include "clock.h"
#include "decimaltext.h"
#include "stampfilename.h"
#include "textutils.h"

namespace Orvex {

namespace {
constexpr int SingleSignificantDigits = 7;
}

QString fineTimeText(const QTime &time) {
    const float seconds = float(time.msecsSinceStartOfDay() / 1000.0);
    return roundedDecimal(double(seconds), SingleSignificantDigits);
}

QString debugCopyPath(const QString &programFolder, const QDateTime &now) {
    // One reading of the clock for both stamps, so the name never mixes two seconds.
    const FixedClock moment(now);
    QString stamped;
    FuncLib::StampFileName(programFolder + QStringLiteral("\\OrvexKelPostJob.xml"), stamped,
                           QStringLiteral("Both"), moment);
    return FuncLib::StripExtension(stamped) + u'_' + fineTimeText(now.time()) + QStringLiteral(".xml");
}

} // namespace Orvex
