#include "postingdocument.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestPostingDocument : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fieldElement_data();
    void fieldElement();
    void document_data();
    void document();
};

void TestPostingDocument::fieldElement_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("element");

    QTest::newRow("plain value") << u"Title"_s << u"Clerk"_s << u"<Title>Clerk</Title>"_s;
    QTest::newRow("markup characters escaped")
        << u"Title"_s << u"a<b&c>d"_s << u"<Title>a&lt;b&amp;c&gt;d</Title>"_s;
    QTest::newRow("ampersand escaped once, first")
        << u"Title"_s << u"R&D <lead>"_s << u"<Title>R&amp;D &lt;lead&gt;</Title>"_s;
    QTest::newRow("existing entity is plain text") << u"Note"_s << u"&gt;"_s << u"<Note>&amp;gt;</Note>"_s;
    QTest::newRow("quotes and apostrophes unchanged")
        << u"Note"_s << u"say \"hi\" it's"_s << u"<Note>say \"hi\" it's</Note>"_s;
    QTest::newRow("empty value keeps both tags") << u"Note"_s << QString() << u"<Note></Note>"_s;
    QTest::newRow("empty name written as given") << QString() << u"x"_s << u"<>x</>"_s;
    QTest::newRow("name with markup written unchanged") << u"a b&"_s << u"1"_s << u"<a b&>1</a b&>"_s;
    QTest::newRow("spaces and line breaks kept")
        << u"Body"_s << u"  two\r\nlines  "_s << u"<Body>  two\r\nlines  </Body>"_s;
    QTest::newRow("characters outside Latin-1 unchanged")
        << u"City"_s << u"Zürich €"_s << u"<City>Zürich €</City>"_s;
}

void TestPostingDocument::fieldElement() {
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, element);
    QCOMPARE(Orvex::fieldElement(name, value), element);
}

void TestPostingDocument::document_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<QString>("document");

    const QString declaration = u"<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>"_s;
    QTest::newRow("no fields") << u"Add"_s << QString()
                               << declaration + u"<JobPosting><Action>Add</Action></JobPosting>"_s;
    QTest::newRow("fields in call order")
        << u"Add"_s
        << Orvex::fieldElement(u"JobCode"_s, u"J1"_s) + Orvex::fieldElement(u"Title"_s, u"R&D <lead>"_s)
        << declaration +
               u"<JobPosting><Action>Add</Action><JobCode>J1</JobCode><Title>R&amp;D &lt;lead&gt;</Title>"
               "</JobPosting>"_s;
    QTest::newRow("action word not escaped or trimmed")
        << u" <Del&ete> "_s << QString()
        << declaration + u"<JobPosting><Action> <Del&ete> </Action></JobPosting>"_s;
}

void TestPostingDocument::document() {
    QFETCH(QString, action);
    QFETCH(QString, fields);
    QFETCH(QString, document);
    QCOMPARE(Orvex::postingDocument(action, fields), document);
}

QTEST_APPLESS_MAIN(TestPostingDocument)
#include "tst_postingdocument.moc"
