#pragma once

#include <QString>
#include <QStringList>

namespace Orvex {
class WarningBox;
}

namespace FuncLib {

// Splits Text at Delimiter into Tokens (token n at index n - 1) and returns the count.
// A given Quote protects delimiters inside quoted stretches; Quote with CloseQuote, inside bracketed ones.
// On failure: RaiseErrors rethrows the Orvex::AutomationError, otherwise the box shows it and 0 is returned.
qint32 GetTokens(const QString &Text, const QString &Delimiter, QStringList &Tokens, const QString &Quote,
                 bool RaiseErrors, const QString &CloseQuote);
// The same, reporting a failure in the given box instead of the process's.
qint32 GetTokens(const QString &Text, const QString &Delimiter, QStringList &Tokens, const QString &Quote,
                 bool RaiseErrors, const QString &CloseQuote, Orvex::WarningBox &box);

} // namespace FuncLib
