#include "wireencoding.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestWireEncoding : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void toWireBytes_data();
    void toWireBytes();
};

void TestWireEncoding::toWireBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ASCII unchanged") << u"<a>R&amp;D</a>"_s << QByteArray("<a>R&amp;D</a>");
    QTest::newRow("Latin-1 as single bytes") << u"caf\u00e9 \u00ff\u00a0"_s << QByteArray("caf\xe9 \xff\xa0");
    QTest::newRow("first character outside Latin-1") << u"\u0100"_s << QByteArray("&#256;");
    QTest::newRow("euro sign as a reference") << u"5\u20ac"_s << QByteArray("5&#8364;");
    QTest::newRow("text on both sides of references")
        << u"R&D \u20ac\u20ac caf\u00e9"_s << QByteArray("R&D &#8364;&#8364; caf\xe9");
    QTest::newRow("surrogate pair as one code point") << u"\U0001F600!"_s << QByteArray("&#128512;!");
    QTest::newRow("lone high surrogate replaced")
        << QString(QChar(0xD83D)) + u"x"_s << QByteArray("&#65533;x");
    QTest::newRow("lone low surrogate replaced") << u"x"_s + QChar(0xDE00) << QByteArray("x&#65533;");
    QTest::newRow("swapped surrogates both replaced")
        << QString(QChar(0xDE00)) + QChar(0xD83D) << QByteArray("&#65533;&#65533;");
    QTest::newRow("NUL kept as a byte") << QString(QChar(0)) << QByteArray(1, '\0');
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestWireEncoding::toWireBytes() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(Orvex::toWireBytes(text), bytes);
    // A document is encoded piece by piece into one buffer: what is there already stays.
    QByteArray appended("<head>");
    Orvex::appendWireBytes(appended, text);
    QCOMPARE(appended, "<head>" + bytes);
}

QTEST_APPLESS_MAIN(TestWireEncoding)
#include "tst_wireencoding.moc"
