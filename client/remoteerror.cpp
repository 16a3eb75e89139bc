#include "remoteerror.h"

#include "buswire.h"

#include <algorithm>
#include <iterator>

namespace Orvex {

namespace {

using namespace ErrorNumber;

// The posting errors after which the board may hold the listing.
constexpr qint32 BoardOutcomeOpen[] = {ClosedAfterSending};

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
    return Unspecified;
}

} // namespace

AutomationError fromBusError(const QDBusError &error, CallStage stage) {
    const QString name = error.name();
    if (name.startsWith(QLatin1StringView(ErrorNamePrefix))) {
        qint32 number = 0;
        QString source;
        QString description;
        if (BusWire::parseErrorMessage(error.message(), &number, &source, &description))
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

bool leavesBoardOutcomeUnknown(qint32 errorNumber) {
    return std::ranges::find(BoardOutcomeOpen, errorNumber) != std::end(BoardOutcomeOpen);
}

CallOutcome callOutcome(const QDBusError &error) {
    const QString name = error.name();
    if (name == errorName(Ended))
        return CallOutcome::NotDelivered;
    for (qint32 number : BoardOutcomeOpen) {
        if (name == errorName(number))
            return CallOutcome::Unknown;
    }
    if (name.startsWith(QLatin1StringView(ErrorNamePrefix)))
        return CallOutcome::Failed;
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
        return CallOutcome::NotDelivered;
    // The bus or the receiving library refused the message before any method ran.
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownProperty:
    case QDBusError::InvalidArgs:
    case QDBusError::InvalidSignature:
    case QDBusError::AccessDenied:
    case QDBusError::NotSupported:
    case QDBusError::LimitsExceeded:
    case QDBusError::NoMemory:
        return CallOutcome::Failed;
    default:
        break;
    }
    if (name == QLatin1StringView("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return CallOutcome::NotDelivered;
    // NoReply, Disconnected, a timeout, or anything not known to mean "never ran".
    return CallOutcome::Unknown;
}

AutomationError outcomeUnknown(const QDBusError &error) {
    const AutomationError raised = fromBusError(error, CallStage::ObjectCall);
    if (leavesBoardOutcomeUnknown(raised.number()))
        return AutomationError(OutcomeUnknown, raised.source(), raised.description());
    return AutomationError(
        OutcomeUnknown, error.name(),
        QStringLiteral("%1 (%2)").arg(AutomationError::runtimeDescription(OutcomeUnknown), error.message()));
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
