#include "xmltext.h"

namespace Orvex::XmlText {

namespace {

QString codePoint(char32_t code) {
    return QStringLiteral("U+") + QString::number(quint32(code), 16).toUpper().rightJustified(4, u'0');
}

// XML 1.0's Char production.
bool isXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// XML 1.0 (fifth edition) NameStartChar; the colon too, which namespaces give a meaning but XML allows.
bool isNameStartChar(char32_t c) {
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(char32_t c) {
    return isNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// The code point at i, with a lone surrogate as itself so that it fails isXmlChar.
char32_t codeAt(QStringView text, qsizetype *i) {
    const QChar c = text.at(*i);
    if (c.isHighSurrogate() && *i + 1 < text.size() && text.at(*i + 1).isLowSurrogate()) {
        ++*i;
        return QChar::surrogateToUcs4(c, text.at(*i));
    }
    return c.unicode();
}

QString forbidden(char32_t code, qsizetype position) {
    return QStringLiteral("holds %1 at position %2, which XML does not allow")
        .arg(codePoint(code))
        .arg(position);
}

} // namespace

QString nameProblem(QStringView name) {
    if (name.isEmpty())
        return QStringLiteral("is empty, which is not an XML name");
    for (qsizetype i = 0; i < name.size(); ++i) {
        const qsizetype position = i + 1;
        const char32_t code = codeAt(name, &i);
        if (!isXmlChar(code))
            return forbidden(code, position);
        if (position == 1 ? !isNameStartChar(code) : !isNameChar(code)) {
            return QStringLiteral("is not an XML name: %1 at position %2 cannot %3 one")
                .arg(codePoint(code))
                .arg(position)
                .arg(position == 1 ? QStringLiteral("begin") : QStringLiteral("be part of"));
        }
    }
    return QString();
}

QString textProblem(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype position = i + 1;
        const char32_t code = codeAt(text, &i);
        if (!isXmlChar(code))
            return forbidden(code, position);
    }
    return QString();
}

QString actionProblem(QStringView action) {
    if (const QString problem = textProblem(action); !problem.isEmpty())
        return problem;
    for (qsizetype i = 0; i < action.size(); ++i) {
        if (const QChar c = action.at(i); c == u'<' || c == u'>' || c == u'&')
            return QStringLiteral("holds \"%1\" at position %2, which the document would read as markup")
                .arg(c)
                .arg(i + 1);
    }
    return QString();
}

} // namespace Orvex::XmlText
