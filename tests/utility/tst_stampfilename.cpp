#include "clock.h"
#include "stampfilename.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QDateTime May6 = QDateTime(QDate(2010, 5, 6), QTime(14, 3, 7));
const QString Untouched = u"untouched"_s;
} // namespace

class TestStampFileName : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stampsThePath_data();
    void stampsThePath();
    void leavesTheOutputAloneForABlankPath_data();
    void leavesTheOutputAloneForABlankPath();
    void readsTheSystemClockByDefault();
};

void TestStampFileName::stampsThePath_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("stamped");

    QTest::newRow("daily log") << u"C:\\App\\OrvexKelPostJobs.log"_s << u"DateOnly"_s << May6
                               << u"C:\\App\\OrvexKelPostJobs 2010-05-06.log"_s;
    QTest::newRow("time only") << u"C:\\App\\OrvexKelPostJob.xml"_s << u"TimeOnly"_s << May6
                               << u"C:\\App\\OrvexKelPostJob 14-03-07.xml"_s;
    QTest::newRow("both") << u"C:\\App\\OrvexKelPostJob.xml"_s << u"Both"_s << May6
                          << u"C:\\App\\OrvexKelPostJob 2010-05-06 14-03-07.xml"_s;
    QTest::newRow("values below ten get a leading zero")
        << u"C:\\App\\OrvexKelPostJob.xml"_s << u"Both"_s << QDateTime(QDate(2011, 1, 9), QTime(8, 5, 9))
        << u"C:\\App\\OrvexKelPostJob 2011-01-09 08-05-09.xml"_s;
    QTest::newRow("midnight") << u"a.log"_s << u"Both"_s << QDateTime(QDate(2010, 12, 31), QTime(0, 0, 0))
                              << u"a 2010-12-31 00-00-00.log"_s;
    QTest::newRow("one second to midnight")
        << u"a.log"_s << u"TimeOnly"_s << QDateTime(QDate(2010, 12, 31), QTime(23, 59, 59))
        << u"a 23-59-59.log"_s;
    QTest::newRow("year is never padded")
        << u"a.log"_s << u"DateOnly"_s << QDateTime(QDate(999, 3, 4), QTime(1, 2, 3)) << u"a 999-03-04.log"_s;
    QTest::newRow("no extension") << u"C:\\App\\report"_s << u"DateOnly"_s << May6
                                  << u"C:\\App\\report 2010-05-06"_s;
    QTest::newRow("trailing dot is dropped")
        << u"C:\\App\\report."_s << u"TimeOnly"_s << May6 << u"C:\\App\\report 14-03-07"_s;
    QTest::newRow("dot in a folder name takes the stamp")
        << u"C:\\my.dir\\report"_s << u"DateOnly"_s << May6 << u"C:\\my 2010-05-06.dir\\report"_s;
    QTest::newRow("name that is only an extension")
        << u".log"_s << u"DateOnly"_s << May6 << u" 2010-05-06.log"_s;
    QTest::newRow("extension of spaces is dropped with its dot")
        << u"report.   "_s << u"DateOnly"_s << May6 << u"report 2010-05-06"_s;
    QTest::newRow("extension of NULs is dropped with its dot")
        << u"report."_s + QChar(u'\0') << u"DateOnly"_s << May6 << u"report 2010-05-06"_s;
    QTest::newRow("extension with a space inside stays")
        << u"report. x"_s << u"DateOnly"_s << May6 << u"report 2010-05-06. x"_s;
    QTest::newRow("mode in another letter case gives both")
        << u"a.log"_s << u"dateonly"_s << May6 << u"a 2010-05-06 14-03-07.log"_s;
    QTest::newRow("empty mode gives both")
        << u"a.log"_s << QString() << May6 << u"a 2010-05-06 14-03-07.log"_s;
    QTest::newRow("forward slashes are text like any other")
        << u"/srv/app/x.y/log"_s << u"DateOnly"_s << May6 << u"/srv/app/x 2010-05-06.y/log"_s;
}

void TestStampFileName::stampsThePath() {
    QFETCH(QString, source);
    QFETCH(QString, mode);
    QFETCH(QDateTime, now);
    QFETCH(QString, stamped);

    const Orvex::FixedClock clock(now);
    QString output = Untouched;
    FuncLib::StampFileName(source, output, mode, clock);
    QCOMPARE(output, stamped);
}

void TestStampFileName::leavesTheOutputAloneForABlankPath_data() {
    QTest::addColumn<QString>("source");
    QTest::newRow("null") << QString();
    QTest::newRow("empty") << u""_s;
    QTest::newRow("spaces") << u"   "_s;
    QTest::newRow("NULs") << QString(3, QChar(u'\0'));
}

void TestStampFileName::leavesTheOutputAloneForABlankPath() {
    QFETCH(QString, source);
    const Orvex::FixedClock clock(May6);
    QString output = Untouched;
    FuncLib::StampFileName(source, output, u"DateOnly"_s, clock);
    QCOMPARE(output, Untouched);
}

void TestStampFileName::readsTheSystemClockByDefault() {
    QString output;
    FuncLib::StampFileName(u"a.log"_s, output, u"DateOnly"_s);
    QVERIFY2(QRegularExpression(u"^a \\d{4}-\\d\\d-\\d\\d\\.log$"_s).match(output).hasMatch(),
             qPrintable(output));
}

QTEST_GUILESS_MAIN(TestStampFileName)
#include "tst_stampfilename.moc"
