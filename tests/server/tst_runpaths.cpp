#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

// The run paths the built programs carry. An empty entry is the working folder to the loader: a program
// started in a folder holding a library of the same name would load that one.
class TestRunPaths : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noEntryNamesTheWorkingFolder_data();
    void noEntryNamesTheWorkingFolder();
};

void TestRunPaths::noEntryNamesTheWorkingFolder_data() {
    QTest::addColumn<QString>("program");

    QTest::newRow("server") << QStringLiteral(ORVEX_SERVER_EXECUTABLE);
    QTest::newRow("command-line tool") << QStringLiteral(ORVEX_TOOL_EXECUTABLE);
    QTest::newRow("client library") << QStringLiteral(ORVEX_CLIENT_LIBRARY);
    QTest::newRow("HTTP module") << QStringLiteral(ORVEX_HTTP_MODULE);
    QTest::newRow("display module") << QStringLiteral(ORVEX_DISPLAY_MODULE);
}

void TestRunPaths::noEntryNamesTheWorkingFolder() {
    QFETCH(QString, program);
    const QString readelf = QStandardPaths::findExecutable(u"readelf"_s);
    if (readelf.isEmpty())
        QSKIP("readelf (binutils) is not installed");

    QProcess process;
    process.start(readelf, {u"--dynamic"_s, program});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QString dynamic = QString::fromLocal8Bit(process.readAllStandardOutput());
    static const QRegularExpression runPath(uR"(\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*)\])"_s);
    for (const QRegularExpressionMatch &match : runPath.globalMatch(dynamic)) {
        for (const QString &entry : match.captured(1).split(u':')) {
            QVERIFY2(entry.startsWith(u'/') || entry.startsWith(u"$ORIGIN"_s),
                     qPrintable(u"entry \"%1\" in %2"_s.arg(entry, match.captured(1))));
        }
    }
}

QTEST_GUILESS_MAIN(TestRunPaths)
#include "tst_runpaths.moc"
