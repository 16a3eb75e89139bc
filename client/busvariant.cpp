#include "busvariant.h"

#include <QDBusArgument>

namespace Orvex {

namespace {

QDBusVariant tagged(const char *tag, const QVariant &value) {
    QDBusArgument structure;
    structure.beginStructure();
    structure << QString::fromLatin1(tag) << QDBusVariant(value);
    structure.endStructure();
    return QDBusVariant(QVariant::fromValue(structure));
}

// The server reads "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd", or "HH:mm:ss" for a time on the zero date.
QString dateText(const QDate &date, const QTime &time) {
    const QString timeText = time.toString(QStringLiteral("HH:mm:ss"));
    if (!date.isValid())
        return time.isValid() ? timeText : QStringLiteral("00:00:00");
    const QString dayText = date.toString(QStringLiteral("yyyy-MM-dd"));
    return time.isValid() ? dayText + u'T' + timeText : dayText;
}

} // namespace

QDBusVariant toBusVariant(const Variant &value) {
    using Kind = Variant::Kind;
    switch (value.kind()) {
    case Kind::Empty:
        return tagged("empty", QString());
    case Kind::Null:
        return tagged("null", QString());
    case Kind::Text:
        return QDBusVariant(value.get<QString>());
    case Kind::Boolean:
        return QDBusVariant(value.get<bool>());
    case Kind::Byte:
        return QDBusVariant(QVariant::fromValue(value.get<quint8>()));
    case Kind::Int16:
        return QDBusVariant(QVariant::fromValue(value.get<qint16>()));
    case Kind::Int32:
        return QDBusVariant(QVariant::fromValue(value.get<qint32>()));
    case Kind::Int64:
        return QDBusVariant(QVariant::fromValue(value.get<qint64>()));
    case Kind::Single:
        return tagged("single", static_cast<double>(value.get<float>()));
    case Kind::Double:
        return QDBusVariant(value.get<double>());
    case Kind::Currency:
        return tagged("currency", QVariant::fromValue(value.get<Variant::CurrencyValue>().tenThousandths));
    case Kind::Date: {
        const auto &[date, time] = value.get<std::pair<QDate, QTime>>();
        return tagged("date", dateText(date, time));
    }
    case Kind::Error:
        return tagged("error", QVariant::fromValue(value.get<Variant::ErrorValue>().number));
    }
    Q_UNREACHABLE();
}

} // namespace Orvex
