#pragma once

#include <QByteArray>
#include <QString>

namespace Orvex {

// The bytes a posting document goes out as: ISO-8859-1, each character outside it as a numeric character
// reference of its code point ("&#8364;"), a lone surrogate as "&#65533;". Parsed as declared, the board
// sees exactly the text that was given. The debug copies hold these same bytes.
QByteArray toWireBytes(const QString &text);
// The same bytes appended to bytes, so a document can be encoded piece by piece into one buffer.
void appendWireBytes(QByteArray &bytes, QStringView text);

} // namespace Orvex
