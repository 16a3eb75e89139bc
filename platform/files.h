#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The file layer: paths arrive in Windows form and become native only when a file or folder is touched.
namespace Orvex::Files {

// Both "\" and "/" separate; every "\" becomes "/". Nothing else changes.
QString nativePath(const QString &path);

// The native path as the bytes the kernel takes, or nothing when the text cannot name a file
// (empty, an embedded NUL, a lone surrogate).
std::optional<QByteArray> encodedPath(const QString &path);

// The folder search: the name of the first entry that matches pattern, folders and files alike.
// "*" and "?" are wildcards in the last component only, matched as the Windows search does: a "?" matches
// nothing at a dot or at the end of a name (it never takes a dot), "*." matches names without a dot,
// "Data.*" matches "Data" too, and "*.*" every name. Trailing dots and spaces of the last component are
// dropped first, as Windows drops them; in other components they stay part of the name. Entries whose
// names begin with "." are hidden and never match; a last component of exactly "." or ".." names the
// folder itself. A pattern that ends in a separator (a lone "\" included) names no entry. Case-sensitive,
// as names on this platform are. Never throws; any failure is "nothing found".
std::optional<QString> findFirst(const QString &pattern);

} // namespace Orvex::Files
