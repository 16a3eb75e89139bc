#pragma once

#include "variant.h"

#include <QDateTime>
#include <QString>

#include <optional>

// One record of the activity log, rendered as text.
namespace Orvex {

// US English general date whatever the locale: "1/19/2010 3:07:45 PM", the date alone at 00:00:00.
QString entryTimeText(const QDateTime &when);

// A double-quoted field; nothing inside is escaped, so quotes, commas and line breaks pass unchanged.
QString quotedField(const QString &text);

// The fourth field: by the type of the value; the empty value gives nothing at all.
QString anyOtherText(const Variant &value);

// The value as the runtime's coercion to text gives it (a by-value text parameter): numbers as in the
// fourth field, Booleans "True" or "False", dates in the general date form of the entry time (a time on
// the zero date alone), the empty value as the empty text. Null and error values have no text: nothing.
std::optional<QString> coercedText(const Variant &value);

// The four fields separated by commas, then CR LF.
QString logRecord(const QDateTime &when, const QString &subName, const QString &message,
                  const Variant &anyOther);

} // namespace Orvex
