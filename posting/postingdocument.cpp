#include "postingdocument.h"

namespace Orvex {

namespace {

// One pass over the value; "&amp;" etc. are not rescanned, so each character is escaped exactly once.
void appendEscaped(QString &out, QStringView value) {
    qsizetype plainStart = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        QLatin1StringView entity;
        switch (value[i].unicode()) {
        case u'&':
            entity = QLatin1StringView("&amp;");
            break;
        case u'<':
            entity = QLatin1StringView("&lt;");
            break;
        case u'>':
            entity = QLatin1StringView("&gt;");
            break;
        default:
            continue;
        }
        out.append(value.mid(plainStart, i - plainStart));
        out.append(entity);
        plainStart = i + 1;
    }
    out.append(value.mid(plainStart));
}

} // namespace

QString escapeFieldValue(const QString &value) {
    QString escaped;
    escaped.reserve(value.size());
    appendEscaped(escaped, value);
    return escaped;
}

QString fieldElement(const QString &name, const QString &value) {
    QString element;
    element.append(u'<').append(name).append(u'>');
    appendEscaped(element, value);
    element.append(QLatin1StringView("</")).append(name).append(u'>');
    return element;
}

QString postingDocument(const QString &actionWord, const QString &fieldElements) {
    return postingDocumentHead(actionWord) + fieldElements + postingDocumentTail();
}

QString postingDocumentHead(const QString &actionWord) {
    return QString::fromUtf16(XmlDeclaration) + QLatin1StringView("<JobPosting><Action>") + actionWord +
           QLatin1StringView("</Action>");
}

QLatin1StringView postingDocumentTail() {
    return QLatin1StringView("</JobPosting>");
}

} // namespace Orvex
