#include "urltext.h"

#include <QRegularExpression>

namespace Orvex {

QString withoutUserInfo(QStringView text) {
    // Scheme and "//" kept; everything up to the last "@" before the authority ends is user-info. Matched
    // on text rather than through QUrl so that a URL too broken to parse loses its password too.
    static const QRegularExpression userInfo(
        QStringLiteral(R"(([A-Za-z][A-Za-z0-9+.\-]*://)[^/?#\s"'<>]*@)"));
    QString result = text.toString();
    result.replace(userInfo, QStringLiteral("\\1"));
    return result;
}

} // namespace Orvex
