#include "boardreply.h"

#include "gettokens.h"

namespace Orvex {

bool isSuccessReply(const QString &reply) {
    return reply.left(9).toLower() == QLatin1StringView("success=1");
}

QString jobIdOf(const QString &reply, WarningBox &box) {
    QStringList tokens;
    const qint32 count =
        FuncLib::GetTokens(reply, QStringLiteral("&"), tokens, QStringLiteral("\""), false, QString(), box);
    for (qint32 i = 0; i < count && i < tokens.size(); ++i) {
        if (tokens.at(i).left(6).toLower() == QLatin1StringView("jobid="))
            return tokens.at(i).mid(6);
    }
    return QString();
}

QString resultCode(const QString &actionType, const QString &reply, WarningBox &box) {
    if (!isSuccessReply(reply))
        return QStringLiteral("F");
    return u'S' + (actionType == QLatin1StringView("Add") ? jobIdOf(reply, box) : QString());
}

} // namespace Orvex
