#include "componentsettings.h"
#include "likelyname.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestLikelyName : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void namesWhatWasMeant_data();
    void namesWhatWasMeant();
};

void TestLikelyName::namesWhatWasMeant_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("meant"); // empty: no name is that close

    const QStringList keys = Orvex::ComponentSettings::keyNames();
    // What people mistype in a key.
    QTest::newRow("three slips in a long name") << u"MaxInFlite"_s << keys << u"MaxInFlight"_s;
    QTest::newRow("a letter left out") << u"RetryFr"_s << keys << u"RetryFor"_s;
    QTest::newRow("a separator and a letter left out") << u"Imprt_Url"_s << keys << u"ImportUrl"_s;
    QTest::newRow("lower case") << u"timeout"_s << keys << u"Timeout"_s;
    QTest::newRow("upper case") << u"IMPORTURL"_s << keys << u"ImportUrl"_s;
    QTest::newRow("separators of every kind") << u"client-key"_s << keys << u"ClientKey"_s;
    QTest::newRow("a space") << u"Journal Days"_s << keys << u"JournalDays"_s;
    QTest::newRow("a swapped pair") << u"MaxInFlihgt"_s << keys << u"MaxInFlight"_s;
    QTest::newRow("the nearer of two that both fit")
        << u"Import_Url"_s << QStringList{u"ImportUrls"_s, u"ImportUrl"_s} << u"ImportUrl"_s;
    QTest::newRow("the exact name over a longer one holding it") << u"TIME_OUT"_s << keys << u"Timeout"_s;
    // Boards: short names.
    const QStringList boards{u"default"_s, u"North"_s, u"east"_s};
    QTest::newRow("a swapped pair in a short name") << u"Nroth"_s << boards << u"North"_s;
    QTest::newRow("a swapped pair in a four-letter name") << u"aest"_s << boards << u"east"_s;
    QTest::newRow("a letter left out of a five-letter name") << u"Nort"_s << boards << u"North"_s;
    QTest::newRow("swapped in a longer one") << u"defualt"_s << boards << u"default"_s;
    // What must not be taken for another name.
    QTest::newRow("two short names a letter apart") << u"west"_s << boards << QString();
    QTest::newRow("two short unrelated names") << u"Jobs"_s << QStringList{u"Sales"_s} << QString();
    QTest::newRow("one letter each") << u"A"_s << QStringList{u"B"_s} << QString();
    QTest::newRow("a word the keys do not hold") << u"Proxy"_s << keys << QString();
    QTest::newRow("four slips in a long name") << u"MaxImFlite"_s << keys << QString();
    QTest::newRow("nothing but separators") << u"_-"_s << keys << QString();
}

void TestLikelyName::namesWhatWasMeant() {
    QFETCH(QString, typed);
    QFETCH(QStringList, names);
    QFETCH(QString, meant);
    QCOMPARE(Orvex::likelyName(typed, names).value_or(QString()), meant);
}

QTEST_GUILESS_MAIN(TestLikelyName)
#include "tst_likelyname.moc"
