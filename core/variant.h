#pragma once

#include <QDateTime>
#include <QString>

#include <variant>

namespace Orvex {

// An automation value of any type, as a client hands it to WriteLog.
class Variant {
public:
    enum class Kind {
        Empty,
        Null,
        Text,
        Boolean,
        Byte,
        Int16,
        Int32,
        Int64,
        Single,
        Double,
        Currency,
        Date,
        Error
    };

    struct EmptyValue {
        bool operator==(const EmptyValue &) const = default;
    };
    struct NullValue {
        bool operator==(const NullValue &) const = default;
    };
    // Currency is a count of ten-thousandths, as the runtime holds it.
    struct CurrencyValue {
        qint64 tenThousandths = 0;
        bool operator==(const CurrencyValue &) const = default;
    };
    struct ErrorValue {
        qint32 number = 0;
        bool operator==(const ErrorValue &) const = default;
    };

    Variant() = default;
    Variant(const QString &text)
        : m_value(text) {}
    Variant(const char16_t *text)
        : m_value(QString::fromUtf16(text)) {}

    static Variant null() { return fromValue(NullValue{}); }
    static Variant fromBool(bool value) { return fromValue(value); }
    static Variant fromByte(quint8 value) { return fromValue(value); }
    static Variant fromInt16(qint16 value) { return fromValue(value); }
    static Variant fromInt32(qint32 value) { return fromValue(value); }
    static Variant fromInt64(qint64 value) { return fromValue(value); }
    static Variant fromSingle(float value) { return fromValue(value); }
    static Variant fromDouble(double value) { return fromValue(value); }
    static Variant fromCurrency(qint64 tenThousandths) { return fromValue(CurrencyValue{tenThousandths}); }
    // A local date and time; a null date with a valid time is a time on the zero date.
    static Variant fromDate(const QDate &date, const QTime &time) { return fromValue(std::pair(date, time)); }
    static Variant fromError(qint32 number) { return fromValue(ErrorValue{number}); }

    Kind kind() const { return static_cast<Kind>(m_value.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }

    // The held value; the alternative must match kind().
    template<typename T> const T &get() const { return std::get<T>(m_value); }

    bool operator==(const Variant &) const = default;

private:
    // Alternatives in the order of Kind.
    using Storage = std::variant<EmptyValue, NullValue, QString, bool, quint8, qint16, qint32, qint64, float,
                                 double, CurrencyValue, std::pair<QDate, QTime>, ErrorValue>;

    template<typename T> static Variant fromValue(T value) {
        Variant v;
        v.m_value = std::move(value);
        return v;
    }

    Storage m_value;
};

} // namespace Orvex
