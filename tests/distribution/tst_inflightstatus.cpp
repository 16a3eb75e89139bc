#include "inflightstatus.h"
#include "statusview.h"

#include <QTest>

class TestInFlightStatus : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsWhatIsInFlightNeverWhatIsOver_data();
    void showsWhatIsInFlightNeverWhatIsOver();
};

void TestInFlightStatus::showsWhatIsInFlightNeverWhatIsOver_data() {
    // Each event: "+board" starts a posting, "-board:JobCode" finishes one; "~+JobCode" starts a serial
    // exchange (to the default board), "~-JobCode" ends it with the board's reply, "~!JobCode" without.
    QTest::addColumn<QString>("events"); // separated by spaces
    QTest::addColumn<QString>("text");

    QTest::newRow("two boards in the order they started")
        << QStringLiteral("+paris +default +paris") << QStringLiteral("Posting 3: paris 2, default 1");
    QTest::newRow("a finished posting leaves the count and names itself")
        << QStringLiteral("+paris +default -paris:J7")
        << QStringLiteral("Posting 1: default 1\r\nPosted J7 (paris)");
    QTest::newRow("none in flight: no Posting line is left")
        << QStringLiteral("+paris +paris -paris:J1 -paris:J2") << QStringLiteral("Posted J2 (paris)");
    QTest::newRow("a board with none left is no longer named")
        << QStringLiteral("+a +b -a:J1 +b") << QStringLiteral("Posting 2: b 2\r\nPosted J1 (a)");
    QTest::newRow("a serial exchange alone shows its own two lines")
        << QStringLiteral("~+J1 ~-J1") << QStringLiteral("Posting J1\r\nPosted J1");
    QTest::newRow("a serial exchange counts among those in flight")
        << QStringLiteral("~+J1 +paris -paris:J7")
        << QStringLiteral("Posting 1: default 1\r\nPosted J7 (paris)");
    QTest::newRow("no Posting line is left behind a concurrent posting over")
        << QStringLiteral("+paris ~+J1 -paris:J7 ~-J1") << QStringLiteral("Posting J1\r\nPosted J1");
    QTest::newRow("serial exchanges of two objects side by side: the last alone shows its lines")
        << QStringLiteral("~+J1 ~+J2 ~-J1 ~-J2") << QStringLiteral("Posting J2\r\nPosted J2");
    QTest::newRow("a serial exchange over beside another names itself, never the other's lines")
        << QStringLiteral("~+J1 ~+J2 ~-J2") << QStringLiteral("Posting 1: default 1\r\nPosted J2 (default)");
    QTest::newRow("a serial exchange over while a concurrent one runs")
        << QStringLiteral("~+J1 +paris ~!J1") << QStringLiteral("Posting 1: paris 1\r\nPosted J1 (default)");
}

void TestInFlightStatus::showsWhatIsInFlightNeverWhatIsOver() {
    QFETCH(QString, events);
    QFETCH(QString, text);
    Orvex::StatusText window;
    Orvex::InFlightStatus status(window);
    Orvex::InFlightView serial(status, QStringLiteral("default"));
    for (const QString &event : events.split(u' ')) {
        if (event.startsWith(u"~+"))
            serial.exchangeStarted(event.mid(2));
        else if (event.startsWith(u'~'))
            serial.exchangeEnded(event.mid(2), event[1] == u'-');
        else if (event.startsWith(u'+'))
            status.started(event.mid(1));
        else
            status.finished(event.mid(1).section(u':', 0, 0), event.section(u':', 1));
    }
    QCOMPARE(window.statusText(), text);
}

QTEST_MAIN(TestInFlightStatus)
#include "tst_inflightstatus.moc"
