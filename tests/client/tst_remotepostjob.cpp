#include "boardprocess.h"
#include "remoteerror.h"
#include "remotepostjob.h"
#include "serverfixture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QTest>

#include <csignal>

using Orvex::AutomationError;
using Orvex::RemotePostJob;
using Orvex::Variant;

Q_DECLARE_METATYPE(Orvex::Variant)

// Fails the test with the error's text where QtTest would only say that an exception escaped.
#define NO_AUTOMATION_ERROR(statement)                                                                       \
    do {                                                                                                     \
        try {                                                                                                \
            statement;                                                                                       \
        } catch (const AutomationError &error) {                                                             \
            QFAIL(qPrintable(Orvex::describeError(error)));                                                  \
        }                                                                                                    \
    } while (false)

class TestRemotePostJob : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void postsListingAndReturnsJobId();
    void longListingArrivesInOrder();
    void failedPostingReturnsF();
    void createsByClassId();
    void unknownClassIdStartsNothing();
    void creationErrorComesBackAsAutomationError();
    void destructorReleasesAndServerEnds();
    void callsAfterReleaseFailWithoutTouchingTheBus();
    void objectMovesToANewServerAfterItsOwnEnded();
    void endedListingIsSentAgainOnANewServer();
    void refusesTextsTheBusCannotCarry_data();
    void refusesTextsTheBusCannotCarry();
    void writeLogCarriesAnyOther_data();
    void writeLogCarriesAnyOther();

private:
    std::unique_ptr<BoardProcess> m_board;
    std::unique_ptr<ServerFixture> m_server;
};

void TestRemotePostJob::init() {
    m_board =
        std::make_unique<BoardProcess>(QStringList{QStringLiteral("--first-id"), QStringLiteral("4711")});
    QVERIFY2(m_board->start(), qPrintable(m_board->errorString()));
    m_server = std::make_unique<ServerFixture>();
    QString error;
    QVERIFY2(m_server->prepare(m_board->proxyUrl(), &error), qPrintable(error));
    QVERIFY(!ServerFixture::isRunning());
}

void TestRemotePostJob::cleanup() {
    // Release ends the server soon after it answers; one still running after that was left behind.
    const bool ended = ServerFixture::waitUntilGone(5000);
    ServerFixture::endLeftover();
    m_server.reset();
    m_board.reset();
    QVERIFY2(ended, "the test left its server running");
}

void TestRemotePostJob::postsListingAndReturnsJobId() {
    RemotePostJob job;
    QVERIFY(ServerFixture::isRunning());
    QCOMPARE(job.Field(QStringLiteral("JobCode"), QStringLiteral("J1")), QString());
    job.Field(QStringLiteral("Title"), QStringLiteral("R&D <lead>"));
    QCOMPARE(job.Action(QStringLiteral("Add")), QStringLiteral("S4711"));

    const QList<QJsonObject> postings = m_board->postings();
    QCOMPARE(postings.size(), 1);
    QCOMPARE(postings.first().value(QStringLiteral("action")).toString(), QStringLiteral("Add"));
    const QList<std::pair<QString, QString>> expected{
        {QStringLiteral("JobCode"), QStringLiteral("J1")},
        {QStringLiteral("Title"), QStringLiteral("R&D <lead>")}};
    QCOMPARE(BoardProcess::fieldsOf(postings.first()), expected);

    // A second listing on the same object starts a fresh document.
    job.Field(QStringLiteral("JobCode"), QStringLiteral("J2"));
    QCOMPARE(job.Action(QStringLiteral("Add")), QStringLiteral("S4712"));
    QCOMPARE(BoardProcess::fieldsOf(m_board->postings().at(1)).size(), 1);
}

void TestRemotePostJob::longListingArrivesInOrder() {
    // A long listing in the one call of Action, with names repeated, so order is all that tells them apart.
    QList<std::pair<QString, QString>> fields;
    for (int i = 0; i < 1500; ++i)
        fields.append({QStringLiteral("F%1").arg(i % 7), QStringLiteral("value %1").arg(i)});

    RemotePostJob job;
    for (const auto &[name, value] : fields)
        NO_AUTOMATION_ERROR(job.Field(name, value));
    QString result;
    NO_AUTOMATION_ERROR(result = job.Action(QStringLiteral("Add")));
    QVERIFY2(result.startsWith(u'S'), qPrintable(result));
    QCOMPARE(BoardProcess::fieldsOf(m_board->postings().constFirst()), fields);
}

void TestRemotePostJob::failedPostingReturnsF() {
    RemotePostJob job;
    job.Field(QStringLiteral("BoardFault"), QStringLiteral("failure"));
    QCOMPARE(job.Action(QStringLiteral("Add")), QStringLiteral("F"));
}

void TestRemotePostJob::createsByClassId() {
    const QUuid classId = QUuid::fromString(QLatin1StringView("{512B22CC-7774-43C3-A9A8-E3AB492117C5}"));
    QCOMPARE(RemotePostJob::progIdForClassId(classId), QStringLiteral("OrvexKelPostJob.PostJob"));
    RemotePostJob job(classId);
    QCOMPARE(job.Action(QStringLiteral("Add")), QStringLiteral("S4711"));
}

void TestRemotePostJob::unknownClassIdStartsNothing() {
    try {
        RemotePostJob job(QUuid::createUuid());
        QFAIL("an unknown class identifier created an object");
    } catch (const AutomationError &error) {
        QCOMPARE(error.number(), Orvex::ErrorNumber::ClassNotRegistered);
    }
    try {
        RemotePostJob job(QStringLiteral("OrvexKelPostJob.NoSuchClass"));
        QFAIL("an unknown ProgID created an object");
    } catch (const AutomationError &error) {
        QCOMPARE(error.number(), Orvex::ErrorNumber::ClassNotRegistered);
        QVERIFY2(error.description().contains(QLatin1StringView("OrvexKelPostJob.NoSuchClass")),
                 qPrintable(error.description()));
    }
    QVERIFY(!ServerFixture::isRunning());
}

void TestRemotePostJob::creationErrorComesBackAsAutomationError() {
    QVERIFY(m_server->writeIni("[General]\r\nDebugMode=yes\r\n"));
    try {
        RemotePostJob job;
        QFAIL("creation succeeded with DebugMode=yes");
    } catch (const AutomationError &error) {
        QCOMPARE(error.number(), Orvex::ErrorNumber::TypeMismatch);
        QVERIFY2(error.description().startsWith(QStringLiteral("Type mismatch: DebugMode in [General] of ")),
                 qPrintable(error.description()));
        QVERIFY(!error.source().isEmpty());
    }
    // No object was handed out, so nothing released the server: the test ends it.
    QVERIFY(!ServerFixture::endLeftover());
}

void TestRemotePostJob::destructorReleasesAndServerEnds() {
    QString serverName;
    {
        RemotePostJob job;
        serverName = job.serverName();
        QVERIFY(serverName.startsWith(u':'));
        job.Field(QStringLiteral("JobCode"), QStringLiteral("J1"));
    }
    QVERIFY(ServerFixture::waitUntilGone());
    // The server gives up its name first and leaves once the bus has its last replies.
    QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(serverName));
}

void TestRemotePostJob::callsAfterReleaseFailWithoutTouchingTheBus() {
    RemotePostJob job;
    job.release();
    QVERIFY(job.isReleased());
    QVERIFY(ServerFixture::waitUntilGone());
    job.release(); // twice is harmless
    try {
        job.Action(QStringLiteral("Add"));
        QFAIL("a released object posted");
    } catch (const AutomationError &error) {
        QCOMPARE(error.number(), Orvex::ErrorNumber::ObjectDisconnected);
    }
    QVERIFY(!ServerFixture::isRunning());
}

void TestRemotePostJob::objectMovesToANewServerAfterItsOwnEnded() {
    RemotePostJob first;
    RemotePostJob second;
    QCOMPARE(second.serverName(), first.serverName());
    QVERIFY(second.objectPath() != first.objectPath());
    const QString endedServer = first.serverName();

    first.release();
    QVERIFY(ServerFixture::waitUntilGone());

    // The listing never reached the ended server, so it goes to a new object in a new one.
    second.Field(QStringLiteral("JobCode"), QStringLiteral("J1"));
    QString result;
    NO_AUTOMATION_ERROR(result = second.Action(QStringLiteral("Add")));
    QCOMPARE(result, QStringLiteral("S4711"));
    QVERIFY(second.serverName() != endedServer);
    QCOMPARE(m_board->postings().size(), 1);
}

void TestRemotePostJob::endedListingIsSentAgainOnANewServer() {
    RemotePostJob job;
    // Another client's listing holds the server in a slow exchange while the system closes it: every
    // call that has not run by then is answered Ended, and the exchange finishes first.
    const QString other = ServerFixture::createInstance();
    QVERIFY(!other.isEmpty());
    const QString postJob = QLatin1StringView(ServerFixture::PostJobInterface);
    ServerFixture::call(other, postJob, QStringLiteral("Field"),
                        {QStringLiteral("JobCode"), QStringLiteral("SLOW")});
    ServerFixture::call(other, postJob, QStringLiteral("Field"),
                        {QStringLiteral("BoardFault"), QStringLiteral("delay:1500")});
    QDBusMessage action = QDBusMessage::createMethodCall(QLatin1StringView(ServerFixture::ServiceName), other,
                                                         postJob, QStringLiteral("Action"));
    action << QStringLiteral("Add");
    QDBusPendingCall slow = QDBusConnection::sessionBus().asyncCall(action, 60000);
    QTRY_COMPARE_WITH_TIMEOUT(m_board->postings().size(), 1, 20000);
    ::kill(pid_t(ServerFixture::serverPid()), SIGTERM);

    job.Field(QStringLiteral("JobCode"), QStringLiteral("J2"));
    QString result;
    NO_AUTOMATION_ERROR(result = job.Action(QStringLiteral("Add")));
    QCOMPARE(result, QStringLiteral("S4712"));
    slow.waitForFinished();
    QVERIFY2(!slow.isError(), qPrintable(slow.error().message()));
    QStringList jobCodes;
    for (const QJsonObject &posting : m_board->postings())
        jobCodes.append(BoardProcess::fieldsOf(posting).constFirst().second);
    QCOMPARE(jobCodes, (QStringList{QStringLiteral("SLOW"), QStringLiteral("J2")}));
}

void TestRemotePostJob::refusesTextsTheBusCannotCarry_data() {
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("named");

    const QString nul = QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b");
    QTest::newRow("field name") << QStringLiteral("FieldName") << nul
                                << QStringLiteral("FieldName \"a\\0b\"");
    QTest::newRow("field value") << QStringLiteral("FieldValue") << nul
                                 << QStringLiteral("FieldValue of field \"Title\"");
    QTest::newRow("NUL alone") << QStringLiteral("FieldValue") << QString(QChar(u'\0'))
                               << QStringLiteral("FieldValue of field \"Title\"");
    QTest::newRow("action word") << QStringLiteral("ActionType") << nul
                                 << QStringLiteral("ActionType \"a\\0b\"");
    QTest::newRow("log sub name") << QStringLiteral("SubName") << nul << QStringLiteral("SubName");
    QTest::newRow("log message") << QStringLiteral("Message") << nul << QStringLiteral("Message");
    QTest::newRow("log text value") << QStringLiteral("AnyOther") << nul << QStringLiteral("AnyOther");
}

void TestRemotePostJob::refusesTextsTheBusCannotCarry() {
    QFETCH(QString, member);
    QFETCH(QString, argument);
    QFETCH(QString, named);

    {
        RemotePostJob job;
        try {
            if (member == QLatin1StringView("FieldName"))
                job.Field(argument, QStringLiteral("v"));
            else if (member == QLatin1StringView("FieldValue"))
                job.Field(QStringLiteral("Title"), argument);
            else if (member == QLatin1StringView("ActionType"))
                job.Action(argument);
            else if (member == QLatin1StringView("SubName"))
                job.WriteLog(argument);
            else if (member == QLatin1StringView("Message"))
                job.WriteLog(QStringLiteral("Sub"), argument);
            else
                job.WriteLog(QStringLiteral("Sub"), QStringLiteral("Msg"), Variant(argument));
            QFAIL("a text holding U+0000 was taken");
        } catch (const AutomationError &error) {
            QCOMPARE(error.number(), Orvex::ErrorNumber::InvalidProcedureCall);
            QVERIFY2(error.description().startsWith(named + QStringLiteral(" holds U+0000")),
                     qPrintable(error.description()));
        }
    }
    QVERIFY(ServerFixture::waitUntilGone());
    QVERIFY(m_board->postings().isEmpty());
    QCOMPARE(m_server->logText(), QByteArray());
}

void TestRemotePostJob::writeLogCarriesAnyOther_data() {
    QTest::addColumn<Variant>("anyOther");
    QTest::addColumn<QByteArray>("recordEnd");

    QTest::newRow("text") << Variant(QStringLiteral("a,b")) << QByteArray(R"(,"Sub","Msg","a,b")");
    QTest::newRow("empty ends with a bare comma") << Variant() << QByteArray(R"(,"Sub","Msg",)");
    QTest::newRow("null") << Variant::null() << QByteArray(R"(,"Sub","Msg",#NULL#)");
    QTest::newRow("boolean") << Variant::fromBool(true) << QByteArray(R"(,"Sub","Msg",#TRUE#)");
    QTest::newRow("byte") << Variant::fromByte(200) << QByteArray(R"(,"Sub","Msg",200)");
    QTest::newRow("int16") << Variant::fromInt16(-5) << QByteArray(R"(,"Sub","Msg",-5)");
    QTest::newRow("int32") << Variant::fromInt32(5) << QByteArray(R"(,"Sub","Msg",5)");
    QTest::newRow("int64") << Variant::fromInt64(-9000000000LL) << QByteArray(R"(,"Sub","Msg",-9000000000)");
    QTest::newRow("single") << Variant::fromSingle(1.5F) << QByteArray(R"(,"Sub","Msg",1.5)");
    QTest::newRow("double") << Variant::fromDouble(-2.25) << QByteArray(R"(,"Sub","Msg",-2.25)");
    QTest::newRow("currency") << Variant::fromCurrency(125000) << QByteArray(R"(,"Sub","Msg",12.5)");
    QTest::newRow("date and time") << Variant::fromDate(QDate(2010, 1, 19), QTime(15, 7, 45))
                                   << QByteArray(R"(,"Sub","Msg",#2010-01-19 15:07:45#)");
    QTest::newRow("date only") << Variant::fromDate(QDate(2010, 1, 19), QTime())
                               << QByteArray(R"(,"Sub","Msg",#2010-01-19#)");
    QTest::newRow("time on the zero date")
        << Variant::fromDate(QDate(), QTime(15, 7, 45)) << QByteArray(R"(,"Sub","Msg",#15:07:45#)");
    QTest::newRow("error value") << Variant::fromError(7) << QByteArray(R"(,"Sub","Msg",#ERROR 7#)");
}

void TestRemotePostJob::writeLogCarriesAnyOther() {
    QFETCH(Variant, anyOther);
    QFETCH(QByteArray, recordEnd);

    {
        RemotePostJob job;
        job.WriteLog(QStringLiteral("Sub"), QStringLiteral("Msg"), anyOther);
        job.WriteLog(QStringLiteral("Second"));
    }
    QVERIFY(ServerFixture::waitUntilGone());
    const QList<QByteArray> lines = m_server->logText().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).endsWith(recordEnd + '\r'), lines.at(0).constData());
    QVERIFY2(lines.at(1).endsWith(R"(,"Second","","")" + QByteArray("\r")), lines.at(1).constData());
}

QTEST_GUILESS_MAIN(TestRemotePostJob)
#include "tst_remotepostjob.moc"
