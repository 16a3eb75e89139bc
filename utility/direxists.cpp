#include "textutils.h"

#include "files.h"
#include "textutils_p.h"

namespace FuncLib {

namespace {

bool matchesAnEntry(const QString &path) {
    // The look-up reports failures as "nothing found"; this guard keeps any other error from the caller too.
    try {
        return Orvex::Files::findFirst(path).has_value();
    } catch (...) {
        return false;
    }
}

} // namespace

bool DirExists(const QString &Path) {
    if (IsBlank(Path))
        return false;
    if (matchesAnEntry(Path))
        return true;
    // A path that fails only because of one trailing separator passes on the second look-up.
    const QString trimmed = Detail::trimSpaces(Path);
    if (trimmed.size() > 1 && (trimmed.endsWith(u'/') || trimmed.endsWith(u'\\')))
        return matchesAnEntry(trimmed.chopped(1));
    return false;
}

} // namespace FuncLib
