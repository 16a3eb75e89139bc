#pragma once

#include <QString>

// The XML posting document, assembled as text; it becomes bytes only on the wire.
namespace Orvex {

// The declaration names ISO-8859-1 whatever the transport does.
inline constexpr char16_t XmlDeclaration[] = u"<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>";

// Field values are plain text: "&" first, then "<" and ">", so each character is escaped exactly once.
QString escapeFieldValue(const QString &value);

// One field element; the name goes out unchanged, the value escaped. Never the self-closing form.
QString fieldElement(const QString &name, const QString &value);

// The whole document: declaration, root, the action word unchanged, then the field elements as given.
QString postingDocument(const QString &actionWord, const QString &fieldElements);
// What comes before the field elements in the document, and what comes after them, for a document
// assembled from its parts without a copy of the fields.
QString postingDocumentHead(const QString &actionWord);
QLatin1StringView postingDocumentTail();

} // namespace Orvex
