#pragma once

#include <QString>

namespace Orvex {

// Stands in for GetPrivateProfileStringA.
//
// Section and key names match without regard to letter case; the first matching section and, within it,
// the first matching key win. The value, or defaultValue when the file, the section or the key is
// missing, is written into buffer cut to bufferSize - 1 characters and followed by a NUL; buffer is
// resized to bufferSize. Returns the number of characters written, without the NUL. A relative
// filePath is looked for in the current folder; "\" and "/" both separate folders.
qint32 readProfileString(const QString &section, const QString &key, const QString &defaultValue,
                         QString &buffer, qint32 bufferSize, const QString &filePath);

} // namespace Orvex
