#include "textutils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QChar Nul(u'\0');

// The path in the Windows form the suite's callers use.
QString windowsForm(const QString &path) {
    QString windows = path;
    windows.replace(u'/', u'\\');
    return windows;
}

} // namespace

class TestTextUtils : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void isBlank_data();
    void isBlank();
    void countsOccurrences_data();
    void countsOccurrences();
    void stripsExtension_data();
    void stripsExtension();
    void addsBackslash_data();
    void addsBackslash();
    void removesSuffix_data();
    void removesSuffix();
    void findsFoldersAndFiles_data();
    void findsFoldersAndFiles();
    void findsRelativePathsFromTheCurrentFolder();

private:
    QTemporaryDir m_root;
};

void TestTextUtils::initTestCase() {
    QVERIFY(m_root.isValid());
    QDir root(m_root.path());
    QVERIFY(root.mkpath(u"Data/Sub"_s));
    QVERIFY(root.mkpath(u"my.dir"_s));
    QVERIFY(root.mkpath(u".hidden"_s));
    QVERIFY(root.mkpath(u"OnlyHidden/.secret"_s));
    QVERIFY(root.mkpath(u"Müller"_s));
    QFile file(root.filePath(u"report.xml"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void TestTextUtils::isBlank_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("blank");

    QTest::newRow("null") << QString() << true;
    QTest::newRow("empty") << u""_s << true;
    QTest::newRow("three spaces") << u"   "_s << true;
    QTest::newRow("three NULs") << QString(3, Nul) << true;
    QTest::newRow("a tab") << u"\t"_s << false;
    QTest::newRow("a letter") << u"a"_s << false;
    QTest::newRow("space then NUL") << u" "_s + Nul << false;
    QTest::newRow("NUL then space") << Nul + u" "_s << false;
    QTest::newRow("letter among spaces") << u"  x "_s << false;
}

void TestTextUtils::isBlank() {
    QFETCH(QString, value);
    QFETCH(bool, blank);
    QCOMPARE(FuncLib::IsBlank(value), blank);
}

void TestTextUtils::countsOccurrences_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("find");
    QTest::addColumn<qint32>("count");

    QTest::newRow("overlapping runs count") << u"aaaa"_s << u"aa"_s << 3;
    QTest::newRow("shorter text than the search") << u"a"_s << u"ab"_s << 0;
    QTest::newRow("case-sensitive") << u"abc"_s << u"B"_s << 0;
    QTest::newRow("empty text") << QString() << u"a"_s << 0;
    QTest::newRow("separate occurrences") << u"x&y&z"_s << u"&"_s << 2;
    QTest::newRow("empty search") << u"abc"_s << QString() << 0;
}

void TestTextUtils::countsOccurrences() {
    QFETCH(QString, text);
    QFETCH(QString, find);
    QFETCH(qint32, count);
    QCOMPARE(FuncLib::CountOccurrences(text, find), count);
}

void TestTextUtils::stripsExtension_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("stripped");

    QTest::newRow("ordinary") << u"report.xml"_s << u"report"_s;
    QTest::newRow("last dot only") << u"a.b.c"_s << u"a.b"_s;
    QTest::newRow("trailing dot stays") << u"report."_s << u"report."_s;
    QTest::newRow("only an extension") << u".xml"_s << u""_s;
    QTest::newRow("dot in a folder name") << u"C:\\my.dir\\report"_s << u"C:\\my"_s;
    QTest::newRow("no dot") << u"report"_s << u"report"_s;
}

void TestTextUtils::stripsExtension() {
    QFETCH(QString, fileName);
    QFETCH(QString, stripped);
    QCOMPARE(FuncLib::StripExtension(fileName), stripped);
}

void TestTextUtils::addsBackslash_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("result");

    QTest::newRow("adds one") << u"C:\\Data"_s << u"C:\\Data\\"_s;
    QTest::newRow("backslash present") << u"C:\\Data\\"_s << u"C:\\Data\\"_s;
    QTest::newRow("slash present") << u"C:/Data/"_s << u"C:/Data/"_s;
    QTest::newRow("spaces around are trimmed") << u"  C:\\Data  "_s << u"C:\\Data\\"_s;
    QTest::newRow("three spaces") << u"   "_s << u""_s;
    QTest::newRow("NULs never become a backslash") << QString(2, Nul) << u""_s;
    QTest::newRow("tab is not trimmed") << u"\tC:\\Data"_s << u"\tC:\\Data\\"_s;
}

void TestTextUtils::addsBackslash() {
    QFETCH(QString, path);
    QFETCH(QString, result);
    QCOMPARE(FuncLib::AddBackslash(path), result);
}

void TestTextUtils::removesSuffix_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("result");

    QTest::newRow("one of two trailing backslashes") << u"C:\\Data\\\\"_s << u"\\"_s << u"C:\\Data\\"_s;
    QTest::newRow("other letter case stays") << u"report.XML"_s << u".xml"_s << u"report.XML"_s;
    QTest::newRow("empty suffix") << u"abc"_s << QString() << u"abc"_s;
    QTest::newRow("blank text") << u"   "_s << u" "_s << u"   "_s;
    QTest::newRow("suffix of spaces is a suffix") << u"abc  "_s << u" "_s << u"abc "_s;
    QTest::newRow("text equal to suffix") << u"abc"_s << u"abc"_s << u""_s;
    QTest::newRow("text shorter than suffix") << u"bc"_s << u"abc"_s << u"bc"_s;
}

void TestTextUtils::removesSuffix() {
    QFETCH(QString, text);
    QFETCH(QString, suffix);
    QFETCH(QString, result);
    QCOMPARE(FuncLib::RemoveSuffix(text, suffix), result);
}

void TestTextUtils::findsFoldersAndFiles_data() {
    QTest::addColumn<QString>("relative"); // appended to the test folder in Windows form; "" = not appended
    QTest::addColumn<QString>("prefix");   // put in front of the test folder
    QTest::addColumn<bool>("exists");

    const QString none;
    QTest::newRow("folder") << u"\\Data"_s << none << true;
    QTest::newRow("folder with trailing backslash") << u"\\Data\\"_s << none << true;
    QTest::newRow("folder with trailing slash") << u"\\Data/"_s << none << true;
    QTest::newRow("nested folder, mixed separators") << u"\\Data/Sub"_s << none << true;
    QTest::newRow("ordinary file") << u"\\report.xml"_s << none << true;
    QTest::newRow("file with trailing backslash") << u"\\report.xml\\"_s << none << true;
    QTest::newRow("two trailing separators") << u"\\Data\\\\"_s << none << false;
    QTest::newRow("missing") << u"\\Nothing"_s << none << false;
    QTest::newRow("letter case counts") << u"\\data"_s << none << false;
    QTest::newRow("trailing space of the last part dropped") << u"\\Data "_s << none << true;
    QTest::newRow("trailing dots and spaces dropped") << u"\\report.xml. ."_s << none << true;
    QTest::newRow("trailing space after separator") << u"\\Data\\ "_s << none << true;
    QTest::newRow("star") << u"\\Da*"_s << none << true;
    QTest::newRow("question mark") << u"\\D?ta"_s << none << true;
    QTest::newRow("question mark on a non-ASCII letter") << u"\\M?ller"_s << none << true;
    QTest::newRow("star in the middle") << u"\\re*.xml"_s << none << true;
    QTest::newRow("star finds nothing") << u"\\Z*"_s << none << false;
    QTest::newRow("trailing question mark matches nothing") << u"\\Data?"_s << none << true;
    QTest::newRow("question mark takes no dot") << u"\\report?xml"_s << none << false;
    QTest::newRow("star dot matches a name without a dot") << u"\\Dat*."_s << none << true;
    QTest::newRow("star dot skips names with a dot") << u"\\rep*."_s << none << false;
    QTest::newRow("any extension matches none") << u"\\Data.*"_s << none << true;
    QTest::newRow("star dot star matches names without a dot") << u"\\Data\\*.*"_s << none << true;
    QTest::newRow("wildcard in a folder component is literal") << u"\\D*\\Sub"_s << none << false;
    QTest::newRow("hidden folder") << u"\\.hidden"_s << none << false;
    QTest::newRow("hidden folder by wildcard") << u"\\.h*"_s << none << false;
    QTest::newRow("only hidden entries") << u"\\OnlyHidden\\*"_s << none << false;
    QTest::newRow("empty folder") << u"\\Data\\Sub\\*"_s << none << false;
    QTest::newRow("through a hidden folder") << u"\\OnlyHidden\\.secret\\."_s << none << true;
    QTest::newRow("dot names the folder itself") << u"\\Data\\."_s << none << true;
    QTest::newRow("dot dot names the parent") << u"\\Data\\.."_s << none << true;
    QTest::newRow("dot inside a missing folder") << u"\\Nothing\\."_s << none << false;
    QTest::newRow("dot dot in the middle") << u"\\Data\\..\\my.dir"_s << none << true;
    QTest::newRow("under a file") << u"\\report.xml\\x"_s << none << false;
    QTest::newRow("leading space") << u"\\Data"_s << u" "_s << false;
    QTest::newRow("leading space, trailing separator") << u"\\Data\\"_s << u" "_s << true;
    QTest::newRow("spaces around, trailing separator") << u"\\Data\\  "_s << u"  "_s << true;
    QTest::newRow("embedded NUL") << u"\\Data"_s + Nul + u"x"_s << none << false;
    QTest::newRow("embedded NUL before trailing separator") << u"\\Data"_s + Nul + u"\\"_s << none << false;
    QTest::newRow("lone surrogate") << u"\\Data"_s + QChar(0xD800) << none << false;
    QTest::newRow("overlong name") << u"\\"_s + QString(5000, u'x') << none << false;
    QTest::newRow("many wildcards") << u"\\"_s + QString(200, u'*') + u"x"_s << none << false;
}

void TestTextUtils::findsFoldersAndFiles() {
    QFETCH(QString, relative);
    QFETCH(QString, prefix);
    QFETCH(bool, exists);
    QCOMPARE(FuncLib::DirExists(prefix + windowsForm(m_root.path()) + relative), exists);
}

void TestTextUtils::findsRelativePathsFromTheCurrentFolder() {
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_root.path()));
    const bool data = FuncLib::DirExists(u"Data"_s);
    const bool dataWithSeparator = FuncLib::DirExists(u"Data\\"_s);
    const bool star = FuncLib::DirExists(u"*.xml"_s);
    const bool dot = FuncLib::DirExists(u"."_s);
    QVERIFY(QDir::setCurrent(previous));
    QVERIFY(data);
    QVERIFY(dataWithSeparator);
    QVERIFY(star);
    QVERIFY(dot);

    // The root folder: a lone separator names no entry and is not shortened.
    QVERIFY(!FuncLib::DirExists(u"\\"_s));
    QVERIFY(!FuncLib::DirExists(u"/"_s));
    QVERIFY(!FuncLib::DirExists(u"  \\  "_s));
    QVERIFY(!FuncLib::DirExists(u"   "_s));
    QVERIFY(!FuncLib::DirExists(QString(2, Nul)));
    QVERIFY(!FuncLib::DirExists(QString()));
}

QTEST_GUILESS_MAIN(TestTextUtils)
#include "tst_textutils.moc"
