#pragma once

#include <QCommandLineOption>
#include <QString>

namespace Orvex {

inline QCommandLineOption helpOptionOf(const QString &command) {
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Displays help on the %1 command.").arg(command));
}

inline QString unexpectedArgument(const QString &argument) {
    return QStringLiteral("unexpected argument \"%1\"").arg(argument);
}

} // namespace Orvex
