#include "logrecord.h"

#include <QLocale>
#include <QTest>

using namespace Qt::StringLiterals;
using Orvex::Variant;

Q_DECLARE_METATYPE(Orvex::Variant)

class TestLogRecord : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void entryTime_data();
    void entryTime();
    void anyOther_data();
    void anyOther();
    void coercedText_data();
    void coercedText();
    void record_data();
    void record();
    void ignoresProcessLocale();
};

void TestLogRecord::entryTime_data() {
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("text");

    const QDate day(2010, 1, 19);
    QTest::newRow("afternoon") << QDateTime(day, QTime(15, 7, 45)) << u"1/19/2010 3:07:45 PM"_s;
    QTest::newRow("midnight gives the date alone") << QDateTime(day, QTime(0, 0, 0)) << u"1/19/2010"_s;
    QTest::newRow("midnight with milliseconds is still midnight")
        << QDateTime(day, QTime(0, 0, 0, 500)) << u"1/19/2010"_s;
    QTest::newRow("one second past midnight") << QDateTime(day, QTime(0, 0, 1)) << u"1/19/2010 12:00:01 AM"_s;
    QTest::newRow("noon") << QDateTime(day, QTime(12, 0, 0)) << u"1/19/2010 12:00:00 PM"_s;
    QTest::newRow("last second of the morning")
        << QDateTime(day, QTime(11, 59, 59)) << u"1/19/2010 11:59:59 AM"_s;
    QTest::newRow("last second of the day")
        << QDateTime(day, QTime(23, 59, 59)) << u"1/19/2010 11:59:59 PM"_s;
    QTest::newRow("no leading zeros on month, day and hour")
        << QDateTime(QDate(2009, 12, 5), QTime(9, 5, 3)) << u"12/5/2009 9:05:03 AM"_s;
    QTest::newRow("fraction of a second dropped")
        << QDateTime(day, QTime(15, 7, 45, 999)) << u"1/19/2010 3:07:45 PM"_s;
}

void TestLogRecord::entryTime() {
    QFETCH(QDateTime, when);
    QFETCH(QString, text);
    QCOMPARE(Orvex::entryTimeText(when), text);
}

void TestLogRecord::anyOther_data() {
    QTest::addColumn<Variant>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("text quoted") << Variant(u"x"_s) << u"\"x\""_s;
    QTest::newRow("empty text is two quotes") << Variant(QString()) << u"\"\""_s;
    QTest::newRow("line break inside the quotes") << Variant(u"\r\n"_s) << u"\"\r\n\""_s;
    QTest::newRow("empty value gives nothing") << Variant() << QString();
    QTest::newRow("null") << Variant::null() << u"#NULL#"_s;
    QTest::newRow("true") << Variant::fromBool(true) << u"#TRUE#"_s;
    QTest::newRow("false") << Variant::fromBool(false) << u"#FALSE#"_s;
    QTest::newRow("byte") << Variant::fromByte(255) << u"255"_s;
    QTest::newRow("integer") << Variant::fromInt16(-32768) << u"-32768"_s;
    QTest::newRow("long") << Variant::fromInt32(5) << u"5"_s;
    QTest::newRow("64-bit integer exactly")
        << Variant::fromInt64(9007199254740993LL) << u"9007199254740993"_s;
    QTest::newRow("single shortest") << Variant::fromSingle(1.1f) << u"1.1"_s;
    QTest::newRow("double with a period") << Variant::fromDouble(-2.5) << u"-2.5"_s;
    QTest::newRow("huge double in exponent form") << Variant::fromDouble(1e20) << u"1E+20"_s;
    QTest::newRow("double at fifteen digits") << Variant::fromDouble(0.1 + 0.2) << u"0.3"_s;
    QTest::newRow("small double in exponent form") << Variant::fromDouble(0.00001) << u"1E-05"_s;
    QTest::newRow("eight-digit double positional") << Variant::fromDouble(16777216) << u"16777216"_s;
    QTest::newRow("eight-digit single in exponent form")
        << Variant::fromSingle(16777216.0f) << u"1.677722E+07"_s;
    QTest::newRow("negative currency") << Variant::fromCurrency(-5) << u"-0.0005"_s;
    QTest::newRow("currency") << Variant::fromCurrency(12345678) << u"1234.5678"_s;
    QTest::newRow("date and time") << Variant::fromDate(QDate(2010, 1, 19), QTime(15, 7, 45))
                                   << u"#2010-01-19 15:07:45#"_s;
    QTest::newRow("date without time of day")
        << Variant::fromDate(QDate(2010, 1, 9), QTime(0, 0)) << u"#2010-01-09#"_s;
    QTest::newRow("date with invalid time is a date")
        << Variant::fromDate(QDate(2010, 1, 9), QTime()) << u"#2010-01-09#"_s;
    QTest::newRow("time on the zero date")
        << Variant::fromDate(QDate(1899, 12, 30), QTime(8, 5, 9)) << u"#08:05:09#"_s;
    QTest::newRow("time without a date is a time")
        << Variant::fromDate(QDate(), QTime(23, 0, 1)) << u"#23:00:01#"_s;
    QTest::newRow("zero date at midnight is the date")
        << Variant::fromDate(QDate(1899, 12, 30), QTime(0, 0)) << u"#1899-12-30#"_s;
    QTest::newRow("error value") << Variant::fromError(-2147221504) << u"#ERROR -2147221504#"_s;
}

void TestLogRecord::anyOther() {
    QFETCH(Variant, value);
    QFETCH(QString, text);
    QCOMPARE(Orvex::anyOtherText(value), text);
}

void TestLogRecord::coercedText_data() {
    QTest::addColumn<Variant>("value");
    QTest::addColumn<bool>("hasText");
    QTest::addColumn<QString>("text");

    QTest::newRow("text unquoted") << Variant(u"a,\"b\""_s) << true << u"a,\"b\""_s;
    QTest::newRow("empty value is the empty text") << Variant() << true << QString();
    QTest::newRow("true") << Variant::fromBool(true) << true << u"True"_s;
    QTest::newRow("false") << Variant::fromBool(false) << true << u"False"_s;
    QTest::newRow("long") << Variant::fromInt32(-5) << true << u"-5"_s;
    QTest::newRow("double as in the log") << Variant::fromDouble(0.1 + 0.2) << true << u"0.3"_s;
    QTest::newRow("single as in the log") << Variant::fromSingle(123456789.0f) << true << u"1.234568E+08"_s;
    QTest::newRow("currency") << Variant::fromCurrency(12345678) << true << u"1234.5678"_s;
    QTest::newRow("date and time in the general form")
        << Variant::fromDate(QDate(2010, 1, 19), QTime(15, 7, 45)) << true << u"1/19/2010 3:07:45 PM"_s;
    QTest::newRow("date at midnight alone")
        << Variant::fromDate(QDate(2010, 1, 9), QTime(0, 0)) << true << u"1/9/2010"_s;
    QTest::newRow("time on the zero date alone")
        << Variant::fromDate(QDate(1899, 12, 30), QTime(8, 5, 9)) << true << u"8:05:09 AM"_s;
    QTest::newRow("time without a date alone")
        << Variant::fromDate(QDate(), QTime(23, 0, 1)) << true << u"11:00:01 PM"_s;
    QTest::newRow("zero date at midnight is a time")
        << Variant::fromDate(QDate(1899, 12, 30), QTime(0, 0)) << true << u"12:00:00 AM"_s;
    QTest::newRow("null has no text") << Variant::null() << false << QString();
    QTest::newRow("error value has no text") << Variant::fromError(7) << false << QString();
}

void TestLogRecord::coercedText() {
    QFETCH(Variant, value);
    QFETCH(bool, hasText);
    QFETCH(QString, text);
    const std::optional<QString> coerced = Orvex::coercedText(value);
    QCOMPARE(coerced.has_value(), hasText);
    if (hasText)
        QCOMPARE(*coerced, text);
}

void TestLogRecord::record_data() {
    QTest::addColumn<QString>("subName");
    QTest::addColumn<QString>("message");
    QTest::addColumn<Variant>("anyOther");
    QTest::addColumn<QString>("record");

    const QString time = u"\"1/19/2010 3:07:45 PM\""_s;
    QTest::newRow("omitted values are empty texts")
        << u"A"_s << u"B"_s << Variant(QString()) << time + u",\"A\",\"B\",\"\"\r\n"_s;
    QTest::newRow("empty value ends with a bare comma")
        << u"A"_s << u"B"_s << Variant() << time + u",\"A\",\"B\",\r\n"_s;
    QTest::newRow("number without quotes")
        << u"A"_s << u"B"_s << Variant::fromInt32(5) << time + u",\"A\",\"B\",5\r\n"_s;
    QTest::newRow("quotes inside written unchanged")
        << u"A"_s << u"say \"hi\""_s << Variant(QString()) << time + u",\"A\",\"say \"hi\"\",\"\"\r\n"_s;
    QTest::newRow("commas inside written unchanged")
        << u"a,b"_s << u"c,d"_s << Variant(QString()) << time + u",\"a,b\",\"c,d\",\"\"\r\n"_s;
    QTest::newRow("server response over three lines")
        << u"Server Response"_s << u"success=1&jobid=4711"_s << Variant(u"\r\n"_s)
        << time + u",\"Server Response\",\"success=1&jobid=4711\",\"\r\n\"\r\n"_s;
    QTest::newRow("multi-line reply spreads the record")
        << u"Server Response"_s << u"line 1\r\nline 2\n"_s << Variant(u"\r\n"_s)
        << time + u",\"Server Response\",\"line 1\r\nline 2\n\",\"\r\n\"\r\n"_s;
}

void TestLogRecord::record() {
    QFETCH(QString, subName);
    QFETCH(QString, message);
    QFETCH(Variant, anyOther);
    QFETCH(QString, record);
    const QDateTime when(QDate(2010, 1, 19), QTime(15, 7, 45));
    QCOMPARE(Orvex::logRecord(when, subName, message, anyOther), record);
}

void TestLogRecord::ignoresProcessLocale() {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QDateTime when(QDate(2010, 1, 19), QTime(15, 7, 45));
    const QString time = Orvex::entryTimeText(when);
    const QString number = Orvex::anyOtherText(Variant::fromDouble(1234.5));
    const QString currency = Orvex::anyOtherText(Variant::fromCurrency(12345000));
    QLocale::setDefault(previous);

    QCOMPARE(time, u"1/19/2010 3:07:45 PM"_s);
    QCOMPARE(number, u"1234.5"_s);
    QCOMPARE(currency, u"1234.5"_s);
}

QTEST_APPLESS_MAIN(TestLogRecord)
#include "tst_logrecord.moc"
