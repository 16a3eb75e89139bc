#pragma once

#include <QString>

// The suite's shared text and path routines. A null QString reads as the empty text throughout.
namespace FuncLib {

// Empty, spaces only, or NULs only.
bool IsBlank(const QString &Value);
// True when a folder or file matches Path (wildcards allowed), if need be after one trailing separator is
// dropped.
bool DirExists(const QString &Path);
// Overlapping occurrences count; searching is exact.
qint32 CountOccurrences(const QString &Text, const QString &Find);
QString StripExtension(const QString &FileName);
// Trimmed Path ending in a separator, or the empty text for a blank Path.
QString AddBackslash(const QString &Path);
QString RemoveSuffix(const QString &Text, const QString &Suffix);

} // namespace FuncLib
