#include "automationconversion.h"
#include "automationerror.h"
#include "errortable.h"

#include <QTest>

using Orvex::AutomationError;

class TestAutomationConversion : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void convertsTextToBoolean_data();
    void convertsTextToBoolean();
    void failsOnTextThatIsNeitherWordNorNumber_data();
    void failsOnTextThatIsNeitherWordNorNumber();
    void failsWithOverflowBeyondDoubleRange();
};

void TestAutomationConversion::convertsTextToBoolean_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("zero is off") << QStringLiteral("0") << false;
    QTest::newRow("one is on") << QStringLiteral("1") << true;
    QTest::newRow("minus one is on") << QStringLiteral("-1") << true;
    QTest::newRow("plus sign") << QStringLiteral("+2") << true;
    QTest::newRow("fraction is on") << QStringLiteral("0.5") << true;
    QTest::newRow("zero with decimals is off") << QStringLiteral("0.000") << false;
    QTest::newRow("negative zero is off") << QStringLiteral("-0") << false;
    QTest::newRow("leading point") << QStringLiteral(".25") << true;
    QTest::newRow("exponent") << QStringLiteral("1e3") << true;
    QTest::newRow("zero with exponent is off") << QStringLiteral("0E5") << false;
    QTest::newRow("spaces around a number") << QStringLiteral("  1  ") << true;
    QTest::newRow("True") << QStringLiteral("True") << true;
    QTest::newRow("true") << QStringLiteral("true") << true;
    QTest::newRow("TRUE") << QStringLiteral("TRUE") << true;
    QTest::newRow("False") << QStringLiteral("False") << false;
    QTest::newRow("fAlSe") << QStringLiteral("fAlSe") << false;
}

void TestAutomationConversion::convertsTextToBoolean() {
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(Orvex::textToBoolean(text), expected);
}

void TestAutomationConversion::failsOnTextThatIsNeitherWordNorNumber_data() {
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QString();
    QTest::newRow("spaces only") << QStringLiteral("   ");
    QTest::newRow("yes") << QStringLiteral("yes");
    QTest::newRow("on") << QStringLiteral("on");
    QTest::newRow("word with spaces around") << QStringLiteral(" True ");
    QTest::newRow("number followed by text") << QStringLiteral("1x");
    QTest::newRow("point alone") << QStringLiteral(".");
    QTest::newRow("tab around a number") << QStringLiteral("\t1");
    QTest::newRow("two numbers") << QStringLiteral("1 2");
}

void TestAutomationConversion::failsOnTextThatIsNeitherWordNorNumber() {
    QFETCH(QString, text);
    try {
        Orvex::textToBoolean(text);
        QFAIL("no error");
    } catch (const AutomationError &error) {
        QCOMPARE(error.number(), Orvex::ErrorNumber::TypeMismatch);
        QCOMPARE(error.description(), QStringLiteral("Type mismatch"));
    }
}

void TestAutomationConversion::failsWithOverflowBeyondDoubleRange() {
    try {
        Orvex::textToBoolean(QStringLiteral("1e999"));
        QFAIL("no error");
    } catch (const AutomationError &error) {
        QCOMPARE(error.number(), Orvex::ErrorNumber::Overflow);
    }
}

QTEST_GUILESS_MAIN(TestAutomationConversion)
#include "errortable.h"
#include "tst_automationconversion.moc"
