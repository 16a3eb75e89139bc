#pragma once

#include <QString>

namespace Orvex {
class Clock;
}

namespace FuncLib {

// Works the date, the time or both (StampMode "DateOnly", "TimeOnly", anything else) into SourcePath
// before its extension. StampedPath is left untouched for a blank SourcePath.
void StampFileName(const QString &SourcePath, QString &StampedPath, const QString &StampMode);
void StampFileName(const QString &SourcePath, QString &StampedPath, const QString &StampMode,
                   const Orvex::Clock &clock);

} // namespace FuncLib
