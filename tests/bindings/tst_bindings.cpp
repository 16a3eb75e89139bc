#include "boardandserver.h"

#include <QProcess>
#include <QTest>

using Fields = QList<std::pair<QString, QString>>;

// Clients made with D-Bus bindings nobody here wrote, from the type library alone, against the server of
// this build tree on the test bus.
class TestBindings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void postsThroughTheIntrospectionAlone_data();
    void postsThroughTheIntrospectionAlone();

private:
    BoardAndServer m_session;
};

void TestBindings::init() {
    QString error;
    QVERIFY2(m_session.start(&error), qPrintable(error));
}

void TestBindings::cleanup() {
    QVERIFY2(m_session.end(), "the client left its server running");
}

void TestBindings::postsThroughTheIntrospectionAlone_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Fields>("first");
    QTest::addColumn<QStringList>("ownRecords");

    // Debian's interpreter, which has python3-dbus; another python3 earlier on PATH may lack it.
    const QString python = QStringLiteral("\"dbus_python_client.py\",\"AnyOther\",");
    QTest::newRow("dbus-python proxy objects")
        << QStringLiteral("/usr/bin/python3") << QStringList{QStringLiteral(ORVEX_DBUS_PYTHON_CLIENT)}
        << Fields{{QStringLiteral("JobCode"), QStringLiteral("PY-1")},
                  {QStringLiteral("Title"), QStringLiteral("R&D <lead>")}}
        << QStringList{python + QStringLiteral("\"text\""), python + QStringLiteral("42"),
                       python + QStringLiteral("1.5"),      python + QStringLiteral("#TRUE#"),
                       python + QStringLiteral("12.5"),     python + QStringLiteral("#2010-01-19 15:07:45#")};
    const QString c = QStringLiteral("\"gdbus_client\",\"AnyOther\",");
    QTest::newRow("gdbus-codegen C client")
        << QStringLiteral(ORVEX_GDBUS_CLIENT) << QStringList{}
        << Fields{{QStringLiteral("JobCode"), QStringLiteral("C-1")},
                  {QStringLiteral("Title"), QStringLiteral("C <developer>")}}
        << QStringList{c + QStringLiteral("\"text\""), c + QStringLiteral("42"), c + QStringLiteral("1.5"),
                       c + QStringLiteral("12.5"), c + QStringLiteral("#2010-01-19 15:07:45#")};
}

void TestBindings::postsThroughTheIntrospectionAlone() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(Fields, first);
    QFETCH(QStringList, ownRecords);

    QProcess client;
    client.start(program, arguments);
    QVERIFY2(client.waitForFinished(120000), qPrintable(client.errorString()));
    const QString err = QString::fromUtf8(client.readAllStandardError());
    QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    QVERIFY2(client.exitCode() == 0, qPrintable(err));
    // One listing through Field and Action, the next through Listing.Post.
    QCOMPARE(QString::fromUtf8(client.readAllStandardOutput()), QStringLiteral("S4711\nS4712\n"));

    const QList<QJsonObject> postings = m_session.board().postings();
    QCOMPARE(postings.size(), 2);
    QCOMPARE(BoardProcess::fieldsOf(postings.first()), first);
    QCOMPARE(BoardProcess::fieldsOf(postings.last()).first().first, QStringLiteral("JobCode"));

    // Every three-argument record arrived with its AnyOther, in order, after the postings' records.
    QVERIFY(ServerFixture::waitUntilGone());
    QStringList records = m_session.server().logRecords();
    QVERIFY2(records.size() >= ownRecords.size(), qPrintable(records.join(u'\n')));
    records = records.mid(records.size() - ownRecords.size());
    for (QString &record : records)
        record = withoutTimeStamp(record);
    QCOMPARE(records, ownRecords);
}

QTEST_GUILESS_MAIN(TestBindings)
#include "tst_bindings.moc"
