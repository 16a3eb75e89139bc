#include "likelyname.h"

#include <QList>

#include <algorithm>
#include <numeric>

namespace Orvex {

namespace {

// The letters and digits, case folded: import_url, IMPORT-URL and ImportUrl are one.
QString foldedLetters(QStringView text) {
    QString kept;
    for (const QChar c : text) {
        if (c.isLetterOrNumber())
            kept.append(c);
    }
    return kept.toCaseFolded();
}

// Slips to make a into b: a character inserted, dropped or changed, or two neighbours swapped (the optimal
// string alignment distance: no character is edited twice).
qsizetype slips(const QString &a, const QString &b) {
    // Three rows of the table: two back, the one before, and the one being filled.
    QList<qsizetype> twoBack(b.size() + 1);
    QList<qsizetype> previous(b.size() + 1);
    QList<qsizetype> current(b.size() + 1);
    std::iota(previous.begin(), previous.end(), 0);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype changed = a[i - 1] == b[j - 1] ? 0 : 1;
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + changed});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                current[j] = std::min(current[j], twoBack[j - 2] + 1);
        }
        std::swap(twoBack, previous);
        std::swap(previous, current);
    }
    return previous[b.size()];
}

// A swapped pair of neighbours and nothing else, the commonest slip of the hand.
bool isOneSwap(const QString &a, const QString &b) {
    if (a.size() != b.size())
        return false;
    qsizetype first = 0;
    while (first < a.size() && a[first] == b[first])
        ++first;
    return first + 1 < a.size() && a[first] == b[first + 1] && a[first + 1] == b[first] &&
           QStringView(a).sliced(first + 2) == QStringView(b).sliced(first + 2);
}

// Slips allowed in a name of length letters: none up to four, where one changed letter already makes
// another word (east, west), then one for every three letters, at most three.
qsizetype slipsAllowed(qsizetype length) {
    constexpr qsizetype ShortestWithSlips = 5;
    constexpr qsizetype MostSlips = 3;
    return length < ShortestWithSlips ? 0 : std::min(MostSlips, length / 3);
}

} // namespace

std::optional<QString> likelyName(QStringView typed, const QStringList &names) {
    const QString folded = foldedLetters(typed);
    if (folded.isEmpty())
        return std::nullopt;
    const QString *best = nullptr;
    qsizetype bestSlips = 0;
    for (const QString &name : names) {
        const QString candidate = foldedLetters(name);
        const qsizetype distance = slips(candidate, folded);
        const bool close = distance <= slipsAllowed(candidate.size()) || isOneSwap(candidate, folded);
        if (close && (!best || distance < bestSlips)) {
            best = &name;
            bestSlips = distance;
        }
    }
    return best ? std::optional<QString>(*best) : std::nullopt;
}

} // namespace Orvex
