#include "boardandserver.h"
#include "exchangelimits.h"
#include "remoteerror.h"
#include "remotepostjob.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <limits>
#include <optional>

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
    void actionWithOutcomeSaysWhy_data();
    void actionWithOutcomeSaysWhy();
    void listingLostOnAKeptConnectionIsUnknown();
    void createsByClassId();
    void unknownClassIdStartsNothing();
    void creationErrorComesBackAsAutomationError();
    void destructorReleasesAndServerEnds();
    void callsAfterReleaseFailWithoutTouchingTheBus();
    void objectMovesToANewServerAfterItsOwnEnded();
    void whileTheServerEnds_data();
    void whileTheServerEnds();
    void listingNoServerRanIsSentABoundedNumberOfTimes();
    void lostListingIsSettledByTheJournal_data();
    void lostListingIsSettledByTheJournal();
    void refusesTextsTheBusCannotCarry_data();
    void refusesTextsTheBusCannotCarry();
    void writeLogCarriesAnyOther_data();
    void writeLogCarriesAnyOther();

private:
    // The next server the bus starts is the stand-in, in mode; then runs as the real one if realAfter.
    bool startFakeServers(const QString &mode, bool realAfter,
                          const QString &journal = QStringLiteral("journal"));
    QStringList fakeServerCalls() const;
    // Another client's listing holds the server in a slow exchange while the system closes it, so every
    // call that has not run by then is answered Ended; the exchange's call is returned.
    QDBusPendingCall holdAndEndTheServer();

    BoardAndServer m_session;
    QTemporaryDir m_fakeFolder;
};

void TestRemotePostJob::init() {
    QString error;
    QVERIFY2(m_session.start(&error), qPrintable(error));
    QVERIFY(!ServerFixture::isRunning());
}

void TestRemotePostJob::cleanup() {
    QVERIFY2(m_session.end(), "the test left its server running");
}

void TestRemotePostJob::postsListingAndReturnsJobId() {
    RemotePostJob job;
    QVERIFY(ServerFixture::isRunning());
    QCOMPARE(job.Field(QStringLiteral("JobCode"), QStringLiteral("J1")), QString());
    job.Field(QStringLiteral("Title"), QStringLiteral("R&D <lead>"));
    QCOMPARE(job.Action(QStringLiteral("Add")), QStringLiteral("S4711"));

    const QList<QJsonObject> postings = m_session.board().postings();
    QCOMPARE(postings.size(), 1);
    QCOMPARE(postings.first().value(QStringLiteral("action")).toString(), QStringLiteral("Add"));
    const QList<std::pair<QString, QString>> expected{
        {QStringLiteral("JobCode"), QStringLiteral("J1")},
        {QStringLiteral("Title"), QStringLiteral("R&D <lead>")}};
    QCOMPARE(BoardProcess::fieldsOf(postings.first()), expected);

    // A second listing on the same object starts a fresh document.
    job.Field(QStringLiteral("JobCode"), QStringLiteral("J2"));
    QCOMPARE(job.Action(QStringLiteral("Add")), QStringLiteral("S4712"));
    QCOMPARE(BoardProcess::fieldsOf(m_session.board().postings().at(1)).size(), 1);
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
    QCOMPARE(BoardProcess::fieldsOf(m_session.board().postings().constFirst()), fields);
}

void TestRemotePostJob::failedPostingReturnsF() {
    RemotePostJob job;
    job.Field(QStringLiteral("BoardFault"), QStringLiteral("failure"));
    QCOMPARE(job.Action(QStringLiteral("Add")), QStringLiteral("F"));
}

void TestRemotePostJob::actionWithOutcomeSaysWhy_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("httpStatus");

    QTest::newRow("posted") << QString() << QStringLiteral("S4711") << 200;
    QTest::newRow("status 500") << QStringLiteral("status:500:success=1") << QStringLiteral("F") << 500;
    QTest::newRow("refused by the board") << QStringLiteral("failure") << QStringLiteral("F") << 200;
}

void TestRemotePostJob::actionWithOutcomeSaysWhy() {
    QFETCH(QString, fault);
    QFETCH(QString, result);
    QFETCH(int, httpStatus);

    RemotePostJob job;
    job.Field(QStringLiteral("BoardFault"), fault);
    Orvex::PostingOutcome outcome;
    NO_AUTOMATION_ERROR(outcome = job.ActionWithOutcome(QStringLiteral("Add")));
    QCOMPARE(outcome.resultCode, result);
    QCOMPARE(outcome.httpStatus, httpStatus);
    QCOMPARE(outcome.errorNumber, 0);
    QCOMPARE(outcome.errorDescription, QString());
}

void TestRemotePostJob::listingLostOnAKeptConnectionIsUnknown() {
    // The board answers the first listing on a connection, takes the second and closes without a word.
    QVERIFY(m_session.end());
    QString error;
    QVERIFY2(m_session.start(&error, {QStringLiteral("--drop-after"), QStringLiteral("1")}),
             qPrintable(error));
    QVERIFY(m_session.server().writeIni("[General]\r\nReuseConnection=1\r\n"));

    RemotePostJob job;
    job.Field(QStringLiteral("JobCode"), QStringLiteral("J1"));
    QCOMPARE(job.Action(QStringLiteral("Add")), QStringLiteral("S4711"));
    job.Field(QStringLiteral("JobCode"), QStringLiteral("J2"));
    try {
        job.Action(QStringLiteral("Add"));
        QFAIL("a listing the board may hold came back as a plain result");
    } catch (const AutomationError &lost) {
        QCOMPARE(lost.number(), Orvex::ErrorNumber::OutcomeUnknown);
    }
    // Taken once, and not sent again.
    QCOMPARE(m_session.board().postings().size(), 2);
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
    QVERIFY(m_session.server().writeIni("[General]\r\nDebugMode=yes\r\n"));
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
    QCOMPARE(m_session.board().postings().size(), 1);
}

QDBusPendingCall TestRemotePostJob::holdAndEndTheServer() {
    const QString other = ServerFixture::createInstance();
    const QString postJob = QLatin1StringView(ServerFixture::PostJobInterface);
    ServerFixture::call(other, postJob, QStringLiteral("Field"),
                        {QStringLiteral("JobCode"), QStringLiteral("SLOW")});
    ServerFixture::call(other, postJob, QStringLiteral("Field"),
                        {QStringLiteral("BoardFault"), QStringLiteral("delay:1500")});
    QDBusMessage action = QDBusMessage::createMethodCall(QLatin1StringView(ServerFixture::ServiceName), other,
                                                         postJob, QStringLiteral("Action"));
    action << QStringLiteral("Add");
    QDBusPendingCall slow = QDBusConnection::sessionBus().asyncCall(action, 60000);
    if (!QTest::qWaitFor([&] { return m_session.board().postings().size() == 1; }, 20000))
        return slow;
    ServerFixture::signalServer(SIGTERM); // the caller sees whether the server ended
    // Once a call is answered Ended, the server is ending; a test that goes on without finds out.
    (void)QTest::qWaitFor(
        [&] {
            return ServerFixture::call(other, postJob, QStringLiteral("WriteLog"), {QStringLiteral("Probe")})
                       .errorName() == Orvex::errorName(Orvex::ErrorNumber::Ended);
        },
        5000);
    return slow;
}

void TestRemotePostJob::whileTheServerEnds_data() {
    QTest::addColumn<QString>("call");

    // Creation refused Ended is made again on the next server.
    QTest::newRow("creation") << QStringLiteral("creation");
    // The object is gone with its server: nothing to report.
    QTest::newRow("release") << QStringLiteral("release");
    // A listing answered Ended never ran: it goes to a new object in a new server.
    QTest::newRow("action") << QStringLiteral("action");
}

void TestRemotePostJob::whileTheServerEnds() {
    QFETCH(QString, call);

    std::optional<RemotePostJob> job;
    if (call != u"creation")
        job.emplace();
    const uint endingPid = ServerFixture::serverPid();
    QDBusPendingCall slow = holdAndEndTheServer();

    if (call == u"creation") {
        NO_AUTOMATION_ERROR(job.emplace());
        QVERIFY(ServerFixture::serverPid() != endingPid);
    } else if (call == u"release") {
        NO_AUTOMATION_ERROR(job->release());
        QVERIFY(job->isReleased());
    }
    if (call != u"release") {
        job->Field(QStringLiteral("JobCode"), QStringLiteral("J2"));
        QString result;
        NO_AUTOMATION_ERROR(result = job->Action(QStringLiteral("Add")));
        QCOMPARE(result, QStringLiteral("S4712"));
    }
    slow.waitForFinished();
    QVERIFY2(!slow.isError(), qPrintable(slow.error().message()));
    QStringList jobCodes;
    for (const QJsonObject &posting : m_session.board().postings())
        jobCodes.append(BoardProcess::fieldsOf(posting).constFirst().second);
    const QStringList expected = call == u"release"
                                     ? QStringList{QStringLiteral("SLOW")}
                                     : QStringList{QStringLiteral("SLOW"), QStringLiteral("J2")};
    QCOMPARE(jobCodes, expected);
}

bool TestRemotePostJob::startFakeServers(const QString &mode, bool realAfter, const QString &journal) {
    const QString real = QDir(m_session.server().programFolder()).filePath(QStringLiteral("OrvexKelPostJob"));
    QFile::remove(m_fakeFolder.filePath(QStringLiteral("calls")));
    // A fresh journal folder for each run; "missing/..." stays missing, a journal the server cannot write.
    QDir(m_fakeFolder.filePath(QStringLiteral("journal"))).removeRecursively();
    if (!journal.startsWith(QLatin1StringView("missing")))
        QDir(m_fakeFolder.path()).mkdir(journal, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return m_fakeFolder.isValid() &&
           ServerFixture::setActivationVariable(QStringLiteral("ORVEX_FAKE_MODE"), mode) &&
           ServerFixture::setActivationVariable(QStringLiteral("ORVEX_FAKE_RECORD"),
                                                m_fakeFolder.filePath(QStringLiteral("calls"))) &&
           ServerFixture::setActivationVariable(QStringLiteral("ORVEX_FAKE_JOURNAL"),
                                                m_fakeFolder.filePath(journal)) &&
           ServerFixture::setActivationVariable(QStringLiteral("ORVEX_FAKE_THEN"),
                                                realAfter ? real : QString()) &&
           ServerFixture::setActivationVariable(QStringLiteral("ORVEX_TEST_SERVER"),
                                                QStringLiteral(ORVEX_FAKE_SERVER_EXECUTABLE));
}

QStringList TestRemotePostJob::fakeServerCalls() const {
    QFile file(m_fakeFolder.filePath(QStringLiteral("calls")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// The bound keeps a server that ends before every call from having the client start servers without end.
void TestRemotePostJob::listingNoServerRanIsSentABoundedNumberOfTimes() {
    QVERIFY(startFakeServers(QStringLiteral("ended"), false));
    RemotePostJob job;
    try {
        job.Action(QStringLiteral("Add"));
        QFAIL("a listing no server ran was reported as posted");
    } catch (const AutomationError &error) {
        QCOMPARE(error.number(), Orvex::ErrorNumber::Ended);
    }
    QCOMPARE(fakeServerCalls().count(QStringLiteral("PostToBoard")), Orvex::ExchangeLimits::MostSends);
}

void TestRemotePostJob::lostListingIsSettledByTheJournal_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("journal");
    QTest::addColumn<QString>("result"); // empty: the outcome stays unknown
    QTest::addColumn<int>("httpStatus");

    const QString journal = QStringLiteral("journal");
    // The server died before running it, as one that ends leaves the call of its last round trip.
    QTest::newRow("no start line: sent again")
        << QStringLiteral("vanish") << journal << QStringLiteral("S4711") << 200;
    QTest::newRow("start line alone: unknown")
        << QStringLiteral("vanish-after-start") << journal << QString() << 0;
    // Only the reply was lost: the journal knows what the call came to.
    QTest::newRow("end line: its outcome")
        << QStringLiteral("vanish-after-end") << journal << QStringLiteral("F") << 503;
    // A journal the server could not write proves nothing.
    QTest::newRow("no journal at all: unknown")
        << QStringLiteral("vanish") << QStringLiteral("missing/journal") << QString() << 0;
}

void TestRemotePostJob::lostListingIsSettledByTheJournal() {
    QFETCH(QString, mode);
    QFETCH(QString, journal);
    QFETCH(QString, result);
    QFETCH(int, httpStatus);

    QVERIFY(startFakeServers(mode, true, journal));
    RemotePostJob job;
    job.Field(QStringLiteral("JobCode"), QStringLiteral("J1"));
    try {
        const Orvex::PostingOutcome outcome = job.ActionWithOutcome(QStringLiteral("Add"));
        QCOMPARE(outcome.resultCode, result);
        QCOMPARE(outcome.httpStatus, httpStatus);
    } catch (const AutomationError &error) {
        QVERIFY2(result.isEmpty(), qPrintable(Orvex::describeError(error)));
        QCOMPARE(error.number(), Orvex::ErrorNumber::OutcomeUnknown);
    }
    QCOMPARE(fakeServerCalls().count(QStringLiteral("PostToBoard")), 1);
    // Only a listing sent again reaches the board, once.
    QCOMPARE(m_session.board().postings().size(), result.startsWith(u'S') ? 1 : 0);
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
    // The document would not be well-formed: refused before anything is sent, naming the field.
    QTest::newRow("field name not an XML name")
        << QStringLiteral("FieldName") << QStringLiteral("Job Code")
        << QStringLiteral("FieldName \"Job Code\" is not an XML name");
    QTest::newRow("empty field name")
        << QStringLiteral("FieldName") << QString() << QStringLiteral("FieldName \"\" is empty");
    QTest::newRow("control in a value") << QStringLiteral("FieldValue") << QStringLiteral("a\x1b]0;x")
                                        << QStringLiteral("FieldValue of field \"Title\" holds U+001B");
    QTest::newRow("U+FFFF in the action word") << QStringLiteral("ActionType") << QStringLiteral("Add\uffff")
                                               << QStringLiteral("ActionType \"Add\uffff\" holds U+FFFF");
    // The server writes the action word as given: markup in it would add elements the journal never sees.
    QTest::newRow("markup in the action word")
        << QStringLiteral("ActionType") << QStringLiteral("Add</Action><JobCode>INJ2</JobCode><Action>Add")
        << QStringLiteral("ActionType \"Add</Action><JobCode>INJ2</JobCode><Action>Add\" holds \"<\"");
    QTest::newRow("entity in the action word") << QStringLiteral("ActionType") << QStringLiteral("Add&amp;")
                                               << QStringLiteral("ActionType \"Add&amp;\" holds \"&\"");
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
            QFAIL("a text that cannot be sent was taken");
        } catch (const AutomationError &error) {
            QCOMPARE(error.number(), Orvex::ErrorNumber::InvalidProcedureCall);
            const QString expected =
                argument.contains(QChar(u'\0')) ? named + QStringLiteral(" holds U+0000") : named;
            QVERIFY2(error.description().startsWith(expected), qPrintable(error.description()));
        }
    }
    QVERIFY(ServerFixture::waitUntilGone());
    QVERIFY(m_session.board().postings().isEmpty());
    QCOMPARE(m_session.server().logText(), QByteArray());
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
    QTest::newRow("single plus infinity") << Variant::fromSingle(std::numeric_limits<float>::infinity())
                                          << QByteArray(R"(,"Sub","Msg",Infinity)");
    QTest::newRow("single minus infinity") << Variant::fromSingle(-std::numeric_limits<float>::infinity())
                                           << QByteArray(R"(,"Sub","Msg",-Infinity)");
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
    const QList<QByteArray> lines = m_session.server().logText().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).endsWith(recordEnd + '\r'), lines.at(0).constData());
    QVERIFY2(lines.at(1).endsWith(R"(,"Second","","")" + QByteArray("\r")), lines.at(1).constData());
}

QTEST_GUILESS_MAIN(TestRemotePostJob)
#include "tst_remotepostjob.moc"
