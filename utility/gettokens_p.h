#pragma once

#include <QString>
#include <QStringList>

namespace Orvex {
class WarningBox;
}

namespace FuncLib::Detail {

// GetTokens with the largest position its arithmetic holds (2^31 - 1 in use), so that the overflow path
// can be reached without a text of 2^31 characters.
qint32 getTokens(const QString &Text, const QString &Delimiter, QStringList &Tokens, const QString &Quote,
                 bool RaiseErrors, const QString &CloseQuote, Orvex::WarningBox &box,
                 qsizetype positionLimit);

} // namespace FuncLib::Detail
