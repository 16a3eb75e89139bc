#include "automationerror.h"
#include "errortable.h"
#include "gettokens.h"
#include "gettokens_p.h"
#include "warningbox.h"

#include <QRandomGenerator>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

struct ShownBox {
    QString title;
    QString text;
};

class RecordingWarningBox final : public Orvex::WarningBox {
public:
    void show(const QString &title, const QString &text) override { shown.append({title, text}); }
    QList<ShownBox> shown;
};

struct Split {
    QStringList tokens;
    std::optional<qint32> failure; // error number when the split failed
};

// The splitter as first described: positions in the working text, every count taken afresh on the whole
// candidate. Quadratic on long quoted stretches, so only for short texts; one-character delimiters only.
Split referenceSplit(const QString &text, const QString &delimiter, const QString &quote,
                     const QString &close) {
    auto count = [](const QString &haystack, const QString &needle) {
        qsizetype n = 0;
        for (qsizetype at = haystack.indexOf(needle); at >= 0; at = haystack.indexOf(needle, at + 1))
            ++n;
        return n;
    };
    auto balanced = [&](const QString &candidate) {
        if (quote.isEmpty())
            return true;
        if (close.isEmpty())
            return count(candidate, quote) % 2 == 0;
        return count(candidate, quote) == count(candidate, close);
    };
    QString working = delimiter + text;
    if (working.back() != delimiter.front())
        working += delimiter;
    auto find = [&](qsizetype from) { return working.indexOf(delimiter, from - 1) + 1; }; // 1-based, 0 = none

    Split result;
    qsizetype prev = 1;
    qsizetype pos = 1;
    while (pos != 0) {
        pos = find(pos + 1);
        if (pos == 0)
            break;
        while (!balanced(working.mid(prev, pos - prev - 1))) {
            pos = find(pos + 1);
            if (pos == 0) {
                result.failure = Orvex::ErrorNumber::InvalidProcedureCall;
                return result;
            }
        }
        result.tokens.append(working.mid(prev, pos - prev - 1));
        prev = pos;
    }
    return result;
}

// The same counting rule in text coordinates, for delimiters of any length: split at whole, non-overlapping
// delimiters, the end of the text closing the last token unless the text ends in a delimiter.
Split naiveSplit(const QString &text, const QString &delimiter, const QString &quote, const QString &close) {
    auto count = [](const QString &haystack, const QString &needle) {
        qsizetype n = 0;
        for (qsizetype at = haystack.indexOf(needle); at >= 0; at = haystack.indexOf(needle, at + 1))
            ++n;
        return n;
    };
    auto balanced = [&](const QString &candidate) {
        if (close.isEmpty())
            return count(candidate, quote) % 2 == 0;
        return count(candidate, quote) == count(candidate, close);
    };
    auto stopFrom = [&](qsizetype from) {
        const qsizetype at = text.indexOf(delimiter, from);
        return at < 0 ? text.size() : at;
    };
    Split result;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype stop = stopFrom(start);
        while (!balanced(text.mid(start, stop - start))) {
            if (stop == text.size() || stop + delimiter.size() == text.size()) {
                result.failure = Orvex::ErrorNumber::InvalidProcedureCall;
                return result;
            }
            stop = stopFrom(stop + delimiter.size());
        }
        result.tokens.append(text.mid(start, stop - start));
        start = stop + delimiter.size();
    }
    return result;
}

Split splitWithGetTokens(const QString &text, const QString &delimiter, const QString &quote,
                         const QString &close) {
    Split result;
    try {
        FuncLib::GetTokens(text, delimiter, result.tokens, quote, true, close);
    } catch (const Orvex::AutomationError &error) {
        result.failure = error.number();
    }
    return result;
}

QString randomText(QRandomGenerator &random, QStringView alphabet, int maxLength) {
    QString text;
    const int length = random.bounded(maxLength + 1);
    for (int i = 0; i < length; ++i)
        text += alphabet[random.bounded(int(alphabet.size()))];
    return text;
}

const QString Nul(QChar(u'\0'));

} // namespace

class TestGetTokens : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void splitsText_data();
    void splitsText();
    void failsOnUnbalancedEndAndShowsTheBox_data();
    void failsOnUnbalancedEndAndShowsTheBox();
    void raisesTheSameErrorWhenAsked();
    void failsOnPositionOverflow_data();
    void failsOnPositionOverflow();
    void rejectsAnEmptyDelimiter();
    void replacesTheCallersTokens();
    void acceptsOneOfItsOwnTokensAsText();
    void matchesTheWholeCandidateCountingRule_data();
    void matchesTheWholeCandidateCountingRule();
    void splitsLargeTexts();
    void usesTheProcessBoxByDefault();
};

void TestGetTokens::splitsText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QString>("quote");
    QTest::addColumn<QString>("closeQuote");
    QTest::addColumn<QStringList>("tokens");

    const QString amp = QStringLiteral("&");
    const QString apostrophe = QStringLiteral("'");
    const QString none;

    QTest::newRow("two tokens") << u"a&b"_s << amp << none << none << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("one trailing delimiter adds nothing")
        << u"a&b&"_s << amp << none << none << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("two trailing delimiters add one empty token")
        << u"a&&"_s << amp << none << none << QStringList{u"a"_s, u""_s};
    QTest::newRow("leading delimiter gives empty first token")
        << u"&a"_s << amp << none << none << QStringList{u""_s, u"a"_s};
    QTest::newRow("delimiter alone gives one empty token")
        << u"&"_s << amp << none << none << QStringList{u""_s};
    QTest::newRow("empty text, plain") << u""_s << amp << none << none << QStringList{};
    QTest::newRow("empty text, quote") << u""_s << amp << apostrophe << none << QStringList{};
    QTest::newRow("empty text, bracket") << u""_s << amp << u"("_s << u")"_s << QStringList{};
    QTest::newRow("quoted delimiter does not split")
        << u"x='1&2'&y=3"_s << amp << apostrophe << none << QStringList{u"x='1&2'"_s, u"y=3"_s};
    QTest::newRow("nested brackets balance by counts")
        << u"f(a&g(b&c))&d"_s << amp << u"("_s << u")"_s << QStringList{u"f(a&g(b&c))"_s, u"d"_s};
    QTest::newRow("bracket order does not matter")
        << u")a&(b&c"_s << amp << u"("_s << u")"_s << QStringList{u")a&(b"_s, u"c"_s};
    QTest::newRow("tokens are not trimmed") << u"success=1&jobid=123\r\n"_s << amp << u"\""_s << none
                                            << QStringList{u"success=1"_s, u"jobid=123\r\n"_s};
    QTest::newRow("spaces around tokens stay")
        << u" a & b "_s << amp << none << none << QStringList{u" a "_s, u" b "_s};
    QTest::newRow("board reply with quoted ampersand")
        << u"success=1&msg=\"a&b\"&jobid=7"_s << amp << u"\""_s << none
        << QStringList{u"success=1"_s, u"msg=\"a&b\""_s, u"jobid=7"_s};
    QTest::newRow("quote of spaces means plain")
        << u"a'&b"_s << amp << u"  "_s << none << QStringList{u"a'"_s, u"b"_s};
    QTest::newRow("quote of NULs means plain")
        << u"a'&b"_s << amp << Nul + Nul << none << QStringList{u"a'"_s, u"b"_s};
    QTest::newRow("closing text without opening means plain")
        << u"(a&b)"_s << amp << none << u")"_s << QStringList{u"(a"_s, u"b)"_s};
    QTest::newRow("blank closing text means quote mode")
        << u"'a&b'&c"_s << amp << apostrophe << u"   "_s << QStringList{u"'a&b'"_s, u"c"_s};
    QTest::newRow("equal opening and closing texts split plainly")
        << u"'a&b'"_s << amp << apostrophe << apostrophe << QStringList{u"'a"_s, u"b'"_s};
    QTest::newRow("delimiter search is case-sensitive")
        << u"aXbxc"_s << u"x"_s << none << none << QStringList{u"aXb"_s, u"c"_s};
    QTest::newRow("quote count is case-sensitive")
        << u"q&Q&q&Q"_s << amp << u"Q"_s << none << QStringList{u"q"_s, u"Q&q&Q"_s};
    QTest::newRow("multi-character quote")
        << u"a<<&>>b<<&c"_s << amp << u"<<"_s << none << QStringList{u"a<<&>>b<<"_s, u"c"_s};
    QTest::newRow("overlapping quote occurrences count")
        << u"'''&x&y"_s << amp << u"''"_s << none << QStringList{u"'''"_s, u"x"_s, u"y"_s};
    QTest::newRow("embedded NULs are ordinary characters")
        << u"a"_s + Nul + u"&"_s + Nul << amp << none << none << QStringList{u"a"_s + Nul, Nul};
    QTest::newRow("lone surrogates pass through")
        << QString(QChar(0xD800)) + u"&"_s + QChar(0xDC00) << amp << none << none
        << QStringList{QString(QChar(0xD800)), QString(QChar(0xDC00))};
    QTest::newRow("longer delimiter splits as a unit")
        << u"a::b"_s << u"::"_s << none << none << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("longer delimiter at the end adds nothing")
        << u"a::b::"_s << u"::"_s << none << none << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("longer delimiter in front gives empty first token")
        << u"::a"_s << u"::"_s << none << none << QStringList{u""_s, u"a"_s};
    QTest::newRow("longer delimiter matches do not overlap")
        << u"a:::b"_s << u"::"_s << none << none << QStringList{u"a"_s, u":b"_s};
    QTest::newRow("longer delimiter inside quotes")
        << u"'a::b'::c"_s << u"::"_s << apostrophe << none << QStringList{u"'a::b'"_s, u"c"_s};
    QTest::newRow("surrogate pair delimiter")
        << QStringLiteral("a\U0001F600b") << QStringLiteral("\U0001F600") << none << none
        << QStringList{u"a"_s, u"b"_s};
}

void TestGetTokens::splitsText() {
    QFETCH(QString, text);
    QFETCH(QString, delimiter);
    QFETCH(QString, quote);
    QFETCH(QString, closeQuote);
    QFETCH(QStringList, tokens);

    RecordingWarningBox box;
    QStringList stored;
    const qint32 count = FuncLib::GetTokens(text, delimiter, stored, quote, false, closeQuote, box);
    QCOMPARE(stored, tokens);
    QCOMPARE(count, qint32(tokens.size()));
    QVERIFY(box.shown.isEmpty());
}

void TestGetTokens::failsOnUnbalancedEndAndShowsTheBox_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("quote");
    QTest::addColumn<QString>("closeQuote");
    QTest::addColumn<QStringList>("keptTokens");
    QTest::addColumn<QString>("line");

    QTest::newRow("odd quote in the last stretch")
        << u"a&b'c"_s << u"'"_s << QString() << QStringList{u"a"_s} << u"&a&b'c&"_s;
    QTest::newRow("text ending in the delimiter gets none added")
        << u"a&b'c&"_s << u"'"_s << QString() << QStringList{u"a"_s} << u"&a&b'c&"_s;
    QTest::newRow("unclosed bracket")
        << u"x&f(a&b"_s << u"("_s << u")"_s << QStringList{u"x"_s} << u"&x&f(a&b&"_s;
    QTest::newRow("unbalanced first token keeps nothing")
        << u"'a&b"_s << u"'"_s << QString() << QStringList{} << u"&'a&b&"_s;
}

void TestGetTokens::failsOnUnbalancedEndAndShowsTheBox() {
    QFETCH(QString, text);
    QFETCH(QString, quote);
    QFETCH(QString, closeQuote);
    QFETCH(QStringList, keptTokens);
    QFETCH(QString, line);

    RecordingWarningBox box;
    QStringList tokens;
    QCOMPARE(FuncLib::GetTokens(text, QStringLiteral("&"), tokens, quote, false, closeQuote, box), 0);
    QCOMPARE(tokens, keptTokens);
    QCOMPARE(box.shown.size(), 1);
    QCOMPARE(box.shown.front().title, QStringLiteral("OrvexKelPostJob"));
    QCOMPARE(box.shown.front().text,
             QStringLiteral("(GetTokens) Error: Invalid procedure call or argument\r\nLine: ") + line);
}

void TestGetTokens::raisesTheSameErrorWhenAsked() {
    RecordingWarningBox box;
    QStringList tokens;
    try {
        FuncLib::GetTokens(QStringLiteral("a&b'c"), QStringLiteral("&"), tokens, QStringLiteral("'"), true,
                           QString(), box);
        QFAIL("no error raised");
    } catch (const Orvex::AutomationError &error) {
        QCOMPARE(error.number(), 5);
        QCOMPARE(error.source(), QStringLiteral("OrvexKelPostJob"));
        QCOMPARE(error.description(), QStringLiteral("Invalid procedure call or argument"));
    }
    QCOMPARE(tokens, QStringList{QStringLiteral("a")});
    QVERIFY(box.shown.isEmpty());
}

void TestGetTokens::failsOnPositionOverflow_data() {
    QTest::addColumn<int>("largestPosition");
    QTest::addColumn<QStringList>("tokens");
    QTest::addColumn<bool>("overflows");

    // "&a&b&" has five positions; the search after the last one starts at a sixth.
    QTest::newRow("room for the search after the last delimiter")
        << 6 << QStringList{u"a"_s, u"b"_s} << false;
    QTest::newRow("search after the last delimiter overflows, every token kept")
        << 5 << QStringList{u"a"_s, u"b"_s} << true;
    QTest::newRow("last delimiter beyond the range") << 4 << QStringList{u"a"_s} << true;
    QTest::newRow("no room after the first delimiter") << 3 << QStringList{u"a"_s} << true;
    QTest::newRow("first delimiter beyond the range") << 2 << QStringList{} << true;
}

void TestGetTokens::failsOnPositionOverflow() {
    QFETCH(int, largestPosition);
    QFETCH(QStringList, tokens);
    QFETCH(bool, overflows);

    const QString text = QStringLiteral("a&b");
    const QString amp = QStringLiteral("&");
    RecordingWarningBox box;
    QStringList stored;
    QCOMPARE(FuncLib::Detail::getTokens(text, amp, stored, QString(), false, QString(), box, largestPosition),
             overflows ? 0 : tokens.size());
    QCOMPARE(stored, tokens);
    if (!overflows) {
        QVERIFY(box.shown.isEmpty());
        return;
    }
    QCOMPARE(box.shown.size(), 1);
    QCOMPARE(box.shown.front().text, QStringLiteral("(GetTokens) Error: Overflow\r\nLine: &a&b&"));

    try {
        FuncLib::Detail::getTokens(text, amp, stored, QString(), true, QString(), box, largestPosition);
        QFAIL("no error raised");
    } catch (const Orvex::AutomationError &error) {
        QCOMPARE(error.number(), 6);
        QCOMPARE(error.source(), QStringLiteral("OrvexKelPostJob"));
    }
    QCOMPARE(stored, tokens);
}

void TestGetTokens::rejectsAnEmptyDelimiter() {
    RecordingWarningBox box;
    QStringList tokens{QStringLiteral("stale")};
    QCOMPARE(FuncLib::GetTokens(QStringLiteral("a&b"), QString(), tokens, QString(), false, QString(), box),
             0);
    QVERIFY(tokens.isEmpty());
    QCOMPARE(box.shown.size(), 1);
    QCOMPARE(box.shown.front().text,
             QStringLiteral("(GetTokens) Error: Invalid procedure call or argument\r\nLine: a&b"));

    QVERIFY_THROWS_EXCEPTION(
        Orvex::AutomationError,
        FuncLib::GetTokens(QStringLiteral("a"), QString(), tokens, QString(), true, QString(), box));
}

void TestGetTokens::replacesTheCallersTokens() {
    RecordingWarningBox box;
    QStringList tokens{QStringLiteral("old1"), QStringLiteral("old2"), QStringLiteral("old3")};
    QCOMPARE(FuncLib::GetTokens(QStringLiteral("new"), QStringLiteral("&"), tokens, QString(), false,
                                QString(), box),
             1);
    QCOMPARE(tokens, QStringList{QStringLiteral("new")});

    QCOMPARE(FuncLib::GetTokens(QString(), QStringLiteral("&"), tokens, QString(), false, QString(), box), 0);
    QVERIFY(tokens.isEmpty());
}

void TestGetTokens::acceptsOneOfItsOwnTokensAsText() {
    RecordingWarningBox box;
    QStringList tokens{QStringLiteral("a&b"), QStringLiteral("&")};
    QCOMPARE(FuncLib::GetTokens(tokens[0], tokens[1], tokens, QString(), false, QString(), box), 2);
    QCOMPARE(tokens, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

void TestGetTokens::matchesTheWholeCandidateCountingRule_data() {
    QTest::addColumn<QString>("alphabet");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<QString>("quote");
    QTest::addColumn<QString>("closeQuote");

    const QString amp = u"&"_s;
    QTest::newRow("one-character quote") << u"ab&'"_s << amp << u"'"_s << QString();
    QTest::newRow("two-character quote") << u"a&'"_s << amp << u"''"_s << QString();
    QTest::newRow("quote holding the delimiter") << u"a&'"_s << amp << u"'&"_s << QString();
    QTest::newRow("quote straddling two delimiters") << u"a&'"_s << amp << u"&'&"_s << QString();
    QTest::newRow("self-overlapping quote") << u"a&"_s << amp << u"aa"_s << QString();
    QTest::newRow("brackets") << u"a&()"_s << amp << u"("_s << u")"_s;
    QTest::newRow("multi-character brackets") << u"a&<>"_s << amp << u"<&"_s << u"&>"_s;
    QTest::newRow("overlapping brackets") << u"a&"_s << amp << u"a&"_s << u"&a"_s;
    // With a longer delimiter a quote can straddle the old end of the candidate and the delimiter.
    QTest::newRow("quote straddling a longer delimiter") << u"a:"_s << u"::"_s << u"a:"_s << QString();
    QTest::newRow("quote spanning a longer delimiter") << u"a:'"_s << u"::"_s << u"':"_s << QString();
    QTest::newRow("brackets straddling a longer delimiter") << u"a:b"_s << u"::"_s << u"a:"_s << u":b"_s;
}

// Random texts over a small alphabet exercise every way a widening can add occurrences.
void TestGetTokens::matchesTheWholeCandidateCountingRule() {
    QFETCH(QString, alphabet);
    QFETCH(QString, delimiter);
    QFETCH(QString, quote);
    QFETCH(QString, closeQuote);

    QRandomGenerator random(20100506);
    for (int round = 0; round < 3000; ++round) {
        const QString text = randomText(random, alphabet, 14);
        const Split actual = splitWithGetTokens(text, delimiter, quote, closeQuote);
        Split expected = naiveSplit(text, delimiter, quote, closeQuote);
        if (delimiter.size() == 1) {
            const Split literal = referenceSplit(text, delimiter, quote, closeQuote);
            QVERIFY2(literal.tokens == expected.tokens && literal.failure == expected.failure,
                     qPrintable(text));
        }
        if (actual.tokens != expected.tokens || actual.failure != expected.failure)
            QFAIL(qPrintable(QStringLiteral("differs for text \"%1\"").arg(text)));
    }
}

void TestGetTokens::splitsLargeTexts() {
    // One quoted stretch holding a million delimiters must come back as a single token.
    const QString stretch = u"\""_s + u"x&"_s.repeated(1'000'000) + u"\""_s;
    QStringList tokens;
    RecordingWarningBox box;
    QCOMPARE(FuncLib::GetTokens(stretch + QStringLiteral("&tail"), QStringLiteral("&"), tokens,
                                QStringLiteral("\""), false, QString(), box),
             2);
    QCOMPARE(tokens.front(), stretch);
    QCOMPARE(tokens.back(), QStringLiteral("tail"));

    const QString many = QStringLiteral("k=\"v&w\"&").repeated(500'000);
    QCOMPARE(
        FuncLib::GetTokens(many, QStringLiteral("&"), tokens, QStringLiteral("\""), false, QString(), box),
        500'000);
    QCOMPARE(tokens.last(), QStringLiteral("k=\"v&w\""));

    // Failing at the very end of a long unbalanced stretch keeps everything before it.
    const QString unbalanced = u"a&\""_s + u"x&"_s.repeated(1'000'000);
    QCOMPARE(FuncLib::GetTokens(unbalanced, QStringLiteral("&"), tokens, QStringLiteral("\""), false,
                                QString(), box),
             0);
    QCOMPARE(tokens, QStringList{QStringLiteral("a")});
    QVERIFY(box.shown.size() == 1 && box.shown.front().text.endsWith(QStringLiteral("x&")));
}

void TestGetTokens::usesTheProcessBoxByDefault() {
    RecordingWarningBox box;
    Orvex::setProcessWarningBox(&box);
    QStringList tokens;
    const qint32 count = FuncLib::GetTokens(QStringLiteral("'"), QStringLiteral("&"), tokens,
                                            QStringLiteral("'"), false, QString());
    Orvex::setProcessWarningBox(nullptr);
    QCOMPARE(count, 0);
    QCOMPARE(box.shown.size(), 1);
}

QTEST_GUILESS_MAIN(TestGetTokens)
#include "tst_gettokens.moc"
