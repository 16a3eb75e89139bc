#include "clock.h"

#include <QTest>

#include <ctime>

using namespace Qt::StringLiterals;

class TestClock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void systemClockReadsLocalTime_data();
    void systemClockReadsLocalTime();
};

void TestClock::systemClockReadsLocalTime_data() {
    QTest::addColumn<QByteArray>("zone");

    QTest::newRow("UTC") << QByteArray("UTC0");
    QTest::newRow("behind UTC, with daylight saving") << QByteArray("EST5EDT,M3.2.0,M11.1.0");
    QTest::newRow("half-hour offset") << QByteArray("IST-5:30");
}

void TestClock::systemClockReadsLocalTime() {
    QFETCH(QByteArray, zone);
    const QByteArray previous = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", zone);
    tzset();

    const QDateTime before = QDateTime::currentDateTime();
    const QDateTime now = Orvex::systemClock().now();
    const QDateTime after = QDateTime::currentDateTime();
    // Local times of Qt's own are read in the zone of the moment, so compare before restoring it.
    const bool inOrder = before <= now && now <= after;
    const int expectedOffset = before.offsetFromUtc();
    const QString readings = before.toString(Qt::ISODateWithMs) + u" "_s + now.toString(Qt::ISODateWithMs);

    if (hadZone)
        qputenv("TZ", previous);
    else
        qunsetenv("TZ");
    tzset();

    QVERIFY(now.isValid());
    QVERIFY2(inOrder, qPrintable(readings));
    QCOMPARE(now.offsetFromUtc(), expectedOffset);
    // The wall-clock fields are the local ones, as log records and file stamps read them.
    const qint64 wallDifference =
        QDateTime(before.date(), before.time(), Qt::UTC).msecsTo(QDateTime(now.date(), now.time(), Qt::UTC));
    QVERIFY2(wallDifference >= 0 && wallDifference <= 1000, qPrintable(readings));
}

QTEST_APPLESS_MAIN(TestClock)
#include "tst_clock.moc"
