#include "urltext.h"

#include "errortable.h"

#include <QRegularExpression>
#include <QUrl>

namespace Orvex {

namespace {

const QRegularExpression &schemeStart() {
    static const QRegularExpression scheme(QStringLiteral(R"([A-Za-z][A-Za-z0-9+.\-]*://)"));
    return scheme;
}

bool isWordEnd(QChar c) {
    return c.isSpace() || c == u'"' || c == u'\'' || c == u'<' || c == u'>';
}

// QUrl's reading of text as one URL with a host, or nothing: only then does QUrl know where the user-info
// ends. Anything it cannot read may hold a password anywhere before its last "@".
std::optional<QUrl> parsedUrl(QStringView text) {
    const QUrl url(text.toString(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

QString withoutParsedUserInfo(QStringView text, const QUrl &url) {
    return url.userInfo().isEmpty() ? text.toString() : url.toString(QUrl::RemoveUserInfo);
}

// One URL starting at its scheme and running up to the next scheme or the end of the text. QUrl decides
// where its first word can: when that word holds the user-info, or when nothing after it could still end
// one. Otherwise a password may hold spaces or quotes, and everything from "//" to the last "@" goes.
QString withoutRegionUserInfo(QStringView region) {
    const qsizetype authorityStart = region.indexOf(u"//") + 2;
    qsizetype wordEnd = authorityStart;
    while (wordEnd < region.size() && !isWordEnd(region[wordEnd]))
        ++wordEnd;
    const QStringView word = region.first(wordEnd);
    const QStringView rest = region.sliced(wordEnd);
    if (const std::optional<QUrl> url = parsedUrl(word);
        url && (!url->userInfo().isEmpty() || !rest.contains(u'@')))
        return withoutParsedUserInfo(word, *url) + rest.toString();
    const qsizetype lastAt = region.lastIndexOf(u'@');
    if (lastAt < authorityStart)
        return region.toString();
    return region.first(authorityStart).toString() + region.sliced(lastAt + 1).toString();
}

} // namespace

QString withoutUserInfo(QStringView text) {
    if (const std::optional<QUrl> url = parsedUrl(text))
        return withoutParsedUserInfo(text, *url);
    QList<qsizetype> starts;
    for (const QRegularExpressionMatch &scheme : schemeStart().globalMatch(text))
        starts.append(scheme.capturedStart());
    if (starts.isEmpty())
        return text.toString();
    starts.append(text.size());
    QString result = text.first(starts.first()).toString();
    for (qsizetype i = 0; i + 1 < starts.size(); ++i)
        result += withoutRegionUserInfo(text.sliced(starts[i], starts[i + 1] - starts[i]));
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
