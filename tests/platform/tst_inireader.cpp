#include "inireader.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/stat.h>

using Orvex::readProfileString;

class TestIniReader : public QObject {
    Q_OBJECT

private:
    QString writeIni(const QByteArray &content, const QString &name = QStringLiteral("settings.ini")) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static QString read(const QString &path, const QString &section, const QString &key,
                        const QString &defaultValue = QStringLiteral("<default>")) {
        QString buffer;
        const qint32 count = readProfileString(section, key, defaultValue, buffer, 255, path);
        return buffer.left(count);
    }

    QTemporaryDir m_dir;

private Q_SLOTS:
    void readsValuesByTheProfileRules_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QString general = QStringLiteral("General");
        const QString key = QStringLiteral("Key");
        QTest::newRow("plain value") << QByteArray("[General]\nKey=value\n") << general << key << "value";
        QTest::newRow("names ignore letter case")
            << QByteArray("[gEnErAl]\nkEY=value\n") << QStringLiteral("GENERAL") << QStringLiteral("key")
            << "value";
        QTest::newRow("first matching key wins")
            << QByteArray("[General]\nKey=1\nkey=2\n") << general << key << "1";
        QTest::newRow("first matching section wins")
            << QByteArray("[General]\nKey=1\n[Other]\nKey=x\n[GENERAL]\nKey=2\n") << general << key << "1";
        QTest::newRow("later duplicate section not consulted")
            << QByteArray("[General]\nOther=1\n[General]\nKey=2\n") << general << key << "<default>";
        QTest::newRow("blanks around names and value dropped")
            << QByteArray("  [ General ] \n \t Key \t=  \t some value \t \n") << general << key
            << "some value";
        QTest::newRow("double quotes removed")
            << QByteArray("[General]\nKey=\" padded \"\n") << general << key << " padded ";
        QTest::newRow("single quotes removed") << QByteArray("[General]\nKey='x'\n") << general << key << "x";
        QTest::newRow("mismatched quotes kept")
            << QByteArray("[General]\nKey='x\"\n") << general << key << "'x\"";
        QTest::newRow("unterminated quote kept")
            << QByteArray("[General]\nKey=\"x\n") << general << key << "\"x";
        QTest::newRow("lone quote kept") << QByteArray("[General]\nKey=\"\n") << general << key << "\"";
        QTest::newRow("semicolon line is a comment")
            << QByteArray("[General]\n  ;Key=1\nKey=2\n") << general << key << "2";
        QTest::newRow("semicolon inside a value is kept")
            << QByteArray("[General]\nKey=a ; b\n") << general << key << "a ; b";
        QTest::newRow("hash is not a comment")
            << QByteArray("[General]\n#Key=1\n") << general << QStringLiteral("#Key") << "1";
        QTest::newRow("line without equals ignored")
            << QByteArray("[General]\nKey\nKey=2\n") << general << key << "2";
        QTest::newRow("value may hold equals signs")
            << QByteArray("[General]\nKey=a=b\n") << general << key << "a=b";
        QTest::newRow("empty value is empty, not the default")
            << QByteArray("[General]\nKey=\n") << general << key << "";
        QTest::newRow("missing key gives default")
            << QByteArray("[General]\nOther=1\n") << general << key << "<default>";
        QTest::newRow("missing section gives default")
            << QByteArray("[Other]\nKey=1\n") << general << key << "<default>";
        QTest::newRow("keys before any section belong to none")
            << QByteArray("Key=0\n[General]\n") << general << key << "<default>";
        QTest::newRow("CR LF line ends")
            << QByteArray("[General]\r\nKey=value\r\n") << general << key << "value";
        QTest::newRow("UTF-8 BOM skipped")
            << QByteArray("\xEF\xBB\xBF[General]\nKey=value\n") << general << key << "value";
        QTest::newRow("UTF-8 text") << QByteArray("[General]\nKey=Gr\xC3\xB6\xC3\x9F"
                                                  "e\n")
                                    << general << key << QStringLiteral("Gr\u00F6\u00DFe");
        QTest::newRow("no final line end") << QByteArray("[General]\nKey=value") << general << key << "value";
        QTest::newRow("bracket without close ends the section")
            << QByteArray("[General]\nKey=1\n[Broken\nOther=2\n") << general << QStringLiteral("Other")
            << "<default>";
        QTest::newRow("bracket without close names a section")
            << QByteArray("[Broken\nKey=2\n") << QStringLiteral("Broken") << key << "2";
        QTest::newRow("names fold by Unicode rules") << QByteArray("[General]\n\xE2\x84\xAA"
                                                                   "ey=kelvin\n")
                                                     << general << key << "kelvin";
        QTest::newRow("key after many short lines")
            << "[General]\n" + QByteArray("a=1\n").repeated(64 * 1024) + "Key=last\n"
            << general << key << "last";
        // The line heads below are exactly 64 KiB: one more byte and the value falls outside.
        QTest::newRow("line parsed up to 64 KiB")
            << "[General]\n" + QByteArray(64 * 1024 - 5, ' ') + "Key=v\n"
            << general << key << "v";
        QTest::newRow("line cut after 64 KiB") << "[General]\n" + QByteArray(64 * 1024 - 4, ' ') + "Key=v\n"
                                               << general << key << "";
    }

    void readsValuesByTheProfileRules() {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(read(writeIni(content), section, key), expected);
    }

    void cutsToTheBufferLessOne_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");

        QTest::newRow("300 characters give 254") << QString(300, u'x') << QString(254, u'x');
        QTest::newRow("254 characters fit") << QString(254, u'y') << QString(254, u'y');
        QTest::newRow("surrogate pair not split")
            << QString(253, u'z') + QStringLiteral("\U0001F600tail") << QString(253, u'z');
    }

    void cutsToTheBufferLessOne() {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        const QString path = writeIni("[General]\nKey=" + stored.toUtf8() + "\n");
        QString buffer;
        const qint32 count =
            readProfileString(QStringLiteral("General"), QStringLiteral("Key"), QString(), buffer, 255, path);
        QCOMPARE(count, expected.size());
        QCOMPARE(buffer.size(), 255);
        QCOMPARE(buffer.left(count), expected);
        QCOMPARE(buffer.at(count), QChar(u'\0'));
    }

    void defaultIsCutLikeAValue() {
        QString buffer;
        const qint32 count =
            readProfileString(QStringLiteral("General"), QStringLiteral("Key"), QString(300, u'd'), buffer,
                              255, m_dir.filePath(QStringLiteral("none.ini")));
        QCOMPARE(count, 254);
        QString tiny;
        QCOMPARE(readProfileString(QStringLiteral("General"), QStringLiteral("Key"), QStringLiteral("abc"),
                                   tiny, 1, QString()),
                 0);
        QCOMPARE(readProfileString(QStringLiteral("General"), QStringLiteral("Key"), QStringLiteral("abc"),
                                   tiny, 0, QString()),
                 0);
    }

    void defaultLosesTrailingBlanks_data() {
        QTest::addColumn<QString>("defaultValue");
        QTest::addColumn<QString>("expected");
        QTest::newRow("trailing spaces and tabs") << "dflt \t "
                                                  << "dflt";
        QTest::newRow("leading and inner blanks kept") << " d f"
                                                       << " d f";
        QTest::newRow("only blanks") << " \t"
                                     << "";
    }

    void defaultLosesTrailingBlanks() {
        QFETCH(QString, defaultValue);
        QFETCH(QString, expected);
        const QString path = writeIni("[General]\nOther=1\n");
        QCOMPARE(read(path, QStringLiteral("General"), QStringLiteral("Key"), defaultValue), expected);
    }

    void findsFilesByEitherSeparatorAndInTheCurrentFolder() {
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("sub")));
        writeIni("[General]\nKey=nested\n", QStringLiteral("sub/nested.ini"));
        QCOMPARE(read(m_dir.path() + QStringLiteral("\\sub\\nested.ini"), QStringLiteral("General"),
                      QStringLiteral("Key")),
                 QStringLiteral("nested"));

        writeIni("[General]\nKey=here\n", QStringLiteral("relative.ini"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const QString relative =
            read(QStringLiteral("relative.ini"), QStringLiteral("General"), QStringLiteral("Key"));
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(relative, QStringLiteral("here"));
    }

    void missingOrUnnameableFileGivesDefault_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing file") << m_dir.filePath(QStringLiteral("missing.ini"));
        QTest::newRow("empty name") << QString();
        QTest::newRow("embedded NUL")
            << m_dir.filePath(QStringLiteral("a")) + QChar(u'\0') + QStringLiteral("b.ini");
        QTest::newRow("a folder") << m_dir.path();
        // A link planted at the name is not followed to whatever file it names.
        const QString link = m_dir.filePath(QStringLiteral("linked.ini"));
        QFile::link(writeIni("[General]\nKey=planted\n", QStringLiteral("target.ini")), link);
        QTest::newRow("a link at the name") << link;
    }

    void missingOrUnnameableFileGivesDefault() {
        QFETCH(QString, path);
        QCOMPARE(read(path, QStringLiteral("General"), QStringLiteral("Key")), QStringLiteral("<default>"));
    }

    void malformedFilesAreSkippedNotFatal_data() {
        QTest::addColumn<QByteArray>("junk");

        QByteArray garbage(64 * 1024, '\0');
        QRandomGenerator generator(20260101);
        for (char &byte : garbage)
            byte = char(generator.bounded(256));
        garbage.replace('\n', '\r');
        QTest::newRow("binary garbage") << garbage;
        QTest::newRow("one megabyte line") << QByteArray(1024 * 1024, 'k');
        QTest::newRow("one megabyte value") << "Key=" + QByteArray(1024 * 1024, 'v');
        QTest::newRow("invalid UTF-8") << QByteArray("\xFF\xFE\xC3=\x80\x80");
        QTest::newRow("unterminated quote") << QByteArray("\"never closed");
        QTest::newRow("brackets only") << QByteArray("[\n]\n[[[\n]]]=x");
    }

    void malformedFilesAreSkippedNotFatal() {
        QFETCH(QByteArray, junk);
        const QString path = writeIni("[Junk]\n" + junk + "\n[General]\nKey=found\n");
        QCOMPARE(read(path, QStringLiteral("General"), QStringLiteral("Key")), QStringLiteral("found"));
        read(path, QStringLiteral("Junk"), QStringLiteral("Key"));
    }

    void wholeValuesKnowNoBuffer_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");

        QTest::newRow("300 characters") << "Key=" + QByteArray(300, 'u') << QString(300, u'u');
        QTest::newRow("up to the line head")
            << "Key=" + QByteArray(64 * 1024 - 4, 'h') + "tail" << QString(64 * 1024 - 4, u'h');
        QTest::newRow("quotes still removed") << "Key=\"" + QByteArray(300, 'q') + "\"" << QString(300, u'q');
    }

    void wholeValuesKnowNoBuffer() {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        const Orvex::ProfileFile file(writeIni("[General]\n" + line + "\n"));
        QCOMPARE(file.value(u"General", u"Key"), std::optional<QString>(expected));
        QCOMPARE(file.value(u"General", u"Other"), std::nullopt);
    }

    void fifoReadsAsMissingWithoutWaiting() {
        // A FIFO planted in place of the file would hold a reader that waits for a writer for ever.
        const QString path = m_dir.filePath(QStringLiteral("planted.ini"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QCOMPARE(read(path, QStringLiteral("General"), QStringLiteral("Key")), QStringLiteral("<default>"));
    }

    void readsNoFurtherThanTheCap() {
        QByteArray content = "[General]\nEarly=1\n";
        content += QByteArray(Orvex::ProfileFile::MaxFileBytes - content.size() - 4, ';');
        content += "\nLate=1\n";
        const Orvex::ProfileFile file(writeIni(content));
        QCOMPARE(file.value(u"General", u"Early"), std::optional<QString>(QStringLiteral("1")));
        QCOMPARE(file.value(u"General", u"Late"), std::nullopt);
    }

    void longValueLineIsCutNotLost() {
        const QString path = writeIni("[General]\nKey=" + QByteArray(1024 * 1024, 'v') + "\nNext=1\n");
        QCOMPARE(read(path, QStringLiteral("General"), QStringLiteral("Key")), QString(254, u'v'));
        QCOMPARE(read(path, QStringLiteral("General"), QStringLiteral("Next")), QStringLiteral("1"));
    }
};

QTEST_GUILESS_MAIN(TestIniReader)
#include "tst_inireader.moc"
