#include "activitylog.h"

#include <QTest>

using Orvex::LoggedPosting;

namespace {

// Physical lines of a log file, each ended by CR LF as the component writes them.
QString logText(std::initializer_list<const char *> lines) {
    QString text;
    for (const char *line : lines)
        text += QString::fromUtf8(line) + QStringLiteral("\r\n");
    return text;
}

QString describe(const LoggedPosting &posting) {
    QString result = posting.resultCode;
    if (posting.outcome == LoggedPosting::Outcome::Unknown)
        result = QStringLiteral("unknown");
    else if (posting.outcome == LoggedPosting::Outcome::Error)
        result += QStringLiteral(" %1 (%2)").arg(posting.errorDescription).arg(posting.errorNumber);
    return QStringList{posting.time.toString(u"HH:mm:ss"), posting.action, posting.jobCode, result}.join(
        u' ');
}

} // namespace

class TestActivityLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pairsOutcomesWithActions_data();
    void pairsOutcomesWithActions();
};

void TestActivityLog::pairsOutcomesWithActions_data() {
    QTest::addColumn<QString>("log");
    QTest::addColumn<QStringList>("postings");

    QTest::newRow("S with the job id of the reply")
        << logText({R"("1/19/2010 3:07:45 PM","Add","J-1001","")",
                    R"("1/19/2010 3:07:46 PM","Server Response","success=1&jobid=4711",")", R"(")"})
        << QStringList{QStringLiteral("15:07:45 Add J-1001 S4711")};
    QTest::newRow("F with the error's number")
        << logText({R"("1/19/2010 9:05:00 AM","Add","J-1","")",
                    R"("1/19/2010 9:05:01 AM","Error","Could not resolve host: a, "b"","-2147012889)",
                    R"(")"})
        << QStringList{QStringLiteral("09:05:00 Add J-1 F Could not resolve host: a, \"b\" (-2147012889)")};
    // A server that died mid-exchange leaves its action unanswered; the next posting is not shifted onto it.
    QTest::newRow("unknown without an outcome")
        << logText({R"("1/19/2010 12:00:05 PM","Add","J-1","")", R"("1/19/2010 12:10:00 PM","Add","J-2","")",
                    R"("1/19/2010 12:10:01 PM","Server Response","success=1&jobid=8",")", R"(")"})
        << QStringList{QStringLiteral("12:00:05 Add J-1 unknown"), QStringLiteral("12:10:00 Add J-2 S8")};
    QTest::newRow("two clients interleaved, client records between")
        << logText({R"("1/19/2010 10:00:00 AM","Add","J-A","")", R"("1/19/2010 10:00:01 AM","Add","J-B","")",
                    R"("1/19/2010 10:00:02 AM","Script","half way",42)",
                    R"("1/19/2010 10:00:02 AM","Server Response","not a reply","x")",
                    R"("1/19/2010 10:00:03 AM","Error","Operation timed out","-2147012894)", R"(")",
                    R"("1/19/2010 10:00:04 AM","Server Response","success=1&jobid=1",")", R"(")"})
        << QStringList{QStringLiteral("10:00:00 Add J-A S1"),
                       QStringLiteral("10:00:01 Add J-B F Operation timed out (-2147012894)")};
    QTest::newRow("reply over several lines, then a record at midnight")
        << logText({R"("1/19/2010 11:59:59 PM","Add","J-1","")",
                    R"("1/19/2010 11:59:59 PM","Server Response","success=1&note="a","b")",
                    R"("1/19/2010 4:00:00 PM" in the reply&jobid=5",")", R"(")",
                    R"("1/20/2010","Update","J-2","")",
                    R"("1/20/2010","Server Response","success=1&jobid=6",")", R"(")"})
        << QStringList{QStringLiteral("23:59:59 Add J-1 S5"), QStringLiteral("00:00:00 Update J-2 S")};
    QTest::newRow("error after the reply fails the posting")
        << logText({R"("1/19/2010 1:00:00 AM","Add","J-1","")",
                    R"("1/19/2010 1:00:01 AM","Server Response","success=1&jobid=3",")", R"(")",
                    R"("1/19/2010 1:00:01 AM","Error","Out of memory","7)", R"(")"})
        << QStringList{QStringLiteral("01:00:00 Add J-1 F Out of memory (7)")};
}

void TestActivityLog::pairsOutcomesWithActions() {
    QFETCH(QString, log);
    QFETCH(QStringList, postings);

    const Orvex::ActivityLog activityLog(log);
    QStringList described;
    for (const LoggedPosting &posting : activityLog.postings())
        described.append(describe(posting));
    QCOMPARE(described, postings);
}

QTEST_GUILESS_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
