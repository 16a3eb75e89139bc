#pragma once

#include <QString>
#include <QStringView>

namespace Orvex {

// Text from a board or a log made safe to print: a reply or a record may hold terminal escapes that
// would retitle the terminal or erase lines. Every C0 and C1 control character and DEL is replaced.
//
// For a table row or a message: CR, LF and tab become the visible "\r", "\n" and "\t", so a row keeps to
// its line; every other control becomes U+FFFD.
QString printableText(QStringView text);
QString printableText(const QString &text);

// For a JSON string: tab is kept (the JSON writer escapes it), every other control becomes U+FFFD.
QString printableJsonText(QStringView text);

} // namespace Orvex
