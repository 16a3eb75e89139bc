#include "rowspool.h"

#include <QTest>

using Orvex::RowSpool;

// Rows kept for a table printed once its widths are known: read back whole and in order, wherever they
// were kept.
class TestRowSpool : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsBackEveryLineInOrder_data();
    void readsBackEveryLineInOrder();
};

void TestRowSpool::readsBackEveryLineInOrder_data() {
    QTest::addColumn<qsizetype>("memoryBytes");
    QTest::addColumn<QList<QByteArray>>("lines");

    QList<QByteArray> many;
    for (int i = 0; i < 5000; ++i)
        many.append(QByteArray::number(i) + QByteArray(i % 97, 'x') + "\x1f\xc3\xa9");
    // Longer than a read of the file, so that it ends in a later one.
    const QByteArray long_(300 * 1024, 'L');

    QTest::newRow("none") << RowSpool::DefaultMemoryBytes << QList<QByteArray>();
    QTest::newRow("in memory, empty lines kept")
        << RowSpool::DefaultMemoryBytes << QList<QByteArray>{"a", "", "c"};
    QTest::newRow("in the file, lines across its reads") << qsizetype(64) << many;
    QTest::newRow("a line longer than a read")
        << qsizetype(16) << QList<QByteArray>{"first", long_, "", "last"};
    QTest::newRow("part in the file, the rest in memory") << qsizetype(200 * 1024) << many;
}

void TestRowSpool::readsBackEveryLineInOrder() {
    QFETCH(qsizetype, memoryBytes);
    QFETCH(QList<QByteArray>, lines);

    RowSpool spool(memoryBytes);
    QString why;
    for (const QByteArray &line : std::as_const(lines))
        QVERIFY2(spool.append(line, &why), qPrintable(why));
    QList<QByteArray> read;
    QVERIFY2(spool.replay([&](QByteArrayView line) { read.append(line.toByteArray()); }, &why),
             qPrintable(why));
    QCOMPARE(read.size(), lines.size());
    QVERIFY(read == lines);
}

QTEST_MAIN(TestRowSpool)
#include "tst_rowspool.moc"
