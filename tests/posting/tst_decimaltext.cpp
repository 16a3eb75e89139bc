#include "decimaltext.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

class TestDecimalText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shortestDouble_data();
    void shortestDouble();
    void shortestSingle_data();
    void shortestSingle();
    void shortestReadsBack();
    void rounded_data();
    void rounded();
    void roundedToAnyCount_data();
    void roundedToAnyCount();
    void currency_data();
    void currency();
};

void TestDecimalText::shortestDouble_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("whole number has no point") << 5.0 << u"5"_s;
    QTest::newRow("negative") << -2.5 << u"-2.5"_s;
    QTest::newRow("shortest form, not the binary expansion") << 0.1 << u"0.1"_s;
    QTest::newRow("all seventeen digits when needed") << 0.1 + 0.2 << u"0.30000000000000004"_s;
    QTest::newRow("negative zero is zero") << -0.0 << u"0"_s;
    QTest::newRow("large whole number positional") << 123456789012345.0 << u"123456789012345"_s;
    QTest::newRow("1e15 switches to exponent") << 1e15 << u"1E+15"_s;
    QTest::newRow("very large") << 1.5e300 << u"1.5E+300"_s;
    QTest::newRow("small positional") << 0.00001 << u"0.00001"_s;
    QTest::newRow("below 1e-5 exponent") << 1.25e-6 << u"1.25E-06"_s;
    QTest::newRow("tiny negative") << -4e-300 << u"-4E-300"_s;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << u"Infinity"_s;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << u"NaN"_s;
}

void TestDecimalText::shortestDouble() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(Orvex::shortestDecimal(value), text);
}

void TestDecimalText::shortestSingle_data() {
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("single keeps its own shortest form") << 0.1f << u"0.1"_s;
    QTest::newRow("fractional single") << 54465.52f << u"54465.52"_s;
    QTest::newRow("large single") << 3.0e20f << u"3E+20"_s;
    QTest::newRow("whole single") << 16777216.0f << u"16777216"_s;
}

void TestDecimalText::shortestSingle() {
    QFETCH(float, value);
    QFETCH(QString, text);
    QCOMPARE(Orvex::shortestDecimal(value), text);
}

void TestDecimalText::shortestReadsBack() {
    const double values[] = {1.0 / 3, 2.0 / 3 * 1e10, 9007199254740993.0, 5e-324, 1.7976931348623157e308,
                             1e-5,    0.99999};
    for (const double value : values) {
        const QString text = Orvex::shortestDecimal(value);
        bool ok = false;
        QCOMPARE(text.toDouble(&ok), value);
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
