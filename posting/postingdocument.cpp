#include "postingdocument.h"

namespace Orvex {

QString escapeFieldValue(const QString &value) {
    QString escaped = value;
    escaped.replace(u'&', QStringLiteral("&amp;"));
    escaped.replace(u'<', QStringLiteral("&lt;"));
    escaped.replace(u'>', QStringLiteral("&gt;"));
    return escaped;
}

QString fieldElement(const QString &name, const QString &value) {
    return u'<' + name + u'>' + escapeFieldValue(value) + QStringLiteral("</") + name + u'>';
}

QString postingDocument(const QString &actionWord, const QString &fieldElements) {
    return QString::fromUtf16(XmlDeclaration) + QStringLiteral("<JobPosting><Action>") + actionWord +
           QStringLiteral("</Action>") + fieldElements + QStringLiteral("</JobPosting>");
}

} // namespace Orvex
