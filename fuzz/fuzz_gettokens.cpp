// FuncLib::GetTokens against the splitter's own algorithm, step by step, for one-character delimiters.
// Input: delimiter 0xFF quote 0xFF close-quote 0xFF text (UTF-8); missing parts are empty.

#include "fuzzsupport.h"

#include "automationerror.h"
#include "errortable.h"
#include "gettokens.h"
#include "textutils.h"
#include "warningbox.h"

#include <QStringList>

#include <optional>

namespace {

using Orvex::Fuzz::require;

class SilentBox final : public Orvex::WarningBox {
public:
    void show(const QString &, const QString &) override { ++shown; }
    int shown = 0;
};

struct Split {
    QStringList tokens;
    std::optional<qint32> error; // the error number of a failed split
};

qsizetype occurrences(const QString &text, const QString &find) {
    qsizetype count = 0;
    for (qsizetype at = text.indexOf(find); at >= 0 && !find.isEmpty(); at = text.indexOf(find, at + 1))
        ++count;
    return count;
}

// The algorithm as written down for the routine: a working text with a delimiter in front and one at
// the end, candidates between delimiters, widened while unbalanced.
Split model(const QString &text, const QString &delimiter, QString quote, QString closeQuote) {
    if (FuncLib::IsBlank(quote))
        closeQuote.clear();
    const bool quoteMode = !FuncLib::IsBlank(quote) && FuncLib::IsBlank(closeQuote);
    const bool bracketMode = !FuncLib::IsBlank(quote) && !FuncLib::IsBlank(closeQuote);
    const auto unbalanced = [&](const QString &candidate) {
        if (quoteMode)
            return occurrences(candidate, quote) % 2 != 0;
        if (bracketMode)
            return occurrences(candidate, quote) != occurrences(candidate, closeQuote);
        return false;
    };

    QString working = delimiter + text;
    if (working.back() != delimiter.front())
        working += delimiter;
    Split split;
    qsizetype previous = 0;
    qsizetype position = 0;
    while ((position = working.indexOf(delimiter, position + 1)) >= 0) {
        QString candidate = working.mid(previous + 1, position - previous - 1);
        while (unbalanced(candidate)) {
            position = working.indexOf(delimiter, position + 1);
            if (position < 0) {
                split.error = Orvex::ErrorNumber::InvalidProcedureCall;
                return split;
            }
            candidate = working.mid(previous + 1, position - previous - 1);
        }
        split.tokens.append(candidate);
        previous = position;
    }
    return split;
}

QString describe(const QStringList &tokens) {
    return u'[' + tokens.join(QStringLiteral("] [")) + u']';
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Orvex::Fuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QList<QByteArray> parts = Orvex::Fuzz::fields(data, size);
    const QString delimiter = QString::fromUtf8(parts.value(0));
    const QString quote = QString::fromUtf8(parts.value(1));
    const QString closeQuote = QString::fromUtf8(parts.value(2));
    const QString text = QString::fromUtf8(parts.value(3));

    // Raised errors.
    QStringList raised;
    std::optional<qint32> raisedError;
    qint32 raisedCount = 0;
    try {
        raisedCount = FuncLib::GetTokens(text, delimiter, raised, quote, true, closeQuote);
    } catch (const Orvex::AutomationError &error) {
        raisedError = error.number();
    }
    require(!raisedError || *raisedError == Orvex::ErrorNumber::InvalidProcedureCall ||
                *raisedError == Orvex::ErrorNumber::Overflow,
            "only invalid-argument and overflow errors");
    require(raisedError || raisedCount == raised.size(), "the count is the number of tokens");

    // The same split, shown in a box instead.
    SilentBox box;
    QStringList shown;
    const qint32 shownCount = FuncLib::GetTokens(text, delimiter, shown, quote, false, closeQuote, box);
    require(shown == raised, "a box or a raised error leaves the same tokens");
    require(raisedError ? (shownCount == 0 && box.shown == 1) : (shownCount == raisedCount && box.shown == 0),
            "a failure shown in the box counts 0");

    if (delimiter.size() != 1)
        return 0; // no caller passes another, and nothing fixes what one should give
    const Split expected = model(text, delimiter, quote, closeQuote);
    require(expected.tokens == raised && expected.error == raisedError, "tokens as the algorithm cuts them",
            QStringLiteral("expected %1%2, got %3%4")
                .arg(describe(expected.tokens), expected.error ? QStringLiteral(" then error") : QString(),
                     describe(raised), raisedError ? QStringLiteral(" then error") : QString()));
    if (!raisedError) {
        // Nothing is lost or added between the delimiters.
        const QString whole = text.endsWith(delimiter) ? text.chopped(1) : text;
        require(raised.join(delimiter) == whole, "the tokens joined give the text back");
    }
    return 0;
}
