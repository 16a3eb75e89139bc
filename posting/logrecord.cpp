#include "logrecord.h"

#include "decimaltext.h"

namespace Orvex {

namespace {

// Decimal digits, at least minDigits wide; appended in place, as records are written often.
void appendNumber(QString &out, int value, int minDigits = 1) {
    char16_t digits[12];
    int count = 0;
    unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        digits[count++] = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        out.append(u'-');
    for (int i = count; i < minDigits; ++i)
        out.append(u'0');
    while (count > 0)
        out.append(QChar(digits[--count]));
}

void appendIsoDate(QString &out, const QDate &date) {
    appendNumber(out, date.year(), 4);
    out.append(u'-');
    appendNumber(out, date.month(), 2);
    out.append(u'-');
    appendNumber(out, date.day(), 2);
}

void appendIsoTime(QString &out, const QTime &time) {
    appendNumber(out, time.hour(), 2);
    out.append(u':');
    appendNumber(out, time.minute(), 2);
    out.append(u':');
    appendNumber(out, time.second(), 2);
}

// The runtime's zero date: a date value on it is a time of day alone.
const QDate ZeroDate(1899, 12, 30);

bool isMidnight(const QTime &time) {
    return !time.isValid() || (time.hour() == 0 && time.minute() == 0 && time.second() == 0);
}

QString dateText(const QDate &date, const QTime &time) {
    // A null date stands for the zero date, so a time alone stays a time alone. The zero date at
    // midnight is written as that date: it is a date value, and the date form is the less surprising.
    const QDate day = date.isValid() ? date : ZeroDate;
    QString text(u'#');
    if (isMidnight(time)) {
        appendIsoDate(text, day);
    } else if (day == ZeroDate) {
        appendIsoTime(text, time);
    } else {
        appendIsoDate(text, day);
        text.append(u' ');
        appendIsoTime(text, time);
    }
    text.append(u'#');
    return text;
}

// The US English short date: "1/19/2010".
void appendShortDate(QString &out, const QDate &date) {
    appendNumber(out, date.month());
    out.append(u'/');
    appendNumber(out, date.day());
    out.append(u'/');
    appendNumber(out, date.year(), 4);
}

// The US English long time: "3:07:45 PM".
void appendLongTime(QString &out, const QTime &time) {
    appendNumber(out, time.hour() % 12 == 0 ? 12 : time.hour() % 12);
    out.append(u':');
    appendNumber(out, time.minute(), 2);
    out.append(u':');
    appendNumber(out, time.second(), 2);
    out.append(time.hour() < 12 ? QLatin1StringView(" AM") : QLatin1StringView(" PM"));
}

// The general date form: the short date, and the long time unless it is midnight.
void appendGeneralDate(QString &out, const QDate &date, const QTime &time) {
    appendShortDate(out, date);
    if (isMidnight(time))
        return;
    out.append(u' ');
    appendLongTime(out, time);
}

void appendEntryTime(QString &out, const QDateTime &when) {
    appendGeneralDate(out, when.date(), when.time());
}

// A date value as the runtime's coercion writes it: a time on the zero date alone, even midnight
// ("12:00:00 AM"), otherwise the general date form.
QString coercedDateText(const QDate &date, const QTime &time) {
    QString text;
    if (!date.isValid() || date == ZeroDate)
        appendLongTime(text, time.isValid() ? time : QTime(0, 0));
    else
        appendGeneralDate(text, date, time);
    return text;
}

// Numbers of every kind, as the log and the coercion to text both write them; nothing for other kinds.
std::optional<QString> numberText(const Variant &value) {
    using Kind = Variant::Kind;
    switch (value.kind()) {
    case Kind::Byte:
        return QString::number(value.get<quint8>());
    case Kind::Int16:
        return QString::number(value.get<qint16>());
    case Kind::Int32:
        return QString::number(value.get<qint32>());
    case Kind::Int64:
        return QString::number(value.get<qint64>());
    case Kind::Single:
        return singleDecimal(value.get<float>());
    case Kind::Double:
        return doubleDecimal(value.get<double>());
    case Kind::Currency:
        return currencyDecimal(value.get<Variant::CurrencyValue>().tenThousandths);
    default:
        return std::nullopt;
    }
}

} // namespace

QString entryTimeText(const QDateTime &when) {
    QString text;
    appendEntryTime(text, when);
    return text;
}

QString quotedField(const QString &text) {
    return u'"' + text + u'"';
}

QString anyOtherText(const Variant &value) {
    if (const std::optional<QString> number = numberText(value))
        return *number;
    using Kind = Variant::Kind;
    switch (value.kind()) {
    case Kind::Null:
        return QStringLiteral("#NULL#");
    case Kind::Text:
        return quotedField(value.get<QString>());
    case Kind::Boolean:
        return value.get<bool>() ? QStringLiteral("#TRUE#") : QStringLiteral("#FALSE#");
    case Kind::Date: {
        const auto &[date, time] = value.get<std::pair<QDate, QTime>>();
        return dateText(date, time);
    }
    case Kind::Error:
        return QStringLiteral("#ERROR %1#").arg(value.get<Variant::ErrorValue>().number);
    default: // the empty value, and numbers above
        return QString();
    }
}

std::optional<QString> coercedText(const Variant &value) {
    if (const std::optional<QString> number = numberText(value))
        return *number;
    using Kind = Variant::Kind;
    switch (value.kind()) {
    case Kind::Empty:
        return QString();
    case Kind::Text:
        return value.get<QString>();
    case Kind::Boolean:
        return value.get<bool>() ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Date: {
        const auto &[date, time] = value.get<std::pair<QDate, QTime>>();
        return coercedDateText(date, time);
    }
    default: // null and error values have no text
        return std::nullopt;
    }
}

QString logRecord(const QDateTime &when, const QString &subName, const QString &message,
                  const Variant &anyOther) {
    const bool textValue = anyOther.kind() == Variant::Kind::Text;
    const QString otherText = textValue ? QString() : anyOtherText(anyOther);
    const QString &other = textValue ? anyOther.get<QString>() : otherText;

    QString record;
    record.reserve(40 + subName.size() + message.size() + other.size());
    record.append(u'"');
    appendEntryTime(record, when);
    record.append(QLatin1StringView("\",\"")).append(subName);
    record.append(QLatin1StringView("\",\"")).append(message);
    record.append(QLatin1StringView("\","));
    if (textValue)
        record.append(u'"').append(other).append(u'"');
    else
        record.append(other);
    record.append(QLatin1StringView("\r\n"));
    return record;
}

} // namespace Orvex
