#include "boardandserver.h"

#include <QProcess>
#include <QTest>

using Fields = QList<std::pair<QString, QString>>;

class TestPythonClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void postsThroughGio_data();
    void postsThroughGio();

private:
    BoardAndServer m_session;
};

void TestPythonClient::init() {
    QString error;
    QVERIFY2(m_session.start(&error), qPrintable(error));
}

void TestPythonClient::cleanup() {
    m_session.end();
}

void TestPythonClient::postsThroughGio_data() {
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("ownRecord");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("error"); // the D-Bus error the script names, once

    QTest::newRow("posted") << Fields{{QStringLiteral("JobCode"), QStringLiteral("PY-7")},
                                      {QStringLiteral("Title"), QStringLiteral("R&D <lead>")},
                                      {QStringLiteral("Note"), QStringLiteral("\u00e9t\u00e9 = summer")}}
                            << 0 << QStringLiteral("S4711")
                            << QStringLiteral(R"("post_listing.py","PY-7 S4711",3)") << QByteArray()
                            << QString();
    QTest::newRow("refused by the board")
        << Fields{{QStringLiteral("JobCode"), QStringLiteral("PY-8")},
                  {QStringLiteral("BoardFault"), QStringLiteral("failure")}}
        << 1 << QStringLiteral("F") << QStringLiteral(R"("post_listing.py","PY-8 F",2)") << QByteArray()
        << QString();
    QTest::newRow("creation refused names the error once")
        << Fields{{QStringLiteral("JobCode"), QStringLiteral("PY-9")}} << 1 << QString() << QString()
        << QByteArray("[General]\nDebugMode=yes\n") << QStringLiteral("OrvexKelPostJob.Error.TypeMismatch");
}

void TestPythonClient::postsThroughGio() {
    QFETCH(Fields, fields);
    QFETCH(int, exitCode);
    QFETCH(QString, result);
    QFETCH(QString, ownRecord);
    QFETCH(QByteArray, ini);
    QFETCH(QString, error);
    if (!ini.isEmpty())
        QVERIFY(m_session.server().writeIni(ini));

    QStringList arguments{QStringLiteral(ORVEX_PYTHON_EXAMPLE)};
    for (const auto &[name, value] : fields)
        arguments << QStringLiteral("--field") << name + u'=' + value;
    // Debian's interpreter, which has python3-gi; another python3 earlier on PATH may lack it.
    QProcess script;
    script.start(QStringLiteral("/usr/bin/python3"), arguments);
    QVERIFY2(script.waitForFinished(120000), qPrintable(script.errorString()));
    const QString err = QString::fromUtf8(script.readAllStandardError());
    QCOMPARE(script.exitStatus(), QProcess::NormalExit);
    QVERIFY2(script.exitCode() == exitCode, qPrintable(err));
    if (!error.isEmpty()) {
        QCOMPARE(script.readAllStandardOutput(), QByteArray());
        QVERIFY2(err.startsWith(QStringLiteral("post_listing.py: ") + error + QStringLiteral(": ")),
                 qPrintable(err));
        QVERIFY2(err.count(error) == 1, qPrintable(err));
        QVERIFY(m_session.board().postings().isEmpty());
        return;
    }
    QCOMPARE(QString::fromUtf8(script.readAllStandardOutput()), result + u'\n');

    // Release ended the server; the board got the fields in order; the log holds the action and the
    // script's own record with its number unquoted.
    QVERIFY(ServerFixture::waitUntilGone());
    QCOMPARE(m_session.board().postings().size(), 1);
    QCOMPARE(BoardProcess::fieldsOf(m_session.board().postings().constFirst()), fields);
    const QStringList records = m_session.server().logRecords();
    QVERIFY2(records.size() >= 2, qPrintable(records.join(u'\n')));
    QCOMPARE(withoutTimeStamp(records.constFirst()),
             QStringLiteral(R"("Add","%1","")").arg(fields.first().second));
    QCOMPARE(withoutTimeStamp(records.constLast()), ownRecord);
}

QTEST_GUILESS_MAIN(TestPythonClient)
#include "tst_pythonclient.moc"
