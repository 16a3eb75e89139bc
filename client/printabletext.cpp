#include "printabletext.h"

#include <algorithm>

namespace Orvex {

namespace {

constexpr QChar Replacement(0xFFFD);

bool isControl(QChar c) {
    const char16_t code = c.unicode();
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

} // namespace

QString printableText(QStringView text) {
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (!isControl(c))
            result += c;
        else if (c == u'\r')
            result += QLatin1StringView("\\r");
        else if (c == u'\n')
            result += QLatin1StringView("\\n");
        else if (c == u'\t')
            result += QLatin1StringView("\\t");
        else
            result += Replacement;
    }
    return result;
}

QString printableText(const QString &text) {
    // Most texts are clean: they are shared, not copied.
    const bool clean = std::none_of(text.cbegin(), text.cend(), [](QChar c) { return isControl(c); });
    return clean ? text : printableText(QStringView(text));
}

QString printableJsonText(QStringView text) {
    QString result = text.toString();
    for (QChar &c : result) {
        if (isControl(c) && c != u'\t')
            c = Replacement;
    }
    return result;
}

} // namespace Orvex
