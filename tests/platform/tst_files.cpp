#include "files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

class TestFiles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void convertsToNativePaths_data();
    void convertsToNativePaths();
    void refusesTextThatCannotNameAFile_data();
    void refusesTextThatCannotNameAFile();
    void matchesWildcards_data();
    void matchesWildcards();
    void reportsTheNameFound();
    void findsNothingWhereTheFolderCannotBeListed();
};

void TestFiles::convertsToNativePaths_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("native");

    QTest::newRow("backslashes") << u"C:\\App\\log.txt"_s << u"C:/App/log.txt"_s;
    QTest::newRow("mixed separators") << u"\\srv/app\\x"_s << u"/srv/app/x"_s;
    QTest::newRow("doubled separators stay doubled") << u"a\\\\b"_s << u"a//b"_s;
    QTest::newRow("nothing else changes") << u" a b.c "_s << u" a b.c "_s;
    QTest::newRow("null") << QString() << QString();
}

void TestFiles::convertsToNativePaths() {
    QFETCH(QString, path);
    QFETCH(QString, native);
    QCOMPARE(Orvex::Files::nativePath(path), native);
}

void TestFiles::refusesTextThatCannotNameAFile_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("empty") << QString();
    QTest::newRow("embedded NUL") << u"/tmp/a"_s + QChar(u'\0') + u"b"_s;
    QTest::newRow("lone high surrogate") << u"/tmp/"_s + QChar(0xD800);
    QTest::newRow("lone low surrogate") << QChar(0xDC00) + u"/tmp"_s;
}

void TestFiles::refusesTextThatCannotNameAFile() {
    QFETCH(QString, path);
    QVERIFY(!Orvex::Files::encodedPath(path));
    QVERIFY(!Orvex::Files::findFirst(path));
}

void TestFiles::matchesWildcards_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("matches");

    QTest::newRow("star matches everything") << u"abc"_s << u"*"_s << true;
    QTest::newRow("star matches nothing at the end") << u"abc"_s << u"abc*"_s << true;
    QTest::newRow("star backtracks") << u"xaxb"_s << u"*a*b"_s << true;
    QTest::newRow("star backtracks past a false start") << u"aab.c"_s << u"a*b.c"_s << true;
    QTest::newRow("star cannot invent characters") << u"abc"_s << u"abc*d"_s << false;
    QTest::newRow("question mark takes exactly one") << u"ab"_s << u"a?"_s << true;
    QTest::newRow("question mark may be empty at the end") << u"a"_s << u"a?"_s << true;
    QTest::newRow("question mark may be empty before a dot") << u"a.c"_s << u"a??.c"_s << true;
    QTest::newRow("question mark takes no dot") << u"a.c"_s << u"a?c"_s << false;
    QTest::newRow("question mark on a surrogate pair half") << u"a\U0001F600"_s << u"a??"_s << true;
    QTest::newRow("brackets are literal") << u"[a]"_s << u"[a]*"_s << true;
    QTest::newRow("brackets are not a class") << u"a"_s << u"[a]*"_s << false;
    QTest::newRow("star dot star takes dotless names") << u"README"_s << u"*.*"_s << true;
    QTest::newRow("star dot takes names without a dot") << u"README"_s << u"*."_s << true;
    QTest::newRow("star dot refuses a name with a dot") << u"a.txt"_s << u"*."_s << false;
    QTest::newRow("any extension takes none too") << u"Data"_s << u"Data.*"_s << true;
    QTest::newRow("trailing dots and spaces dropped") << u"Data"_s << u"D*ta. ."_s << true;
    QTest::newRow("case counts") << u"Report"_s << u"r*"_s << false;
    QTest::newRow("hidden name") << u".profile"_s << u"*profile"_s << false;
}

void TestFiles::matchesWildcards() {
    QFETCH(QString, name);
    QFETCH(QString, pattern);
    QFETCH(bool, matches);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    const std::optional<QString> found = Orvex::Files::findFirst(dir.path() + u'/' + pattern);
    QCOMPARE(found.has_value(), matches);
    if (matches)
        QCOMPARE(*found, name);
}

void TestFiles::reportsTheNameFound() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(u"Data"_s));
    const QString windows = QString(dir.path()).replace(u'/', u'\\');
    QCOMPARE(Orvex::Files::findFirst(windows + u"\\D?t*"_s), u"Data"_s);
    QCOMPARE(Orvex::Files::findFirst(windows + u"\\Data"_s), u"Data"_s);
    QCOMPARE(Orvex::Files::findFirst(windows + u"\\Data\\."_s), u"."_s);
    QVERIFY(!Orvex::Files::findFirst(windows + u"\\Data\\"_s));
    QVERIFY(!Orvex::Files::findFirst(u"\\"_s));
}

void TestFiles::findsNothingWhereTheFolderCannotBeListed() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(u"Locked"_s));
    QFile inside(dir.filePath(u"Locked/inside"_s));
    QVERIFY(inside.open(QIODevice::WriteOnly));
    QFile::setPermissions(dir.filePath(u"Locked"_s), QFileDevice::WriteOwner);
    const bool listed = Orvex::Files::findFirst(dir.path() + u"/Locked/*"_s).has_value();
    QFile::setPermissions(dir.filePath(u"Locked"_s),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (::geteuid() == 0)
        QSKIP("root lists every folder");
    QVERIFY(!listed);
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
