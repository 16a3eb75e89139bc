#include "gettokens.h"
#include "errortable.h"
#include "gettokens_p.h"

#include "automationerror.h"
#include "textutils.h"
#include "warningbox.h"

#include <QStringView>

#include <limits>

namespace FuncLib {

namespace {

using Orvex::AutomationError;

enum class Mode { Plain, Quote, Bracket };

// Counts the occurrences of a needle (overlapping ones too) that lie wholly inside a stretch that only
// grows at its end. Each extension looks at the new characters plus the few an occurrence may straddle,
// so widening a candidate again and again stays linear.
class OccurrenceCounter {
public:
    OccurrenceCounter(QStringView text, QStringView needle)
        : m_text(text)
        , m_needle(needle) {}

    void restartAt(qsizetype start) {
        m_nextStart = start;
        m_count = 0;
    }

    void extendTo(qsizetype end) {
        const qsizetype needleSize = m_needle.size();
        if (needleSize == 0 || end - m_nextStart < needleSize)
            return;
        const QStringView window = m_text.sliced(m_nextStart, end - m_nextStart);
        if (needleSize == 1) {
            m_count += window.count(m_needle.front());
        } else {
            for (qsizetype at = window.indexOf(m_needle); at >= 0; at = window.indexOf(m_needle, at + 1))
                ++m_count;
        }
        m_nextStart = end - needleSize + 1;
    }

    qsizetype count() const { return m_count; }

private:
    QStringView m_text;
    QStringView m_needle;
    qsizetype m_nextStart = 0;
    qsizetype m_count = 0;
};

class Splitter {
public:
    Splitter(QStringView text, QStringView delimiter, Mode mode, QStringView open, QStringView close,
             qsizetype positionLimit)
        : m_text(text)
        , m_delimiter(delimiter)
        , m_mode(mode)
        , m_opens(text, open)
        , m_closes(text, close)
        , m_positionLimit(positionLimit) {}

    // Stores each accepted token as it goes, so a failure leaves the tokens before it in place.
    void split(QStringList &tokens) {
        const qsizetype end = m_text.size();
        qsizetype start = 0;
        while (start < end) {
            m_opens.restartAt(start);
            m_closes.restartAt(start);
            qsizetype stop = nextDelimiter(start);
            while (!isBalancedUpTo(stop)) {
                const qsizetype resumeAt = searchFrom(stop);
                // Unbalanced at the end of the text, or at the text's own final delimiter: nothing follows
                // that could close the stretch.
                if (stop == end || resumeAt == end)
                    throw AutomationError::runtime(Orvex::ErrorNumber::InvalidProcedureCall);
                stop = nextDelimiter(resumeAt);
            }
            tokens.append(m_text.sliced(start, stop - start).toString());
            start = searchFrom(stop);
        }
    }

private:
    // The 1-based position in the working text, which has the delimiter in front.
    qsizetype workingPosition(qsizetype index) const { return m_delimiter.size() + index + 1; }

    // The end of the text stands for the delimiter added after it. A delimiter beyond the positions that
    // signed 32-bit arithmetic holds overflows.
    qsizetype nextDelimiter(qsizetype from) const {
        const qsizetype at = m_text.indexOf(m_delimiter, from);
        const qsizetype stop = at < 0 ? m_text.size() : at;
        if (workingPosition(stop) > m_positionLimit)
            throw AutomationError::runtime(Orvex::ErrorNumber::Overflow);
        return stop;
    }

    // Where the search goes on after the delimiter at stop. That position must fit too, even after the last
    // delimiter: one more search always follows it.
    qsizetype searchFrom(qsizetype stop) const {
        const qsizetype resumeAt = stop + m_delimiter.size();
        if (workingPosition(resumeAt) > m_positionLimit)
            throw AutomationError::runtime(Orvex::ErrorNumber::Overflow);
        return resumeAt;
    }

    bool isBalancedUpTo(qsizetype stop) {
        switch (m_mode) {
        case Mode::Plain:
            return true;
        case Mode::Quote:
            m_opens.extendTo(stop);
            return m_opens.count() % 2 == 0;
        case Mode::Bracket:
            m_opens.extendTo(stop);
            m_closes.extendTo(stop);
            return m_opens.count() == m_closes.count();
        }
        return true;
    }

    QStringView m_text;
    QStringView m_delimiter;
    Mode m_mode;
    OccurrenceCounter m_opens;
    OccurrenceCounter m_closes;
    qsizetype m_positionLimit;
};

bool endsInDelimiter(const QString &text, const QString &delimiter) {
    return text.isEmpty() || text.endsWith(delimiter);
}

// The text as the failure message shows it: the delimiter in front, and one after unless it already ends so.
QString workingText(const QString &text, const QString &delimiter) {
    return delimiter + text + (endsInDelimiter(text, delimiter) ? QString() : delimiter);
}

Mode modeFor(const QString &quote, const QString &closeQuote) {
    if (IsBlank(quote))
        return Mode::Plain;
    if (IsBlank(closeQuote))
        return Mode::Quote;
    // Equal opening and closing texts always balance.
    return quote == closeQuote ? Mode::Plain : Mode::Bracket;
}

} // namespace

namespace Detail {

qint32 getTokens(const QString &Text, const QString &Delimiter, QStringList &Tokens, const QString &Quote,
                 bool RaiseErrors, const QString &CloseQuote, Orvex::WarningBox &box,
                 qsizetype positionLimit) {
    // Private copies (cheap, shared), so that emptying Tokens cannot pull an argument from under us when
    // the caller passes one of its own tokens back in.
    const QString text = Text;
    const QString delimiter = Delimiter;
    const QString quote = Quote;
    const QString closeQuote = CloseQuote;

    Tokens.clear();
    try {
        // An empty delimiter would match everywhere and split nothing; it is the caller's mistake.
        if (delimiter.isEmpty())
            throw AutomationError::runtime(Orvex::ErrorNumber::InvalidProcedureCall);
        // A longer delimiter splits as a unit: tokens start after the whole delimiter, matches never overlap.
        Splitter(text, delimiter, modeFor(quote, closeQuote), quote, closeQuote, positionLimit).split(Tokens);
        return qint32(Tokens.size());
    } catch (const AutomationError &error) {
        if (RaiseErrors)
            throw;
        box.show(error.source(), QStringLiteral("(GetTokens) Error: ") + error.description() +
                                     QStringLiteral("\r\nLine: ") + workingText(text, delimiter));
        return 0;
    }
}

} // namespace Detail

qint32 GetTokens(const QString &Text, const QString &Delimiter, QStringList &Tokens, const QString &Quote,
                 bool RaiseErrors, const QString &CloseQuote) {
    return GetTokens(Text, Delimiter, Tokens, Quote, RaiseErrors, CloseQuote, Orvex::processWarningBox());
}

qint32 GetTokens(const QString &Text, const QString &Delimiter, QStringList &Tokens, const QString &Quote,
                 bool RaiseErrors, const QString &CloseQuote, Orvex::WarningBox &box) {
    return Detail::getTokens(Text, Delimiter, Tokens, Quote, RaiseErrors, CloseQuote, box,
                             std::numeric_limits<qint32>::max());
}

} // namespace FuncLib
