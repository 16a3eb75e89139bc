#include "csvlistings.h"
#include "listing.h"
#include "xmltext.h"

#include <QBuffer>
#include <QStringEncoder>
#include <QTest>

using Orvex::Listing;
using namespace Qt::Literals::StringLiterals;
using Fields = QList<std::pair<QString, QString>>;

class TestListing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void splitsFieldArguments_data();
    void splitsFieldArguments();
    void readsListingsInOrder();
    void refusesMalformedFiles_data();
    void refusesMalformedFiles();
    void jobCodeIsTheLastExactMatch();
    void refusesWhatXmlCannotHold_data();
    void refusesWhatXmlCannotHold();
    void readsCsvListings_data();
    void readsCsvListings();
    void refusesMalformedCsv_data();
    void refusesMalformedCsv();
};

namespace {

// What a CSV text reads as, fed in chunks of chunkSize bytes (0: through a device): one
// "line|action|name=value|..." text per listing, or the error.
QStringList readCsv(const QByteArray &csv, const Orvex::CsvFormat &format, qsizetype chunkSize,
                    QString *error) {
    QList<Orvex::CsvListing> listings;
    if (chunkSize == 0) {
        QBuffer device;
        device.setData(csv);
        device.open(QIODevice::ReadOnly);
        Orvex::readCsvListings(
            &device, format, [&](Orvex::CsvListing &&read) { listings.append(std::move(read)); }, error);
    } else {
        Orvex::CsvListingReader reader(format);
        bool ok = true;
        for (qsizetype at = 0; ok && at < csv.size(); at += chunkSize) {
            ok = reader.feed(QByteArrayView(csv).sliced(at, std::min(chunkSize, csv.size() - at)));
            listings.append(reader.takeListings());
        }
        if (!ok || !reader.finish())
            *error = reader.error();
        listings.append(reader.takeListings());
    }
    QStringList described;
    for (const Orvex::CsvListing &read : std::as_const(listings)) {
        QStringList parts{QString::number(read.line), read.listing.action};
        for (const auto &[name, value] : read.listing.fields)
            parts.append(name + u'=' + value);
        described.append(parts.join(u'|'));
    }
    return described;
}

// Whole, a byte at a time, and through a device in the reader's own chunks: the chunking never shows.
const QList<qsizetype> ChunkSizes{0, 1, 1 << 20};

Orvex::CsvFormat formatOf(const QString &defaultAction, const QString &encoding, const QString &delimiter) {
    Orvex::CsvFormat format;
    format.defaultAction = defaultAction;
    format.encoding = encoding;
    format.delimiter = delimiter.isEmpty() ? 0 : Orvex::csvDelimiter(delimiter);
    return format;
}

// text in UTF-16 of the given order, after its byte order mark unless told not to write one.
QByteArray utf16(const QString &text, QStringConverter::Encoding order, bool byteOrderMark = true) {
    QStringEncoder encoder(order, byteOrderMark ? QStringConverter::Flag::WriteBom
                                                : QStringConverter::Flag::Default);
    return encoder.encode(text);
}

} // namespace

void TestListing::splitsFieldArguments_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("plain") << QStringLiteral("JobCode=J1") << true << QStringLiteral("JobCode")
                           << QStringLiteral("J1");
    QTest::newRow("value keeps later equals signs")
        << QStringLiteral("Query=a=b==c") << true << QStringLiteral("Query") << QStringLiteral("a=b==c");
    QTest::newRow("empty value") << QStringLiteral("Note=") << true << QStringLiteral("Note") << QString();
    QTest::newRow("spaces kept") << QStringLiteral(" Title = x ") << true << QStringLiteral(" Title ")
                                 << QStringLiteral(" x ");
    QTest::newRow("no equals sign") << QStringLiteral("JobCode") << false << QString() << QString();
    QTest::newRow("no name") << QStringLiteral("=J1") << false << QString() << QString();
}

void TestListing::splitsFieldArguments() {
    QFETCH(QString, argument);
    QFETCH(bool, valid);
    std::pair<QString, QString> field;
    QCOMPARE(Orvex::parseFieldArgument(argument, &field), valid);
    if (valid) {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QCOMPARE(field.first, name);
        QCOMPARE(field.second, value);
    }
}

void TestListing::readsListingsInOrder() {
    const QByteArray json = R"([
        {"action": "Add", "fields": [["Zeta", "1"], ["Alpha", "R&D <x>"], ["Zeta", "2"]]},
        {"fields": [{"name": "JobCode", "value": "J2"}, {"value": "", "name": "Note"}], "action": "Delete"},
        {"action": "Add", "fields": []}
    ])";
    QString error;
    const QList<Listing> listings = Orvex::parseListings(json, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(listings.size(), 3);
    QCOMPARE(listings.at(0).action, QStringLiteral("Add"));
    QCOMPARE(listings.at(0).fields, (Fields{{QStringLiteral("Zeta"), QStringLiteral("1")},
                                            {QStringLiteral("Alpha"), QStringLiteral("R&D <x>")},
                                            {QStringLiteral("Zeta"), QStringLiteral("2")}}));
    QCOMPARE(listings.at(1).action, QStringLiteral("Delete"));
    QCOMPARE(listings.at(1).fields, (Fields{{QStringLiteral("JobCode"), QStringLiteral("J2")},
                                            {QStringLiteral("Note"), QString()}}));
    QVERIFY(listings.at(2).fields.isEmpty());
}

void TestListing::refusesMalformedFiles_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message");

    QTest::newRow("syntax error names line and column")
        << QByteArray("[\n  {\"action\": \"Add\",, }\n]") << QStringLiteral("line 2, column");
    QTest::newRow("not an array") << QByteArray(R"({"action": "Add", "fields": []})")
                                  << QStringLiteral("expected a JSON array");
    QTest::newRow("empty array") << QByteArray("[]") << QStringLiteral("no listings");
    QTest::newRow("listing not an object") << QByteArray(R"([["Add"]])") << QStringLiteral("listing 1:");
    QTest::newRow("missing action") << QByteArray(R"([{"fields": []}])") << QStringLiteral("\"action\"");
    QTest::newRow("empty action") << QByteArray(R"([{"action": "", "fields": []}])")
                                  << QStringLiteral("non-empty");
    QTest::newRow("markup in the action")
        << QByteArray(R"([{"action": "Add><Action>Delete", "fields": []}])") << QStringLiteral("holds \">\"");
    QTest::newRow("misspelt key") << QByteArray(R"([{"action": "Add", "field": []}])")
                                  << QStringLiteral("unknown key \"field\"");
    QTest::newRow("object form loses order")
        << QByteArray(R"([{"action": "Add", "fields": {"JobCode": "J1"}}])") << QStringLiteral("order");
    QTest::newRow("missing fields") << QByteArray(R"([{"action": "Add"}])")
                                    << QStringLiteral("\"fields\" must");
    QTest::newRow("number value") << QByteArray(R"([{"action": "Add", "fields": [["Salary", 5]]}])")
                                  << QStringLiteral("field 1:");
    QTest::newRow("pair of three") << QByteArray(R"([{"action": "Add", "fields": [["a", "b", "c"]]}])")
                                   << QStringLiteral("field 1:");
    QTest::newRow("object field with extra key")
        << QByteArray(R"([{"action": "Add", "fields": [{"name": "a", "value": "b", "x": "y"}]}])")
        << QStringLiteral("field 1:");
    QTest::newRow("empty name in the second listing")
        << QByteArray(
               R"([{"action": "Add", "fields": []}, {"action": "Add", "fields": [["x", "1"], ["", "v"]]}])")
        << QStringLiteral("listing 2: field 2: the field name is empty");
    QTest::newRow("NUL in a value, which the bus would cut short")
        << QByteArray(R"([{"action": "Add", "fields": [["JobCode", "J1"], ["Title", "a\u0000b"]]}])")
        << QStringLiteral("listing 1: field 2: the value of \"Title\" holds U+0000");
    QTest::newRow("NUL in a name") << QByteArray(R"([{"action": "Add", "fields": [["Ti\u0000tle", "x"]]}])")
                                   << QStringLiteral("field 1: the field name holds U+0000");
    QTest::newRow("NUL in the action") << QByteArray(R"([{"action": "Add\u0000", "fields": []}])")
                                       << QStringLiteral("\"action\" holds U+0000");
    QTest::newRow("space in a name")
        << QByteArray(R"([{"action": "Add", "fields": [["JobCode", "J1"], ["Job Title", "x"]]}])")
        << QStringLiteral("listing 1: field 2: the field name is not an XML name: U+0020 at position 4");
    QTest::newRow("escape in a value")
        << QByteArray(R"([{"action": "Add", "fields": [["Title", "a\u001b[2Jb"]]}])")
        << QStringLiteral("field 1: the value of \"Title\" holds U+001B at position 2");
    QTest::newRow("control in the action") << QByteArray(R"([{"action": "Add\u0007", "fields": []}])")
                                           << QStringLiteral("\"action\" holds U+0007");
}

void TestListing::refusesMalformedFiles() {
    QFETCH(QByteArray, json);
    QFETCH(QString, message);
    QString error;
    QVERIFY(Orvex::parseListings(json, &error).isEmpty());
    QVERIFY2(error.contains(message), qPrintable(error));
}

void TestListing::jobCodeIsTheLastExactMatch() {
    Listing listing;
    QCOMPARE(listing.jobCode(), QString());
    listing.fields = {{QStringLiteral("JobCode"), QStringLiteral("J1")},
                      {QStringLiteral("JobCode"), QStringLiteral("J2")},
                      {QStringLiteral("jobcode"), QStringLiteral("lower")}};
    QCOMPARE(listing.jobCode(), QStringLiteral("J2"));
}

void TestListing::refusesWhatXmlCannotHold_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("nameOk");
    QTest::addColumn<bool>("textOk");

    QTest::newRow("plain name") << QStringLiteral("JobCode") << true << true;
    QTest::newRow("name with colon, dot, hyphen, digits") << QStringLiteral("a:b.c-1_2") << true << true;
    QTest::newRow("letters beyond ASCII") << QStringLiteral("T\u00edtulo\u65e5") << true << true;
    QTest::newRow("empty") << QString() << false << true;
    QTest::newRow("space") << QStringLiteral("Job Code") << false << true;
    QTest::newRow("digit first") << QStringLiteral("1st") << false << true;
    QTest::newRow("hyphen first") << QStringLiteral("-a") << false << true;
    QTest::newRow("markup") << QStringLiteral("a<b") << false << true;
    QTest::newRow("tab, CR and LF are characters") << QStringLiteral("a\tb\r\nc") << false << true;
    QTest::newRow("a C0 control") << QStringLiteral("a\x01") << false << false;
    QTest::newRow("U+FFFE") << QStringLiteral("a\ufffe") << false << false;
    QTest::newRow("U+FFFF") << QStringLiteral("a\uffff") << false << false;
    QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) << false << false;
    QTest::newRow("lone low surrogate at the end") << QStringLiteral("a") + QChar(0xDC00) << false << false;
    QTest::newRow("a surrogate pair is one character") << QStringLiteral("x\U0001F600") << true << true;
    QTest::newRow("supplementary letter in a name") << QStringLiteral("a\U00010000") << true << true;
}

void TestListing::refusesWhatXmlCannotHold() {
    QFETCH(QString, text);
    QFETCH(bool, nameOk);
    QFETCH(bool, textOk);
    QCOMPARE(Orvex::XmlText::nameProblem(text).isEmpty(), nameOk);
    QCOMPARE(Orvex::XmlText::textProblem(text).isEmpty(), textOk);
}

void TestListing::readsCsvListings_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("defaultAction");
    QTest::addColumn<QStringList>("listings");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("delimiter");

    QTest::newRow("BOM, CR LF, quoted comma and doubled quotes")
        << QByteArray("\xEF\xBB\xBFJobCode,Title\r\nJ1,\"R&D, \"\"lead\"\"\"\r\nJ2,plain\r\n") << u"Add"_s
        << QStringList{u"2|Add|JobCode=J1|Title=R&D, \"lead\""_s, u"3|Add|JobCode=J2|Title=plain"_s}
        << QString() << QString();
    QTest::newRow("line breaks inside quotes; rows numbered by their first line; no final line break")
        << QByteArray("JobCode,Text\nJ1,\"two\r\nlines\"\nJ2,\"a\n\nb\"\nJ3,x") << u"Add"_s
        << QStringList{u"2|Add|JobCode=J1|Text=two\r\nlines"_s, u"4|Add|JobCode=J2|Text=a\n\nb"_s,
                       u"7|Add|JobCode=J3|Text=x"_s}
        << QString() << QString();
    QTest::newRow("empty cells are empty values, quoted or not")
        << QByteArray("A,B,C\n,,\n\"\",x,\ny,\"\",\"\"") << u"Add"_s
        << QStringList{u"2|Add|A=|B=|C="_s, u"3|Add|A=|B=x|C="_s, u"4|Add|A=y|B=|C="_s} << QString()
        << QString();
    QTest::newRow("Action column in any case; an empty cell takes the default")
        << QByteArray("JobCode,action,Title\nJ1,Delete,t\nJ2,,u\n") << u"Update"_s
        << QStringList{u"2|Delete|JobCode=J1|Title=t"_s, u"3|Update|JobCode=J2|Title=u"_s} << QString()
        << QString();
    QTest::newRow("without an Action column the default")
        << QByteArray("JobCode\nJ1\n") << u"Expire"_s << QStringList{u"2|Expire|JobCode=J1"_s} << QString()
        << QString();
    QTest::newRow("blank lines skipped, LF or CR LF")
        << QByteArray("\nJobCode\n\nJ1\r\n\r\n\nJ2\n\n") << u"Add"_s
        << QStringList{u"4|Add|JobCode=J1"_s, u"7|Add|JobCode=J2"_s} << QString() << QString();
    QTest::newRow("text beyond ASCII, and a CR ending the file")
        << QByteArray("T\xC3\xADtulo,Note\nCaf\xC3\xA9 \xE2\x82\xAC,\xF0\x9F\x98\x80 <&>\r") << u"Add"_s
        << QStringList{u"2|Add|T\u00edtulo=Caf\u00e9 \u20ac|Note=\U0001F600 <&>"_s} << QString() << QString();
    QTest::newRow("a comma ending the file is an empty last cell")
        << QByteArray("A,B\nx,") << u"Add"_s << QStringList{u"2|Add|A=x|B="_s} << QString() << QString();
    // As spreadsheets export: their code page, UTF-16 with a BOM, a "sep=" line, their locale's delimiter.
    const QStringList cafe{u"2|Add|JobCode=J1|Title=Caf\u00e9 \u2013 bar"_s};
    QTest::newRow("Windows-1252 with --encoding: 0xE9 and an en dash")
        << QByteArray("JobCode,Title\r\nJ1,Caf\xE9 \x96 bar\r\n") << u"Add"_s << cafe << u"windows-1252"_s
        << QString();
    QTest::newRow("UTF-16 LE by its BOM, no option")
        << utf16(u"JobCode,Title\r\nJ1,Caf\u00e9 \u2013 bar\r\n"_s, QStringConverter::Utf16LE) << u"Add"_s
        << cafe << QString() << QString();
    QTest::newRow("UTF-16 BE by its BOM, whatever --encoding says")
        << utf16(u"JobCode,Title\nJ1,Caf\u00e9 \u2013 bar"_s, QStringConverter::Utf16BE) << u"Add"_s << cafe
        << u"windows-1252"_s << QString();
    QTest::newRow("UTF-16 by --encoding, a character beyond the BMP")
        << utf16(u"A\nx\U0001F600y\n"_s, QStringConverter::Utf16LE, false) << u"Add"_s
        << QStringList{u"2|Add|A=x\U0001F600y"_s} << u"utf-16le"_s << QString();
    QTest::newRow("ISO-8859-15: 0xA4 is the euro")
        << QByteArray("A\n\xA4\n") << u"Add"_s << QStringList{u"2|Add|A=\u20ac"_s} << u"ISO-8859-15"_s
        << QString();
    QTest::newRow("sep=; sets the delimiter and is no header; rows keep the file's lines")
        << QByteArray("sep=;\r\nJobCode;Title\r\nJ1;\"a; b\"\r\n") << u"Add"_s
        << QStringList{u"3|Add|JobCode=J1|Title=a; b"_s} << QString() << QString();
    QTest::newRow("SEP=| after a BOM, without a line break before the end")
        << QByteArray("\xEF\xBB\xBFSEP=|\nA|B\n1,2|3") << u"Add"_s << QStringList{u"3|Add|A=1,2|B=3"_s}
        << QString() << QString();
    QTest::newRow("--delimiter ; without a hint")
        << QByteArray("JobCode;Title\nJ1;x,y\n") << u"Add"_s << QStringList{u"2|Add|JobCode=J1|Title=x,y"_s}
        << QString() << u";"_s;
    QTest::newRow("--delimiter tab, and a tab in quotes")
        << QByteArray("A\tB\n1\t\"2\t3\"\n") << u"Add"_s << QStringList{u"2|Add|A=1|B=2\t3"_s} << QString()
        << u"tab"_s;
    QTest::newRow("--delimiter wins over the file's sep=")
        << QByteArray("sep=;\nA|B\n1|2;3\n") << u"Add"_s << QStringList{u"3|Add|A=1|B=2;3"_s} << QString()
        << u"|"_s;
    QTest::newRow("a one-cell header that only begins like a hint")
        << QByteArray("sepal\nx\n") << u"Add"_s << QStringList{u"2|Add|sepal=x"_s} << QString() << QString();
}

void TestListing::readsCsvListings() {
    QFETCH(QByteArray, csv);
    QFETCH(QString, defaultAction);
    QFETCH(QStringList, listings);
    QFETCH(QString, encoding);
    QFETCH(QString, delimiter);
    for (const qsizetype chunkSize : ChunkSizes) {
        QString error;
        QCOMPARE(readCsv(csv, formatOf(defaultAction, encoding, delimiter), chunkSize, &error), listings);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
}

void TestListing::refusesMalformedCsv_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("delimiter");

    QTest::newRow("unterminated quote, named where it opens")
        << QByteArray("JobCode,Title\nJ1,\"never closed\nJ2,x\n")
        << u"line 2, column 4: the quote that opens this cell is never closed"_s << QString() << QString();
    QTest::newRow("stray quote in an unquoted cell")
        << QByteArray("JobCode,Title\nJ1,R\"D\n") << u"line 2, column 5: a quote inside a cell"_s << QString()
        << QString();
    QTest::newRow("text after a closing quote")
        << QByteArray("A\n\"x\"y\n") << u"line 2, column 4: text after a closing quote"_s << QString()
        << QString();
    QTest::newRow("more cells than the header, after a quoted line break")
        << QByteArray("A,B\n\"x\ny\",2,3\n") << u"line 3, column 6: a cell beyond the 2 columns"_s
        << QString() << QString();
    QTest::newRow("a comma too many")
        << QByteArray("A,B\n1,2,\n") << u"line 2, column 5: a cell beyond the 2 columns"_s << QString()
        << QString();
    QTest::newRow("fewer cells than the header")
        << QByteArray("A,B,C\n1,2\r\n") << u"line 2, column 4: a row of 2 cells, but the header names 3"_s
        << QString() << QString();
    QTest::newRow("fewer cells on a last line without a line break")
        << QByteArray("A,B,C\n1,2") << u"line 2, column 4: a row of 2 cells"_s << QString() << QString();
    QTest::newRow("empty header name")
        << QByteArray("A,,C\n1,2,3\n") << u"line 1, column 3: header cell 2 is empty"_s << QString()
        << QString();
    QTest::newRow("columns counted after a BOM")
        << QByteArray("\xEF\xBB\xBF\xC3\xA9,\n") << u"line 1, column 3: header cell 2 is empty"_s << QString()
        << QString();
    QTest::newRow("duplicate header name")
        << QByteArray("Title,JobCode,Title\nx,y,z\n")
        << u"line 1, column 15: \"Title\" names a second column (the first is column 1)"_s << QString()
        << QString();
    QTest::newRow("two Action columns")
        << QByteArray("Action,ACTION\n") << u"line 1, column 8: a second Action column"_s << QString()
        << QString();
    QTest::newRow("header name that is not an XML name")
        << QByteArray("JobCode,Job Title\nJ1,x\n")
        << u"line 1, column 9: header cell 2: the field name is not an XML name: U+0020 at position 4"_s
        << QString() << QString();
    QTest::newRow("Latin-1 export: a character cut short")
        << QByteArray("JobCode,Title\nJ1,Caf\xE9\n") << u"line 2, column 7: a character cut short"_s
        << QString() << QString();
    QTest::newRow("byte that never starts UTF-8")
        << QByteArray("A\nx\xFF\n") << u"line 2, column 2: byte 0xFF is not UTF-8"_s << QString()
        << QString();
    QTest::newRow("encoded surrogate")
        << QByteArray("A\nx\xED\xA0\x80\n") << u"line 2, column 2: byte 0xA0 is not UTF-8"_s << QString()
        << QString();
    QTest::newRow("file ends inside a character")
        << QByteArray("A\n\xE2\x82") << u"line 2, column 1: the file ends inside a character"_s << QString()
        << QString();
    QTest::newRow("escape in a value, as the JSON reader words it")
        << QByteArray("JobCode,Title\nJ1,\"a\x1B[2J\"\n")
        << u"line 2, column 4: the value of \"Title\" holds U+001B at position 2"_s << QString() << QString();
    QTest::newRow("control in an Action cell")
        << QByteArray("JobCode,Action\nJ1,Add\x07\n") << u"line 2, column 4: the action holds U+0007"_s
        << QString() << QString();
    QTest::newRow("a CR alone") << QByteArray("A,B\r1,2\r\n") << u"line 1, column 5: a CR alone"_s
                                << QString() << QString();
    QTest::newRow("empty file") << QByteArray() << u"line 1, column 1: the file is empty"_s << QString()
                                << QString();
    QTest::newRow("only a BOM and blank lines")
        << QByteArray("\xEF\xBB\xBF\r\n\n") << u"line 1, column 1: the file is empty"_s << QString()
        << QString();
    QTest::newRow("header without rows")
        << QByteArray("JobCode,Title\r\n") << u"line 2, column 1: the file holds a header but no listings"_s
        << QString() << QString();
    QTest::newRow("only part of a BOM")
        << QByteArray("\xEF\xBB") << u"line 1, column 1: the file ends inside a character"_s << QString()
        << QString();
    QTest::newRow("Windows-1252 without --encoding: the message names the option")
        << QByteArray("JobCode,Title\r\nJ1,Caf\xE9 \x96\r\n")
        << u"line 2, column 7: a character cut short by byte 0x20; expected the file saved as UTF-8, or "
           "--encoding naming the one it is in (a spreadsheet's export is often --encoding windows-1252)"_s
        << QString() << QString();
    QTest::newRow("UTF-16 without a BOM or --encoding")
        << utf16(u"JobCode\nJ1\n"_s, QStringConverter::Utf16LE, false)
        << u"line 1, column 2: a NUL byte; expected text (a file saved as UTF-16 without a byte order mark "
           "needs --encoding utf-16le"_s
        << QString() << QString();
    QTest::newRow("bytes the named encoding cannot read, where they lie")
        << QByteArray("A\nxy\x81\x20z\n") << u"line 2, column 3: bytes that do not read as"_s
        << u"Shift_JIS"_s << QString();
    QTest::newRow("a lone surrogate in UTF-16")
        << utf16(u"A\nx"_s, QStringConverter::Utf16LE) + QByteArray("\x00\xD8y\x00\n\x00", 6)
        << u"line 2, column 2: bytes that do not read as UTF-16LE"_s << QString() << QString();
    QTest::newRow("UTF-16 ending in half a pair")
        << utf16(u"A\nx"_s, QStringConverter::Utf16LE) + QByteArray("\x00\xD8", 2)
        << u"line 2, column 2: the file ends inside a character"_s << QString() << QString();
    QTest::newRow("an encoding nobody knows")
        << QByteArray("A\n1\n") << u"line 1, column 1: no encoding is known as \"klingon\""_s << u"klingon"_s
        << QString();
    QTest::newRow("a sep= line that names no delimiter taken")
        << QByteArray("sep=:\nA:B\n") << u"line 1, column 5: a \"sep=\" line that names no delimiter"_s
        << QString() << QString();
    QTest::newRow("after sep=; errors keep the file's lines and name the delimiter")
        << QByteArray("sep=;\nA;B;C\n1;2\n")
        << u"line 3, column 4: a row of 2 cells, but the header names 3 columns; expected a semicolon"_s
        << QString() << QString();
    QTest::newRow("a comma file read with --delimiter ; is one column")
        << QByteArray("A,B\n1,2\n") << u"line 1, column 1: header cell 1: the field name is not an XML name"_s
        << QString() << u";"_s;
}

void TestListing::refusesMalformedCsv() {
    QFETCH(QByteArray, csv);
    QFETCH(QString, message);
    QFETCH(QString, encoding);
    QFETCH(QString, delimiter);
    for (const qsizetype chunkSize : ChunkSizes) {
        QString error;
        readCsv(csv, formatOf(u"Add"_s, encoding, delimiter), chunkSize, &error);
        QVERIFY2(error.startsWith(message), qPrintable(error));
    }
}

QTEST_GUILESS_MAIN(TestListing)
#include "tst_listing.moc"
