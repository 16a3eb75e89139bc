#include "logrecord.h"

#include "decimaltext.h"

namespace Orvex {

namespace {

QString twoDigits(int value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString isoDate(const QDate &date) {
    return QStringLiteral("%1-%2-%3")
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(twoDigits(date.month()), twoDigits(date.day()));
}

QString isoTime(const QTime &time) {
    return QStringLiteral("%1:%2:%3")
        .arg(twoDigits(time.hour()), twoDigits(time.minute()), twoDigits(time.second()));
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
    if (isMidnight(time))
        return u'#' + isoDate(day) + u'#';
    if (day == ZeroDate)
        return u'#' + isoTime(time) + u'#';
    return u'#' + isoDate(day) + u' ' + isoTime(time) + u'#';
}

} // namespace

QString entryTimeText(const QDateTime &when) {
    const QDate date = when.date();
    const QTime time = when.time();
    const QString day = QStringLiteral("%1/%2/%3")
                            .arg(date.month())
                            .arg(date.day())
                            .arg(date.year(), 4, 10, QLatin1Char('0'));
    if (isMidnight(time))
        return day;
    const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return day + QStringLiteral(" %1:%2:%3 %4")
                     .arg(hour12)
                     .arg(twoDigits(time.minute()), twoDigits(time.second()),
                          time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString quotedField(const QString &text) {
    return u'"' + text + u'"';
}

QString anyOtherText(const Variant &value) {
    using Kind = Variant::Kind;
    switch (value.kind()) {
    case Kind::Empty:
        return QString();
    case Kind::Null:
        return QStringLiteral("#NULL#");
    case Kind::Text:
        return quotedField(value.get<QString>());
    case Kind::Boolean:
        return value.get<bool>() ? QStringLiteral("#TRUE#") : QStringLiteral("#FALSE#");
    case Kind::Byte:
        return QString::number(value.get<quint8>());
    case Kind::Int16:
        return QString::number(value.get<qint16>());
    case Kind::Int32:
        return QString::number(value.get<qint32>());
    case Kind::Int64:
        return QString::number(value.get<qint64>());
    case Kind::Single:
        return shortestDecimal(value.get<float>());
    case Kind::Double:
        return shortestDecimal(value.get<double>());
    case Kind::Currency:
        return currencyDecimal(value.get<Variant::CurrencyValue>().tenThousandths);
    case Kind::Date: {
        const auto &[date, time] = value.get<std::pair<QDate, QTime>>();
        return dateText(date, time);
    }
    case Kind::Error:
        return QStringLiteral("#ERROR %1#").arg(value.get<Variant::ErrorValue>().number);
    }
    return QString();
}

QString logRecord(const QDateTime &when, const QString &subName, const QString &message,
                  const Variant &anyOther) {
    return quotedField(entryTimeText(when)) + u',' + quotedField(subName) + u',' + quotedField(message) +
           u',' + anyOtherText(anyOther) + QStringLiteral("\r\n");
}

} // namespace Orvex
