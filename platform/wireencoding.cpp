#include "wireencoding.h"

namespace Orvex {

namespace {
constexpr char32_t ReplacementCharacter = 0xFFFD;

void appendCharacterReference(QByteArray &bytes, char32_t codePoint) {
    bytes += "&#";
    bytes += QByteArray::number(uint(codePoint));
    bytes += ';';
}

// Copies the run of single-byte characters in one pass the compiler can vectorise; appending them one by
// one cost more than the rest of the posting's text work.
void appendSingleBytes(QByteArray &bytes, const char16_t *units, qsizetype count) {
    const qsizetype start = bytes.size();
    bytes.resize(start + count);
    char *out = bytes.data() + start;
    for (qsizetype i = 0; i < count; ++i)
        out[i] = char(units[i]);
}
} // namespace

QByteArray toWireBytes(const QString &text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    appendWireBytes(bytes, text);
    return bytes;
}

void appendWireBytes(QByteArray &bytes, QStringView text) {
    const char16_t *units = text.utf16();
    const qsizetype length = text.size();
    qsizetype i = 0;
    while (i < length) {
        qsizetype runEnd = i;
        while (runEnd < length && units[runEnd] < 0x100)
            ++runEnd;
        appendSingleBytes(bytes, units + i, runEnd - i);
        i = runEnd;
        if (i == length)
            break;
        const char16_t unit = units[i];
        if (QChar::isHighSurrogate(unit) && i + 1 < length && QChar::isLowSurrogate(units[i + 1])) {
            appendCharacterReference(bytes, QChar::surrogateToUcs4(unit, units[i + 1]));
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            appendCharacterReference(bytes, ReplacementCharacter);
        } else {
            appendCharacterReference(bytes, unit);
        }
        ++i;
    }
}

} // namespace Orvex
