#include "reply.h"

#include "gettokens.h"

#include <QStringList>

namespace Orvex {

bool isSuccessReply(const QString &reply) {
    return reply.left(9).toLower() == QLatin1StringView("success=1");
}

QString jobIdOf(const QString &reply) {
    QStringList tokens;
    const qint32 count =
        FuncLib::GetTokens(reply, QStringLiteral("&"), tokens, QStringLiteral("\""), false, QString());
    for (qint32 i = 0; i < count && i < tokens.size(); ++i) {
        if (tokens.at(i).left(6).toLower() == QLatin1StringView("jobid="))
            return tokens.at(i).mid(6);
    }
    return QString();
}

} // namespace Orvex
