#include "urltext.h"

#include "errortable.h"

#include <QRegularExpression>
#include <QUrl>

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

std::optional<UrlRefusal> importUrlRefusal(const QString &url) {
    const QUrl parsed(url);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return UrlRefusal{ErrorNumber::InvalidUrl,
                          QStringLiteral("The URL \"%1\" is not valid").arg(withoutUserInfo(url))};
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1StringView("http") && scheme != QLatin1StringView("https"))
        return UrlRefusal{
            ErrorNumber::UnsupportedScheme,
            QStringLiteral("The URL \"%1\" is neither http nor https").arg(withoutUserInfo(url))};
    return std::nullopt;
}

} // namespace Orvex
