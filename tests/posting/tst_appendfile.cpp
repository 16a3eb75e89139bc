#include "appendfile.h"
#include "filesizelimit.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

class TestAppendFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void appendsAndCreates();
    void recordGoesInWholeOrNotAtAll_data();
    void recordGoesInWholeOrNotAtAll();
    void processesNeverTearRecords();
};

void TestAppendFile::appendsAndCreates() {
    QTemporaryDir folder;
    const QString path = folder.path() + u"\\sub\\..\\log.txt"_s;
    QVERIFY(!Orvex::appendToFile(path, "a")); // the folder "sub" does not exist
    QVERIFY(Orvex::appendToFile(folder.path() + u"\\log.txt"_s, "first\r\n"));
    QVERIFY(Orvex::appendToFile(folder.path() + u"/log.txt"_s, "second\r\n"));
    QFile file(folder.filePath(u"log.txt"_s));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "first\r\nsecond\r\n");
    QCOMPARE(file.permissions() & QFileDevice::WriteOther, QFileDevice::Permissions());
}

void TestAppendFile::recordGoesInWholeOrNotAtAll_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("written");

    const QByteArray earlier("earlier record\r\n");
    const int whole = int(earlier.size() + 10); // the record below is 10 bytes
    QTest::newRow("fits to the byte") << earlier << whole << true;
    QTest::newRow("one byte short is taken back") << earlier << whole - 1 << false;
    QTest::newRow("all but one byte short") << earlier << int(earlier.size()) + 1 << false;
    QTest::newRow("file already at the limit") << earlier << int(earlier.size()) << false;
    QTest::newRow("new file, limit below the record") << QByteArray() << 4 << false;
}

void TestAppendFile::recordGoesInWholeOrNotAtAll() {
    QFETCH(QByteArray, before);
    QFETCH(int, limit);
    QFETCH(bool, written);

    QTemporaryDir folder;
    QFile file(folder.filePath(u"log.txt"_s));
    if (!before.isEmpty()) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(before), before.size());
        file.close();
    }
    const QByteArray record("record\r\n\r\n");
    {
        const FileSizeLimit fileSize{rlim_t(limit)};
        QVERIFY(fileSize.isActive());
        QCOMPARE(Orvex::appendToFile(file.fileName(), record), written);
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), written ? before + record : before);
}

void TestAppendFile::processesNeverTearRecords() {
    constexpr int Writers = 8;
    constexpr int RecordsEach = 5000;
    QTemporaryDir folder;
    const QString logFile = folder.path() + u"\\OrvexKelPostJobs 2010-01-19.log"_s;

    std::vector<std::unique_ptr<QProcess>> writers;
    for (int writer = 0; writer < Writers; ++writer) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(ORVEX_LOGWRITER_EXECUTABLE),
                       {logFile, QString::number(writer), QString::number(RecordsEach)});
        writers.push_back(std::move(process));
    }
    for (const auto &process : writers) {
        QVERIFY2(process->waitForFinished(120000), qPrintable(process->errorString()));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
    }

    QFile file(folder.filePath(u"OrvexKelPostJobs 2010-01-19.log"_s));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    const QString payload(700, u'x');
    const QRegularExpression record(
        uR"re(\A"\d{1,2}/\d{1,2}/\d{4}( \d{1,2}:\d\d:\d\d [AP]M)?","writer (\d)","record (\d+)\r\n(x*)","\r\n"\r\n\z)re"_s);
    const QString recordEnd = u"\",\"\r\n\"\r\n"_s;

    std::vector<std::vector<bool>> seen(Writers, std::vector<bool>(RecordsEach, false));
    qsizetype offset = 0;
    int records = 0;
    while (offset < content.size()) {
        const qsizetype end = content.indexOf(recordEnd, offset);
        QVERIFY2(end >= 0, "the file ends inside a record");
        const QString text = content.mid(offset, end + recordEnd.size() - offset);
        const QRegularExpressionMatch match = record.match(text);
        QVERIFY2(match.hasMatch(),
                 qPrintable(u"torn record at offset %1: %2"_s.arg(offset).arg(text.left(120))));
        const int writer = match.captured(2).toInt();
        const int index = match.captured(3).toInt();
        QVERIFY(writer < Writers && index < RecordsEach);
        QVERIFY2(!seen[writer][index], "record written twice");
        QCOMPARE(match.capturedLength(4), payload.size());
        seen[writer][index] = true;
        ++records;
        offset += text.size();
    }
    QCOMPARE(records, Writers * RecordsEach);
}

QTEST_GUILESS_MAIN(TestAppendFile)
#include "tst_appendfile.moc"
