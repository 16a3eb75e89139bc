#include "decimaltext.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

class TestDecimalText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void doubleText_data();
    void doubleText();
    void singleText_data();
    void singleText();
    void doubleReadsBackAtFifteenDigits();
    void rounded_data();
    void rounded();
    void roundedToAnyCount_data();
    void roundedToAnyCount();
    void currency_data();
    void currency();
};

void TestDecimalText::doubleText_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("whole number has no point") << 5.0 << u"5"_s;
    QTest::newRow("negative") << -2.5 << u"-2.5"_s;
    QTest::newRow("binary expansion rounded away") << 0.1 << u"0.1"_s;
    QTest::newRow("fifteen digits hide the binary error") << 0.1 + 0.2 << u"0.3"_s;
    QTest::newRow("rounded at the fifteenth digit") << 0.123456789012345678 << u"0.123456789012346"_s;
    QTest::newRow("negative zero is zero") << -0.0 << u"0"_s;
    QTest::newRow("largest positional exponent") << 999999999999999.0 << u"999999999999999"_s;
    QTest::newRow("large whole number positional") << 123456789012345.0 << u"123456789012345"_s;
    QTest::newRow("1e15 switches to exponent") << 1e15 << u"1E+15"_s;
    QTest::newRow("rounding up reaches the exponent form") << 999999999999999.9 << u"1E+15"_s;
    QTest::newRow("sixteen digits in exponent form") << 1234567890123456.0 << u"1.23456789012346E+15"_s;
    QTest::newRow("negative in exponent form") << -1234567890123456.0 << u"-1.23456789012346E+15"_s;
    QTest::newRow("seventeen digits rounded") << 1.2345678901234568E+17 << u"1.23456789012346E+17"_s;
    QTest::newRow("very large") << 1.5e300 << u"1.5E+300"_s;
    QTest::newRow("largest double") << std::numeric_limits<double>::max() << u"1.79769313486232E+308"_s;
    QTest::newRow("smallest positional exponent") << 0.0001 << u"0.0001"_s;
    QTest::newRow("just below 1e-4 rounds up to it") << std::nextafter(0.0001, 0.0) << u"0.0001"_s;
    QTest::newRow("below 1e-4 in exponent form") << 0.000099999 << u"9.9999E-05"_s;
    QTest::newRow("1e-5 in exponent form") << 0.00001 << u"1E-05"_s;
    QTest::newRow("below 1e-5 exponent") << 1.25e-6 << u"1.25E-06"_s;
    QTest::newRow("two-digit exponent keeps two digits") << 1e-10 << u"1E-10"_s;
    QTest::newRow("two-digit positive exponent") << 1.5e25 << u"1.5E+25"_s;
    QTest::newRow("tiny negative") << -4e-300 << u"-4E-300"_s;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << u"Infinity"_s;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << u"NaN"_s;
}

void TestDecimalText::doubleText() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(Orvex::doubleDecimal(value), text);
}

void TestDecimalText::singleText_data() {
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("single keeps its own short form") << 0.1f << u"0.1"_s;
    QTest::newRow("fractional single") << 54465.52f << u"54465.52"_s;
    QTest::newRow("negative single") << -1.5f << u"-1.5"_s;
    QTest::newRow("largest positional exponent") << 9999999.0f << u"9999999"_s;
    QTest::newRow("eight digits in exponent form") << 16777216.0f << u"1.677722E+07"_s;
    QTest::newRow("rounded at the seventh digit") << 123456789.0f << u"1.234568E+08"_s;
    QTest::newRow("large single") << 3.0e20f << u"3E+20"_s;
    QTest::newRow("largest single") << std::numeric_limits<float>::max() << u"3.402823E+38"_s;
    QTest::newRow("smallest positional exponent") << 0.0001f << u"0.0001"_s;
    QTest::newRow("1e-5 in exponent form") << 0.00001f << u"1E-05"_s;
    QTest::newRow("two-digit exponent keeps two digits") << 1e-20f << u"1E-20"_s;
}

void TestDecimalText::singleText() {
    QFETCH(float, value);
    QFETCH(QString, text);
    QCOMPARE(Orvex::singleDecimal(value), text);
}

// Whatever the form, the text is the value rounded to fifteen significant digits.
void TestDecimalText::doubleReadsBackAtFifteenDigits() {
    const double values[] = {1.0 / 3, 2.0 / 3 * 1e10, 9007199254740993.0, 5e-324, 1e-5, 0.99999, -7.0 / 9e20};
    for (const double value : values) {
        const QString text = Orvex::doubleDecimal(value);
        bool ok = false;
        QCOMPARE(text.toDouble(&ok), QString::number(value, 'g', 15).toDouble());
        QVERIFY2(ok, qPrintable(text));
    }
}

void TestDecimalText::rounded_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("seven significant digits") << 54465.51953125 << u"54465.52"_s;
    QTest::newRow("trailing zeros dropped") << 100.5 << u"100.5"_s;
    QTest::newRow("whole number has no point") << 54465.0 << u"54465"_s;
    QTest::newRow("rounds up into a new digit") << 86399.99999 << u"86400"_s;
    QTest::newRow("small value stays positional") << 0.00005 << u"0.00005"_s;
    QTest::newRow("zero") << 0.0 << u"0"_s;
}

void TestDecimalText::rounded() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(Orvex::roundedDecimal(value, 7), text);
}

void TestDecimalText::roundedToAnyCount_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("digits");
    QTest::addColumn<QString>("text");

    const QString exactTenth = u"0.1000000000000000055511151231257827021181583404541015625"_s;
    QTest::newRow("more digits than a 512-byte form holds") << 0.1 << 508 << exactTenth;
    QTest::newRow("any count past the exact digits") << 0.1 << std::numeric_limits<int>::max() << exactTenth;
    QTest::newRow("no digits rounds to one") << 54465.51953125 << 0 << u"50000"_s;
    QTest::newRow("most negative count rounds to one")
        << -54465.51953125 << std::numeric_limits<int>::min() << u"-50000"_s;
}

void TestDecimalText::roundedToAnyCount() {
    QFETCH(double, value);
    QFETCH(int, digits);
    QFETCH(QString, text);
    QCOMPARE(Orvex::roundedDecimal(value, digits), text);
}

void TestDecimalText::currency_data() {
    QTest::addColumn<qint64>("tenThousandths");
    QTest::addColumn<QString>("text");

    QTest::newRow("whole amount") << qint64(50000) << u"5"_s;
    QTest::newRow("four decimals") << qint64(12345678) << u"1234.5678"_s;
    QTest::newRow("trailing zeros dropped") << qint64(12500) << u"1.25"_s;
    QTest::newRow("below one") << qint64(5) << u"0.0005"_s;
    QTest::newRow("negative") << qint64(-12500) << u"-1.25"_s;
    QTest::newRow("most negative amount") << std::numeric_limits<qint64>::min() << u"-922337203685477.5808"_s;
}

void TestDecimalText::currency() {
    QFETCH(qint64, tenThousandths);
    QFETCH(QString, text);
    QCOMPARE(Orvex::currencyDecimal(tenThousandths), text);
}

QTEST_APPLESS_MAIN(TestDecimalText)
#include "tst_decimaltext.moc"
