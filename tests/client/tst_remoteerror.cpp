#include "remoteerror.h"

#include "buswire.h"

#include <QDBusMessage>
#include <QTest>

using Orvex::AutomationError;
using Orvex::CallStage;

Q_DECLARE_METATYPE(Orvex::CallOutcome)

namespace {

QDBusError busError(const QString &name, const QString &message) {
    return QDBusError(QDBusMessage::createError(name, message));
}

} // namespace

class TestRemoteError : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsTheServersError_data();
    void readsTheServersError();
    void mapsTheBusOwnErrors_data();
    void mapsTheBusOwnErrors();
    void tellsWhetherTheCallMayHaveRun_data();
    void tellsWhetherTheCallMayHaveRun();
    void describesForPeople_data();
    void describesForPeople();
    void boardMayHoldTheListing();
};

void TestRemoteError::readsTheServersError_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<qint32>("number");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("description");

    QTest::newRow("runtime error") << QStringLiteral("Type mismatch (13) [source: OrvexKelPostJob]") << 13
                                   << QStringLiteral("OrvexKelPostJob") << QStringLiteral("Type mismatch");
    QTest::newRow("negative number") << QStringLiteral(
                                            "Bad variable type (-2147352568) [source: OrvexKelPostJob]")
                                     << -2147352568 << QStringLiteral("OrvexKelPostJob")
                                     << QStringLiteral("Bad variable type");
    QTest::newRow("brackets and parentheses inside the description")
        << QStringLiteral("Cannot read (x) [source: y] here (5) [source: a [b]]") << 5
        << QStringLiteral("a [b]") << QStringLiteral("Cannot read (x) [source: y] here");
    QTest::newRow("empty description and source")
        << QStringLiteral(" (6) [source: ]") << 6 << QString() << QString();
}

void TestRemoteError::readsTheServersError() {
    QFETCH(QString, message);
    QFETCH(qint32, number);
    QFETCH(QString, source);
    QFETCH(QString, description);

    const AutomationError error = Orvex::fromBusError(
        busError(QStringLiteral("OrvexKelPostJob.Error.Any"), message), CallStage::ObjectCall);
    QCOMPARE(error.number(), number);
    QCOMPARE(error.source(), source);
    QCOMPARE(error.description(), description);
}

void TestRemoteError::mapsTheBusOwnErrors_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("stage");
    QTest::addColumn<quint32>("number");
    QTest::addColumn<bool>("serverGone");

    const int creation = int(CallStage::Creation);
    const int objectCall = int(CallStage::ObjectCall);
    QTest::newRow("no such service at creation")
        << QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") << creation << 0x80040154U << true;
    QTest::newRow("server gone after creation")
        << QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") << objectCall << 0x800706BAU << true;
    QTest::newRow("server left without replying")
        << QStringLiteral("org.freedesktop.DBus.Error.NoReply") << objectCall << 0x800706BEU << true;
    QTest::newRow("server failed to start")
        << QStringLiteral("org.freedesktop.DBus.Error.Spawn.ChildExited") << creation << 0x80080005U << false;
    QTest::newRow("unknown object") << QStringLiteral("org.freedesktop.DBus.Error.UnknownObject")
                                    << objectCall << 0x80004005U << false;
    QTest::newRow("server error without its number")
        << QStringLiteral("OrvexKelPostJob.Error.Odd") << objectCall << 0x80004005U << false;
}

void TestRemoteError::mapsTheBusOwnErrors() {
    QFETCH(QString, name);
    QFETCH(int, stage);
    QFETCH(quint32, number);
    QFETCH(bool, serverGone);

    const QDBusError error = busError(name, QStringLiteral("what the bus said"));
    const AutomationError mapped = Orvex::fromBusError(error, CallStage(stage));
    QCOMPARE(quint32(mapped.number()), number);
    QCOMPARE(mapped.source(), name);
    QCOMPARE(mapped.description(), QStringLiteral("what the bus said"));
    QCOMPARE(Orvex::isServerGone(error), serverGone);
}

void TestRemoteError::tellsWhetherTheCallMayHaveRun_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<Orvex::CallOutcome>("outcome");

    using Orvex::CallOutcome;
    QTest::newRow("server ended before the call ran")
        << QStringLiteral("OrvexKelPostJob.Error.Ended") << CallOutcome::NotDelivered;
    QTest::newRow("server gone") << QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown")
                                 << CallOutcome::NotDelivered;
    QTest::newRow("unique name gone")
        << QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner") << CallOutcome::NotDelivered;
    QTest::newRow("object gone") << QStringLiteral("org.freedesktop.DBus.Error.UnknownObject")
                                 << CallOutcome::NotDelivered;
    QTest::newRow("server's own error")
        << QStringLiteral("OrvexKelPostJob.Error.Overflow") << CallOutcome::Failed;
    QTest::newRow("refused by the bus")
        << QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod") << CallOutcome::Failed;
    QTest::newRow("server died holding the call")
        << QStringLiteral("org.freedesktop.DBus.Error.NoReply") << CallOutcome::Unknown;
    QTest::newRow("own connection lost")
        << QStringLiteral("org.freedesktop.DBus.Error.Disconnected") << CallOutcome::Unknown;
    QTest::newRow("timed out") << QStringLiteral("org.freedesktop.DBus.Error.Timeout")
                               << CallOutcome::Unknown;
    QTest::newRow("an error no one knows") << QStringLiteral("org.example.Odd") << CallOutcome::Unknown;
    QTest::newRow("the board may hold the listing")
        << Orvex::errorName(Orvex::ErrorNumber::ClosedAfterSending) << CallOutcome::Unknown;
}

void TestRemoteError::tellsWhetherTheCallMayHaveRun() {
    QFETCH(QString, name);
    QFETCH(Orvex::CallOutcome, outcome);
    QCOMPARE(Orvex::callOutcome(busError(name, QStringLiteral("said"))), outcome);
}

void TestRemoteError::describesForPeople_data() {
    QTest::addColumn<qint32>("number");
    QTest::addColumn<QString>("text");

    QTest::newRow("runtime number in decimal") << 13 << QStringLiteral("Type mismatch (13) [src]");
    QTest::newRow("HRESULT in hexadecimal")
        << qint32(0x80040154) << QStringLiteral("Type mismatch (0x80040154) [src]");
    QTest::newRow("small negative in decimal") << -1 << QStringLiteral("Type mismatch (-1) [src]");
}

void TestRemoteError::describesForPeople() {
    QFETCH(qint32, number);
    QFETCH(QString, text);
    QCOMPARE(
        Orvex::describeError(AutomationError(number, QStringLiteral("src"), QStringLiteral("Type mismatch"))),
        text);
}

void TestRemoteError::boardMayHoldTheListing() {
    const AutomationError posting(
        Orvex::ErrorNumber::ClosedAfterSending, QStringLiteral("Http"),
        AutomationError::runtimeDescription(Orvex::ErrorNumber::ClosedAfterSending));
    const QDBusError error =
        busError(Orvex::errorName(posting.number()), Orvex::BusWire::errorMessage(posting));
    const AutomationError reported = Orvex::outcomeUnknown(error);
    QCOMPARE(reported.number(), Orvex::ErrorNumber::OutcomeUnknown);
    QCOMPARE(reported.source(), posting.source());
    QCOMPARE(reported.description(), posting.description());
    QVERIFY(!Orvex::leavesBoardOutcomeUnknown(Orvex::ErrorNumber::ConnectionReset));
}

QTEST_GUILESS_MAIN(TestRemoteError)
#include "tst_remoteerror.moc"
