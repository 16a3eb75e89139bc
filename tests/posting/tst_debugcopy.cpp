#include "debugcopy.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestDebugCopy : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fineTime_data();
    void fineTime();
    void path_data();
    void path();
};

void TestDebugCopy::fineTime_data() {
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("text");

    QTest::newRow("afternoon, two decimals") << QTime(15, 7, 45, 520) << u"54465.52"_s;
    QTest::newRow("whole second has no point") << QTime(15, 7, 45) << u"54465"_s;
    QTest::newRow("trailing zero dropped") << QTime(15, 7, 45, 500) << u"54465.5"_s;
    QTest::newRow("early morning, three decimals") << QTime(0, 20, 0, 123) << u"1200.123"_s;
    QTest::newRow("seven digits in the first seconds") << QTime(0, 0, 1, 234) << u"1.234"_s;
    QTest::newRow("midnight") << QTime(0, 0) << u"0"_s;
    QTest::newRow("last moment rounds to a whole number") << QTime(23, 59, 59, 999) << u"86400"_s;
}

void TestDebugCopy::fineTime() {
    QFETCH(QTime, time);
    QFETCH(QString, text);
    QCOMPARE(Orvex::fineTimeText(time), text);
}

void TestDebugCopy::path_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("path");

    QTest::newRow("stamped then fine time")
        << u"C:\\App"_s << QDateTime(QDate(2010, 1, 19), QTime(15, 7, 45, 520))
        << u"C:\\App\\OrvexKelPostJob 2010-01-19 15-07-45_54465.52.xml"_s;
    QTest::newRow("leading zeros in the stamps")
        << u"/opt/orvex"_s << QDateTime(QDate(2011, 1, 9), QTime(8, 5, 9))
        << u"/opt/orvex\\OrvexKelPostJob 2011-01-09 08-05-09_29109.xml"_s;
}

void TestDebugCopy::path() {
    QFETCH(QString, folder);
    QFETCH(QDateTime, now);
    QFETCH(QString, path);
    QCOMPARE(Orvex::debugCopyPath(folder, now), path);
}

QTEST_APPLESS_MAIN(TestDebugCopy)
#include "tst_debugcopy.moc"
