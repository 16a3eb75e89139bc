#include "remoteerror.h"

#include "identity.h"

namespace Orvex {

namespace {

using namespace HResult;

const QLatin1StringView SourceMarker(" [source: ");

// The server writes "<description> (<number>) [source: <source>]".
bool decodeServerMessage(const QString &message, qint32 *number, QString *source, QString *description) {
    const qsizetype sourceAt = message.lastIndexOf(SourceMarker);
    if (sourceAt < 0 || !message.endsWith(u']'))
        return false;
    const qsizetype sourceBegin = sourceAt + SourceMarker.size();
    const QString head = message.left(sourceAt);
    const qsizetype numberAt = head.lastIndexOf(QLatin1StringView(" ("));
    if (numberAt < 0 || !head.endsWith(u')'))
        return false;
    bool ok = false;
    const qint32 value = head.mid(numberAt + 2, head.size() - numberAt - 3).toInt(&ok);
    if (!ok)
        return false;
    *number = value;
    *source = message.mid(sourceBegin, message.size() - sourceBegin - 1);
    *description = head.left(numberAt);
    return true;
}

qint32 numberForBusError(const QString &name, CallStage stage) {
    if (name == QLatin1StringView("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1StringView("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return stage == CallStage::Creation ? ClassNotRegistered : ServerUnavailable;
    }
    if (name.startsWith(QLatin1StringView("org.freedesktop.DBus.Error.Spawn.")))
        return ServerExecFailure;
    if (name == QLatin1StringView("org.freedesktop.DBus.Error.Disconnected"))
        return ServerUnavailable;
    if (name == QLatin1StringView("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1StringView("org.freedesktop.DBus.Error.Timeout")) {
        return CallFailed;
    }
    return UnspecifiedFailure;
}

} // namespace

AutomationError fromBusError(const QDBusError &error, CallStage stage) {
    const QString name = error.name();
    if (name.startsWith(QLatin1StringView(Identity::ErrorPrefix))) {
        qint32 number = 0;
        QString source;
        QString description;
        if (decodeServerMessage(error.message(), &number, &source, &description))
            return AutomationError(number, source, description);
    }
    return AutomationError(numberForBusError(name, stage), name, error.message());
}

bool isServerGone(const QDBusError &error) {
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoReply:
    case QDBusError::Disconnected:
        return true;
    default:
        return error.name() == QLatin1StringView("org.freedesktop.DBus.Error.NameHasNoOwner");
    }
}

QString describeError(const AutomationError &error) {
    // Small numbers are the runtime's own; large negative ones are HRESULTs, read in hexadecimal.
    const QString number =
        error.number() < -0xFFFF
            ? QStringLiteral("0x%1").arg(static_cast<quint32>(error.number()), 8, 16, QLatin1Char('0'))
            : QString::number(error.number());
    if (error.source().isEmpty())
        return QStringLiteral("%1 (%2)").arg(error.description(), number);
    return QStringLiteral("%1 (%2) [%3]").arg(error.description(), number, error.source());
}

} // namespace Orvex
