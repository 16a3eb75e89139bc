#include "regfuncs.h"

namespace RegFuncs {

QString TrimAtNull(const QString &Text) {
    const qsizetype nul = Text.indexOf(QChar(u'\0'));
    return nul < 0 ? Text : Text.left(nul);
}

} // namespace RegFuncs
