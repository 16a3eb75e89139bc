// Activity log records of any automation value: the record is the four fields as rendered alone, and
// every value's text reads back as the value.
// Input: structured (FuzzedDataProvider): entry time, SubName, Message, then the value's kind and bits.

#include "fuzzsupport.h"

#include "logrecord.h"

#include <QRegularExpression>

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <type_traits>

namespace {

using Orvex::Variant;
using Orvex::Fuzz::require;

// A date of any day QDate can hold, or none.
QDate anyDate(FuzzedDataProvider &input) {
    if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
        return QDate();
    const bool ordinary = input.ConsumeBool();
    const qint64 julianDay = ordinary ? input.ConsumeIntegralInRange<qint64>(1721426, 5373484) // 1..9999
                                      : input.ConsumeIntegral<qint64>();
    return QDate::fromJulianDay(julianDay);
}

QTime anyTime(FuzzedDataProvider &input) {
    if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
        return QTime();
    return QTime::fromMSecsSinceStartOfDay(input.ConsumeIntegralInRange<int>(0, 86399999));
}

Variant anyVariant(FuzzedDataProvider &input) {
    switch (input.ConsumeIntegralInRange<int>(0, 12)) {
    case 0:
        return Variant();
    case 1:
        return Variant::null();
    case 2:
        return Variant(QString::fromUtf8(input.ConsumeRandomLengthString(64)));
    case 3:
        return Variant::fromBool(input.ConsumeBool());
    case 4:
        return Variant::fromByte(input.ConsumeIntegral<quint8>());
    case 5:
        return Variant::fromInt16(input.ConsumeIntegral<qint16>());
    case 6:
        return Variant::fromInt32(input.ConsumeIntegral<qint32>());
    case 7:
        return Variant::fromInt64(input.ConsumeIntegral<qint64>());
    case 8:
        return Variant::fromSingle(std::bit_cast<float>(input.ConsumeIntegral<quint32>()));
    case 9:
        return Variant::fromDouble(std::bit_cast<double>(input.ConsumeIntegral<quint64>()));
    case 10:
        return Variant::fromCurrency(input.ConsumeIntegral<qint64>());
    case 11: {
        const QDate date = anyDate(input);
        return Variant::fromDate(date, anyTime(input));
    }
    default:
        return Variant::fromError(input.ConsumeIntegral<qint32>());
    }
}

// The runtime writes 15 significant digits of a Double and 7 of a Single: the text reads back as the value
// rounded to that many. Read in long double, because rounding the largest values up leaves their type's
// range (DBL_MAX is written 1.79769313486232E+308).
template<typename Real> long double roundedTo(Real value, int significantDigits) {
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific,
                                       significantDigits - 1);
    long double rounded{};
    std::from_chars(buffer, written.ptr, rounded);
    return rounded;
}

template<typename Real> void checkReal(const QString &text, Real value) {
    if (!std::isfinite(value))
        return;
    static const QRegularExpression number(QStringLiteral("\\A-?\\d+(\\.\\d+)?(E[+-]\\d\\d+)?\\z"));
    require(number.match(text).hasMatch(), "a number is digits with a period", text);
    const QByteArray bytes = text.toLatin1();
    long double parsed{};
    const auto result = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), parsed);
    const long double rounded = roundedTo(value, std::is_same_v<Real, float> ? 7 : 15);
    require(result.ec == std::errc() && result.ptr == bytes.constData() + bytes.size() && parsed == rounded,
            "a number reads back as its rounded value", text);
}

void checkCurrency(const QString &text, qint64 tenThousandths) {
    static const QRegularExpression amount(QStringLiteral("\\A(-?)(\\d+)(?:\\.(\\d{1,4}))?\\z"));
    const QRegularExpressionMatch match = amount.match(text);
    require(match.hasMatch() && !match.captured(3).endsWith(u'0'), "an amount has up to four decimals", text);
    bool ok = false;
    const quint64 whole = match.captured(2).toULongLong(&ok);
    const quint64 fraction = match.captured(3).leftJustified(4, u'0').toULongLong();
    const quint64 magnitude = tenThousandths < 0 ? 0 - quint64(tenThousandths) : quint64(tenThousandths);
    require(ok && whole * 10000 + fraction == magnitude &&
                match.captured(1).isEmpty() == (tenThousandths >= 0),
            "an amount reads back as itself", text);
}

void checkDate(const QString &text, const QDate &date, const QTime &time) {
    static const QRegularExpression form(
        QStringLiteral("\\A#(?:(-?\\d{4,}-\\d\\d-\\d\\d)|(\\d\\d:\\d\\d:\\d\\d)|(-?\\d{4,}-\\d\\d-\\d\\d) "
                       "(\\d\\d:\\d\\d:\\d\\d))#\\z"));
    const QRegularExpressionMatch match = form.match(text);
    require(match.hasMatch(), "a date is #yyyy-mm-dd hh:mm:ss#, either part alone", text);
    if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        return;
    const QString day = match.captured(1) + match.captured(3);
    const QString clock = match.captured(2) + match.captured(4);
    if (!day.isEmpty())
        require(QDate::fromString(day, QStringLiteral("yyyy-MM-dd")) == date, "the day reads back", text);
    const QTime wholeSeconds =
        time.isValid() ? QTime(time.hour(), time.minute(), time.second()) : QTime(0, 0);
    if (!clock.isEmpty())
        require(QTime::fromString(clock, QStringLiteral("HH:mm:ss")) == wholeSeconds, "the time reads back",
                text);
    else
        require(wholeSeconds == QTime(0, 0), "a date alone is midnight", text);
}

void checkValueText(const Variant &value, const QString &text) {
    using Kind = Variant::Kind;
    switch (value.kind()) {
    case Kind::Empty:
        require(text.isEmpty(), "the empty value writes nothing");
        break;
    case Kind::Text:
        require(text == u'"' + value.get<QString>() + u'"', "text goes between quotes unchanged");
        break;
    case Kind::Byte:
    case Kind::Int16:
    case Kind::Int32:
    case Kind::Int64: {
        bool ok = false;
        const qint64 parsed = text.toLongLong(&ok);
        const qint64 held = value.kind() == Kind::Byte    ? value.get<quint8>()
                            : value.kind() == Kind::Int16 ? value.get<qint16>()
                            : value.kind() == Kind::Int32 ? value.get<qint32>()
                                                          : value.get<qint64>();
        require(ok && parsed == held && !text.startsWith(u'+'), "an integer reads back as itself", text);
        break;
    }
    case Kind::Single:
        checkReal(text, value.get<float>());
        break;
    case Kind::Double:
        checkReal(text, value.get<double>());
        break;
    case Kind::Currency:
        checkCurrency(text, value.get<Variant::CurrencyValue>().tenThousandths);
        break;
    case Kind::Date: {
        const auto &[date, time] = value.get<std::pair<QDate, QTime>>();
        checkDate(text, date, time);
        break;
    }
    case Kind::Error:
        require(text == QStringLiteral("#ERROR %1#").arg(value.get<Variant::ErrorValue>().number),
                "an error value is #ERROR n#", text);
        break;
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Orvex::Fuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    // The clock gives days of the years 1 to 9999.
    const QDate day = QDate::fromJulianDay(input.ConsumeIntegralInRange<qint64>(1721426, 5373484));
    const QTime time = anyTime(input);
    const QDateTime when(day, time.isValid() ? time : QTime(0, 0));
    const QString subName = QString::fromUtf8(input.ConsumeRandomLengthString(32));
    const QString message = QString::fromUtf8(input.ConsumeRandomLengthString(64));
    const Variant anyOther = anyVariant(input);

    const QString valueText = Orvex::anyOtherText(anyOther);
    checkValueText(anyOther, valueText);

    const QString record = Orvex::logRecord(when, subName, message, anyOther);
    const QString fields = Orvex::quotedField(Orvex::entryTimeText(when)) + u',' +
                           Orvex::quotedField(subName) + u',' + Orvex::quotedField(message) + u',' +
                           valueText + QStringLiteral("\r\n");
    require(record == fields, "a record is its four fields rendered alone", record);

    static const QRegularExpression entryTime(
        QStringLiteral("\\A\\d{1,2}/\\d{1,2}/-?\\d{4,}( \\d{1,2}:\\d\\d:\\d\\d [AP]M)?\\z"));
    require(entryTime.match(Orvex::entryTimeText(when)).hasMatch(), "the entry time's form",
            Orvex::entryTimeText(when));
    return 0;
}
