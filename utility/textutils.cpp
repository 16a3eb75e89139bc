#include "textutils.h"
#include "textutils_p.h"

namespace FuncLib {

namespace {

bool endsInSeparator(const QString &path) {
    return path.endsWith(u'\\') || path.endsWith(u'/');
}

} // namespace

QString Detail::trimSpaces(const QString &text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.mid(first, last - first);
}

bool IsBlank(const QString &Value) {
    if (Value.isEmpty() || Detail::trimSpaces(Value).isEmpty())
        return true;
    // On this platform NUL is the only character whose code page value is not above 0.
    for (const QChar c : Value) {
        if (c.unicode() != 0)
            return false;
    }
    return true;
}

qint32 CountOccurrences(const QString &Text, const QString &Find) {
    // An empty Find would match everywhere; no caller passes one, and 0 keeps the count finite.
    if (Find.isEmpty())
        return 0;
    qint32 count = 0;
    for (qsizetype at = Text.indexOf(Find); at >= 0; at = Text.indexOf(Find, at + 1))
        ++count;
    return count;
}

QString StripExtension(const QString &FileName) {
    const qsizetype dot = FileName.lastIndexOf(u'.');
    if (dot < 0 || dot == FileName.size() - 1)
        return FileName;
    return FileName.left(dot);
}

QString AddBackslash(const QString &Path) {
    if (IsBlank(Path))
        return QString();
    const QString trimmed = Detail::trimSpaces(Path);
    return endsInSeparator(trimmed) ? trimmed : trimmed + u'\\';
}

QString RemoveSuffix(const QString &Text, const QString &Suffix) {
    if (IsBlank(Text) || Suffix.isEmpty())
        return Text;
    return Text.endsWith(Suffix, Qt::CaseSensitive) ? Text.chopped(Suffix.size()) : Text;
}

} // namespace FuncLib
