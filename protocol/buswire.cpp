#include "buswire.h"

#include "errortable.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusSignature>

#include <cfloat>
#include <cmath>
#include <limits>

namespace Orvex::BusWire {

namespace {

[[noreturn]] void throwBadVariableType() {
    throw AutomationError::runtime(ErrorNumber::BadVariableType);
}

QDBusVariant tagged(const QString &tag, const QVariant &value) {
    QDBusArgument structure;
    structure.beginStructure();
    structure << tag << QDBusVariant(value);
    structure.endStructure();
    return QDBusVariant(QVariant::fromValue(structure));
}

QVariant unwrapped(QVariant value) {
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

Variant dateFromText(const QString &text) {
    const QDateTime dateTime = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (dateTime.isValid())
        return Variant::fromDate(dateTime.date(), dateTime.time());
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid())
        return Variant::fromDate(date, QTime(0, 0));
    const QTime time = QTime::fromString(text, QStringLiteral("HH:mm:ss"));
    if (time.isValid())
        return Variant::fromDate(QDate(), time);
    throwBadVariableType();
}

// A number of any integer type, or a double that holds a whole number; Overflow beyond 64 bits.
qint64 wholeNumber(const QVariant &value) {
    switch (value.metaType().id()) {
    case QMetaType::UChar:
        return value.value<uchar>();
    case QMetaType::Short:
        return value.value<short>();
    case QMetaType::UShort:
        return value.value<ushort>();
    case QMetaType::Int:
        return value.toInt();
    case QMetaType::UInt:
        return value.toUInt();
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::ULongLong:
        if (value.toULongLong() > qulonglong(std::numeric_limits<qint64>::max()))
            throw AutomationError::runtime(ErrorNumber::Overflow);
        return qint64(value.toULongLong());
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (std::isnan(number) || std::trunc(number) != number)
            throwBadVariableType();
        // 2^63 itself is the first double beyond the range.
        if (std::fabs(number) >= 0x1p63 && number != -0x1p63)
            throw AutomationError::runtime(ErrorNumber::Overflow);
        return qint64(number);
    }
    default:
        throwBadVariableType();
    }
}

bool isWholeNumberType(const QVariant &value) {
    switch (value.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

Variant singleFrom(const QVariant &value) {
    if (isWholeNumberType(value))
        return Variant::fromSingle(float(wholeNumber(value)));
    if (value.metaType() != QMetaType::fromType<double>())
        throwBadVariableType();
    const double number = value.toDouble();
    if (std::isfinite(number) && std::fabs(number) > FLT_MAX)
        throw AutomationError::runtime(ErrorNumber::Overflow);
    return Variant::fromSingle(float(number));
}

Variant errorFrom(const QVariant &value) {
    const qint64 number = wholeNumber(value);
    if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max())
        throw AutomationError::runtime(ErrorNumber::Overflow);
    return Variant::fromError(qint32(number));
}

// A tag, then its value: in a variant, (sv), or directly, as bindings send a pair of a text and a value
// without being told otherwise: (ss), (sx), (sd) and the other basic types.
Variant fromTagged(const QDBusArgument &argument) {
    const QString signature = argument.currentSignature();
    if (signature.size() != 4 || !signature.startsWith(u"(s") || !signature.endsWith(u')') ||
        !QStringView(u"ybnqiuxtdsogv").contains(signature[2]))
        throwBadVariableType();
    QString tag;
    argument.beginStructure();
    argument >> tag;
    const QVariant value = unwrapped(argument.asVariant());
    argument.endStructure();

    if (tag == u"empty")
        return Variant();
    if (tag == u"null")
        return Variant::null();
    if (tag == u"date" && value.metaType() == QMetaType::fromType<QString>())
        return dateFromText(value.toString());
    if (tag == u"error")
        return errorFrom(value);
    if (tag == u"currency")
        return Variant::fromCurrency(wholeNumber(value));
    if (tag == u"single")
        return singleFrom(value);
    throwBadVariableType();
}

// The forms fromBus() reads: "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd", or "HH:mm:ss" for a time on the zero date.
QString dateText(const QDate &date, const QTime &time) {
    const QString timeText = time.toString(QStringLiteral("HH:mm:ss"));
    if (!date.isValid())
        return time.isValid() ? timeText : QStringLiteral("00:00:00");
    const QString dayText = date.toString(QStringLiteral("yyyy-MM-dd"));
    return time.isValid() ? dayText + u'T' + timeText : dayText;
}

} // namespace

QString errorName(const AutomationError &error) {
    return Orvex::errorName(error.number());
}

QString errorMessage(const AutomationError &error) {
    // One pass of arg(): texts that hold "%1" of their own stay as they are.
    return QStringLiteral("%1 (%2) [source: %3]")
        .arg(error.description(), QString::number(error.number()), error.source());
}

bool parseErrorMessage(const QString &text, qint32 *number, QString *source, QString *description) {
    // The marker errorMessage() wrote is the last one that follows a well-formed " (<number>)": a
    // description may hold the marker before it, and a source after it.
    const QLatin1StringView sourceMark(" [source: ");
    if (!text.endsWith(u']'))
        return false;
    for (qsizetype sourceAt = text.lastIndexOf(sourceMark); sourceAt >= 0;
         sourceAt = sourceAt > 0 ? text.lastIndexOf(sourceMark, sourceAt - 1) : -1) {
        const QStringView head = QStringView(text).left(sourceAt);
        const qsizetype numberAt = head.lastIndexOf(QLatin1StringView(" ("));
        if (numberAt < 0 || !head.endsWith(u')'))
            continue;
        bool ok = false;
        const qint32 parsed = head.mid(numberAt + 2, head.size() - numberAt - 3).toInt(&ok);
        if (!ok)
            continue;
        *number = parsed;
        *source = text.mid(sourceAt + sourceMark.size(), text.size() - sourceAt - sourceMark.size() - 1);
        *description = head.left(numberAt).toString();
        return true;
    }
    return false;
}

Variant fromBus(const QVariant &busValue) {
    const QVariant value = unwrapped(busValue);
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return Variant(value.toString());
    case QMetaType::Bool:
        return Variant::fromBool(value.toBool());
    case QMetaType::UChar:
        return Variant::fromByte(value.value<uchar>());
    case QMetaType::Short:
        return Variant::fromInt16(value.value<short>());
    case QMetaType::UShort:
        return Variant::fromInt32(value.value<ushort>());
    case QMetaType::Int:
        return Variant::fromInt32(value.toInt());
    case QMetaType::UInt:
        return Variant::fromInt64(value.toUInt());
    case QMetaType::LongLong:
        return Variant::fromInt64(value.toLongLong());
    case QMetaType::ULongLong: {
        const qulonglong number = value.toULongLong();
        if (number > qulonglong(std::numeric_limits<qint64>::max()))
            throw AutomationError::runtime(ErrorNumber::Overflow);
        return Variant::fromInt64(qint64(number));
    }
    case QMetaType::Double:
        return Variant::fromDouble(value.toDouble());
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return Variant(qvariant_cast<QDBusObjectPath>(value).path());
    if (value.metaType() == QMetaType::fromType<QDBusSignature>())
        return Variant(qvariant_cast<QDBusSignature>(value).signature());
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return fromTagged(qvariant_cast<QDBusArgument>(value));
    throwBadVariableType();
}

QDBusVariant toBus(const Variant &value) {
    using Kind = Variant::Kind;
    switch (value.kind()) {
    case Kind::Empty:
        return tagged(QStringLiteral("empty"), QString());
    case Kind::Null:
        return tagged(QStringLiteral("null"), QString());
    case Kind::Text:
        return QDBusVariant(value.get<QString>());
    case Kind::Boolean:
        return QDBusVariant(value.get<bool>());
    case Kind::Byte:
        return QDBusVariant(QVariant::fromValue(value.get<quint8>()));
    case Kind::Int16:
        return QDBusVariant(QVariant::fromValue(value.get<qint16>()));
    case Kind::Int32:
        return QDBusVariant(value.get<qint32>());
    case Kind::Int64:
        return QDBusVariant(QVariant::fromValue(value.get<qint64>()));
    case Kind::Single:
        return tagged(QStringLiteral("single"), double(value.get<float>()));
    case Kind::Double:
        return QDBusVariant(value.get<double>());
    case Kind::Currency:
        return tagged(QStringLiteral("currency"),
                      QVariant::fromValue(value.get<Variant::CurrencyValue>().tenThousandths));
    case Kind::Date: {
        const auto &[date, time] = value.get<std::pair<QDate, QTime>>();
        return tagged(QStringLiteral("date"), dateText(date, time));
    }
    case Kind::Error:
        return tagged(QStringLiteral("error"), value.get<Variant::ErrorValue>().number);
    }
    return tagged(QStringLiteral("empty"), QString());
}

} // namespace Orvex::BusWire
