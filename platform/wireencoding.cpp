#include "wireencoding.h"

namespace Orvex {

namespace {
constexpr char32_t ReplacementCharacter = 0xFFFD;

void appendCharacterReference(QByteArray &bytes, char32_t codePoint) {
    bytes += "&#";
    bytes += QByteArray::number(uint(codePoint));
    bytes += ';';
}
} // namespace

QByteArray toWireBytes(const QString &text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    const qsizetype length = text.size();
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t unit = text.at(i).unicode();
        if (unit < 0x100) {
            bytes += char(unit);
        } else if (QChar::isHighSurrogate(unit) && i + 1 < length &&
                   QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            appendCharacterReference(bytes, QChar::surrogateToUcs4(unit, text.at(i + 1).unicode()));
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            appendCharacterReference(bytes, ReplacementCharacter);
        } else {
            appendCharacterReference(bytes, unit);
        }
    }
    return bytes;
}

} // namespace Orvex
