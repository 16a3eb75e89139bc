#include "listing.h"
#include "xmltext.h"

#include <QTest>

using Orvex::Listing;
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
};

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

QTEST_GUILESS_MAIN(TestListing)
#include "tst_listing.moc"
