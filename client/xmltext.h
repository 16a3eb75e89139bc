#pragma once

#include <QString>
#include <QStringView>

namespace Orvex::XmlText {

// Why a field name cannot be an element name of a well-formed document (not an XML name, or holding a
// character XML forbids), or an empty text when it can.
QString nameProblem(QStringView name);

// Why a value or action word cannot be character data of a well-formed document: it holds a character
// XML forbids (a control other than tab, CR and LF, a lone surrogate, U+FFFE or U+FFFF). Empty when it
// can. Markup characters are fine: values are escaped, and the document carries them as references.
QString textProblem(QStringView text);

// Why an action word cannot go into the document: what textProblem finds, or a markup character ("<", ">"
// or "&"), since the server writes the action word as given and markup in it would add elements.
QString actionProblem(QStringView action);

} // namespace Orvex::XmlText
